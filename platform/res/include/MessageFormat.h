// Filling the placeholders of a message text from a resource.
//
// A resource text is never a printf format. Its placeholders are written
// %<n><kind>: n a digit 1 to 9 naming the argument, kind 'd' for a number
// or 's' for a text ("Record %1d of %2d", "Cannot open %1s."); "%%" is a
// percent sign. Each placeholder is checked against the argument given: a
// missing argument or one of the other kind is an error, and so is any
// other use of '%'. Placeholders may come in any order and repeat.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "Status.h"

namespace tbm::res {

struct MessageArgument {
  std::variant<std::int64_t, std::u16string> value;

  static MessageArgument Number(std::int64_t n) { return {n}; }
  static MessageArgument Text(std::u16string text) { return {std::move(text)}; }
};

// Writes text with its placeholders filled into *out. On an error *out is
// empty and the status is kInvalidArgument, naming the placeholder.
Status FormatMessageText(std::u16string_view text, std::span<const MessageArgument> arguments,
                         std::u16string* out);

// Checks that text's placeholders are all well formed and use exactly the
// kinds given (kinds[i] = 'd' or 's' for argument i + 1); for the build's
// check of every language's messages against English.
Status CheckMessageText(std::u16string_view text, std::u16string_view kinds);

}  // namespace tbm::res
