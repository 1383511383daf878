// The outcome of every exchange-file and text-conversion call: success, or
// the kind of failure together with a sentence for a person that names what
// was wrong and where ("record 12, field 3: the text length 70000 is larger
// than the field allows (at most 2048 bytes)").
//
// Errors are values; nothing in this library throws on bad input.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace tbm::sync {

enum class ExchangeError {
  kNone = 0,
  // The bytes ended before the layout said they would (a short read).
  kTruncated,
  // The sink took fewer bytes than it was given, or could not be flushed.
  kWriteFailed,
  // A field count, record count or value-list count outside its range.
  kBadCount,
  // A text length that is negative or larger than the caller allows.
  kBadLength,
  // A counted string whose length byte says more than its slot can hold.
  kBadCountedString,
  // Any other broken structure: a text without its terminating zero, a
  // value-list index that names no list.
  kCorrupt,
  // A character that the ANSI code page cannot represent.
  kUnconvertibleText,
  // Bytes that are not valid text in the ANSI code page.
  kInvalidText,
  // A code page name or number that is unknown or not usable for exchange
  // files.
  kUnknownCodePage,
  // The caller broke a call's contract (calls out of order, a value count
  // that differs from the field count, a key too long for its slot).
  kInvalidArgument,
};

class ExchangeStatus {
 public:
  // Success.
  ExchangeStatus() = default;
  ExchangeStatus(ExchangeError error, std::string message)
      : error_(error), message_(std::move(message)) {}

  bool ok() const { return error_ == ExchangeError::kNone; }
  ExchangeError error() const { return error_; }
  // Empty on success.
  const std::string& message() const { return message_; }

  // The same failure with "<where>: " put in front of its sentence, so a
  // caller can say which text failed ("record 3, field 2: ..."). Success
  // stays success.
  ExchangeStatus WithContext(std::string_view where) const;

 private:
  ExchangeError error_ = ExchangeError::kNone;
  std::string message_;
};

}  // namespace tbm::sync
