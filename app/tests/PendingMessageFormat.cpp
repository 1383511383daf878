// The message formatter of MessageFormat.h, for this test program while
// the resource library does not define it yet: the same rules, checked the
// same way.
#include <string>

#include "MessageFormat.h"

namespace tbm::res {

namespace {

// Walks text's placeholders: calls literal(c) for each character and
// placeholder(index, kind) for each %<n><kind>. A broken one gives a
// failure naming its offset.
template <typename Literal, typename Placeholder>
Status Walk(std::u16string_view text, Literal literal, Placeholder placeholder) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'%') {
      literal(text[i]);
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == u'%') {
      literal(u'%');
      ++i;
      continue;
    }
    if (i + 2 >= text.size() || text[i + 1] < u'1' || text[i + 1] > u'9' ||
        (text[i + 2] != u'd' && text[i + 2] != u's')) {
      return Status(StatusCode::kInvalidArgument,
                    "a '%' at " + std::to_string(i) + " is no placeholder %<1-9><d|s>");
    }
    if (Status s = placeholder(static_cast<std::size_t>(text[i + 1] - u'1'), text[i + 2], i);
        !s.ok())
      return s;
    i += 2;
  }
  return Status();
}

}  // namespace

Status FormatMessageText(std::u16string_view text, std::span<const MessageArgument> arguments,
                         std::u16string* out) {
  std::u16string result;
  Status status = Walk(
      text, [&](char16_t c) { result.push_back(c); },
      [&](std::size_t index, char16_t kind, std::size_t at) -> Status {
        const std::string where = "the placeholder at " + std::to_string(at);
        if (index >= arguments.size())
          return Status(StatusCode::kInvalidArgument, where + " has no argument");
        const auto& value = arguments[index].value;
        if (kind == u'd') {
          if (!std::holds_alternative<std::int64_t>(value))
            return Status(StatusCode::kInvalidArgument, where + " wants a number");
          for (char c : std::to_string(std::get<std::int64_t>(value))) result.push_back(c);
        } else {
          if (!std::holds_alternative<std::u16string>(value))
            return Status(StatusCode::kInvalidArgument, where + " wants a text");
          result += std::get<std::u16string>(value);
        }
        return Status();
      });
  out->clear();
  if (status.ok()) *out = std::move(result);
  return status;
}

Status CheckMessageText(std::u16string_view text, std::u16string_view kinds) {
  return Walk(
      text, [](char16_t) {},
      [&](std::size_t index, char16_t kind, std::size_t at) -> Status {
        if (index >= kinds.size() || kinds[index] != kind)
          return Status(StatusCode::kInvalidArgument,
                        "the placeholder at " + std::to_string(at) + " does not match");
        return Status();
      });
}

}  // namespace tbm::res
