// The outcome of an operation inside Tabulon Mobile's own C++ code: success,
// or a kind of failure with a sentence for a person that names what was
// wrong and where, and, for a failure the platform reported, the platform's
// error number. A status gains context on its way up ("record 12, field 3:
// the text length 70000 is larger than the field allows").
//
// Errors are values: the code that returns a Status does not throw on bad
// input.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace tbm {

enum class StatusCode : std::uint8_t {
  kOk = 0,
  // Any failure without a kind of its own; the message says what it was.
  kFailed,
  // The caller broke a call's contract (calls out of order, a value count
  // that differs from the field count, a name too long for its slot), or a
  // person gave a value that is not acceptable.
  kInvalidArgument,
  // A file, database, record or field that does not exist.
  kNotFound,
  // Another program holds what the operation needs; trying again later may
  // succeed.
  kBusy,
  // The disk or the store is full.
  kNoSpace,
  // This user may not read or change it.
  kNoPermission,
  // Stored bytes that are not what they should be.
  kDamaged,
  // The memory ran out.
  kNoMemory,
  // Reading or writing failed for a reason of the host's.
  kIoFailed,
  // The bytes ended before the layout said they would (a short read).
  kTruncated,
  // The sink took fewer bytes than it was given, or could not be flushed.
  kWriteFailed,
  // A field count, record count or value-list count outside its range.
  kBadCount,
  // A length that is negative or larger than the caller allows.
  kBadLength,
  // A counted string whose length byte says more than its slot can hold.
  kBadCountedString,
  // Any other broken structure in bytes read from elsewhere.
  kCorrupt,
  // A character that the ANSI code page cannot represent.
  kUnconvertibleText,
  // Bytes that are not valid text in the ANSI code page.
  kInvalidText,
  // A code page name or number that is unknown or not usable.
  kUnknownCodePage,
};

class Status {
 public:
  // Success.
  Status() = default;
  Status(StatusCode code, std::string message, std::uint32_t platformError = 0)
      : code_(code), message_(std::move(message)), platformError_(platformError) {}
  // A failure without a kind of its own.
  static Status Error(std::string message) {
    return Status(StatusCode::kFailed, std::move(message));
  }

  bool ok() const { return code_ == StatusCode::kOk; }
  StatusCode code() const { return code_; }
  // Empty on success.
  const std::string& message() const { return message_; }
  // The platform's error number behind the failure, 0 when there is none.
  std::uint32_t platformError() const { return platformError_; }

  // The same failure with "<where>: " put in front of its sentence. Success
  // stays success.
  Status WithContext(std::string_view where) const {
    if (ok()) return *this;
    std::string message(where);
    message += ": ";
    message += message_;
    return Status(code_, std::move(message), platformError_);
  }

 private:
  StatusCode code_ = StatusCode::kOk;
  std::string message_;
  std::uint32_t platformError_ = 0;
};

}  // namespace tbm
