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
// kinds given (kinds[i] = 'd' or 's' for argument i + 1): every placeholder
// names one of those arguments with its kind. An argument the text does not
// use is no error (a translation may name the database once where English
// passes its path twice). kInvalidArgument, naming the placeholder, when
// the text does not fit; also when kinds holds anything but 'd' and 's'.
Status CheckMessageText(std::u16string_view text, std::u16string_view kinds);

// The placeholders text uses, as a kinds string: kinds[n - 1] is 'd' or 's'
// for argument n and '-' for an argument the text leaves out, up to the
// highest argument used (empty for a text without placeholders). For the
// build's check that every language's message uses the same arguments as
// English. kInvalidArgument when a placeholder is malformed or one
// argument is used as both kinds; *kinds is then empty.
Status MessagePlaceholders(std::u16string_view text, std::u16string* kinds);

}  // namespace tbm::res
