#include "MessageFormat.h"

#include <string>

namespace tbm::res {
namespace {

struct Placeholder {
  int argument = 0;   // 1 to 9
  char16_t kind = 0;  // 'd' or 's'
};

std::string Describe(const Placeholder& placeholder) {
  return std::string("%") + static_cast<char>('0' + placeholder.argument) +
         static_cast<char>(placeholder.kind);
}

// Walks text piece by piece: literal runs go to literal(), each placeholder
// to placeholder() (which may stop the walk with a failure). A '%' that
// starts neither "%%" nor a placeholder stops it with kInvalidArgument.
template <typename Literal, typename OnPlaceholder>
Status Walk(std::u16string_view text, Literal literal, OnPlaceholder placeholder) {
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != u'%') continue;
    literal(text.substr(runStart, i - runStart));
    if (i + 1 < text.size() && text[i + 1] == u'%') {
      literal(u"%");
      ++i;
    } else if (i + 2 < text.size() && text[i + 1] >= u'1' && text[i + 1] <= u'9' &&
               (text[i + 2] == u'd' || text[i + 2] == u's')) {
      Status status = placeholder(Placeholder{text[i + 1] - u'0', text[i + 2]});
      if (!status.ok()) return status;
      i += 2;
    } else {
      return Status(StatusCode::kInvalidArgument,
                    "the '%' at character " + std::to_string(i + 1) +
                        " is neither \"%%\" nor a placeholder such as %1d or %1s");
    }
    runStart = i + 1;
  }
  literal(text.substr(runStart));
  return Status();
}

std::u16string NumberText(std::int64_t number) {
  const std::string digits = std::to_string(number);
  return std::u16string(digits.begin(), digits.end());
}

}  // namespace

Status FormatMessageText(std::u16string_view text, std::span<const MessageArgument> arguments,
                         std::u16string* out) {
  std::u16string result;
  Status status = Walk(
      text, [&](std::u16string_view run) { result.append(run); },
      [&](const Placeholder& placeholder) {
        const auto index = static_cast<std::size_t>(placeholder.argument - 1);
        if (index >= arguments.size())
          return Status(StatusCode::kInvalidArgument,
                        "placeholder " + Describe(placeholder) + " names argument " +
                            std::to_string(placeholder.argument) + ", but " +
                            std::to_string(arguments.size()) + " were given");
        const auto& value = arguments[index].value;
        if (placeholder.kind == u'd') {
          if (const auto* number = std::get_if<std::int64_t>(&value)) {
            result += NumberText(*number);
            return Status();
          }
          return Status(StatusCode::kInvalidArgument,
                        "placeholder " + Describe(placeholder) + " wants a number, but argument " +
                            std::to_string(placeholder.argument) + " is a text");
        }
        if (const auto* words = std::get_if<std::u16string>(&value)) {
          result += *words;
          return Status();
        }
        return Status(StatusCode::kInvalidArgument,
                      "placeholder " + Describe(placeholder) + " wants a text, but argument " +
                          std::to_string(placeholder.argument) + " is a number");
      });
  if (!status.ok()) {
    out->clear();
    return status;
  }
  *out = std::move(result);
  return Status();
}

Status CheckMessageText(std::u16string_view text, std::u16string_view kinds) {
  for (const char16_t kind : kinds) {
    if (kind != u'd' && kind != u's')
      return Status(StatusCode::kInvalidArgument,
                    "argument kinds may only be 'd' (number) and 's' (text)");
  }
  return Walk(
      text, [](std::u16string_view) {},
      [&](const Placeholder& placeholder) {
        const auto index = static_cast<std::size_t>(placeholder.argument - 1);
        if (index >= kinds.size())
          return Status(StatusCode::kInvalidArgument,
                        "placeholder " + Describe(placeholder) + " names argument " +
                            std::to_string(placeholder.argument) + ", but the message has " +
                            std::to_string(kinds.size()));
        if (kinds[index] != placeholder.kind)
          return Status(StatusCode::kInvalidArgument,
                        "placeholder " + Describe(placeholder) + " should be %" +
                            std::to_string(placeholder.argument) + static_cast<char>(kinds[index]));
        return Status();
      });
}

Status MessagePlaceholders(std::u16string_view text, std::u16string* kinds) {
  std::u16string used;
  Status status = Walk(
      text, [](std::u16string_view) {},
      [&](const Placeholder& placeholder) {
        const auto index = static_cast<std::size_t>(placeholder.argument - 1);
        if (used.size() <= index) used.resize(index + 1, u'-');
        if (used[index] != u'-' && used[index] != placeholder.kind)
          return Status(StatusCode::kInvalidArgument,
                        "argument " + std::to_string(placeholder.argument) +
                            " is used both as a number and as a text");
        used[index] = placeholder.kind;
        return Status();
      });
  if (!status.ok()) {
    kinds->clear();
    return status;
  }
  *kinds = std::move(used);
  return Status();
}

}  // namespace tbm::res
