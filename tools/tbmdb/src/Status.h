// How tbmdb's steps report: success, or one line a person reads that names
// the file and says what went wrong and, where it can, what to do.
#pragma once

#include <string>
#include <utility>

namespace tbm::tbmdb {

class Status {
 public:
  Status() = default;
  static Status Error(std::string message) { return Status(std::move(message)); }

  bool ok() const { return message_.empty(); }
  const std::string& message() const { return message_; }

 private:
  explicit Status(std::string message) : message_(std::move(message)) {}
  std::string message_;
};

}  // namespace tbm::tbmdb
