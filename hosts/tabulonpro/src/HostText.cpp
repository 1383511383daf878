#include "HostText.h"

#include <algorithm>

#include "Utf16.h"

namespace tbm::tabulonpro {

namespace {

// Every line break (CR LF, CR, LF) as one `lineBreak`.
template <typename Text>
Text WithLineBreaks(std::basic_string_view<typename Text::value_type> text,
                    typename Text::value_type lineBreak) {
  if (std::none_of(text.begin(), text.end(), [](auto c) { return c == '\r' || c == '\n'; })) {
    return Text(text);
  }
  Text out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += lineBreak;
    } else if (c == '\n') {
      out += lineBreak;
    } else {
      out += c;
    }
  }
  return out;
}

// Whether bytes are UTF-8 that converts to UTF-16 and back unchanged.
bool IsUtf8(std::string_view bytes) { return Utf16ToUtf8(Utf8ToUtf16(bytes)) == bytes; }

// A conversion failure named after the form rather than its code page.
Status InFormWords(const Status& failure, const std::string& pageName, const std::string& form) {
  std::string message = failure.message();
  const std::string page = "code page " + pageName;
  if (const std::size_t at = message.find(page); at != std::string::npos) {
    message.replace(at, page.size(), form);
  }
  return Status(failure.code(), message);
}

bool IsAscii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

HostTextForm::HostTextForm(std::unique_ptr<sync::AnsiCodePage> page, std::string name)
    : page_(std::move(page)), name_(std::move(name)) {
  std::u16string ascii;
  for (char16_t c = 1; c < 0x80; ++c) ascii += c;
  std::string bytes;
  asciiAsIs_ = page_->ToAnsi(ascii, &bytes).ok() && bytes == Utf16ToUtf8(ascii);
}

Status HostTextForm::OpenSystem(std::unique_ptr<HostTextForm>* out) {
  out->reset();
  std::unique_ptr<sync::AnsiCodePage> system;
  if (Status s = sync::AnsiCodePage::OpenSystem(&system); !s.ok()) return s;
  const std::uint32_t number = system->windowsNumber();
  if (number == 932 || number == 936 || number == 949 || number == 950) {
    const std::string name = system->name();
    out->reset(new HostTextForm(std::move(system), name));
    return {};
  }
  std::unique_ptr<sync::AnsiCodePage> roman;
  if (Status s = sync::AnsiCodePage::Open("macintosh", &roman); !s.ok()) return s;
  out->reset(new HostTextForm(std::move(roman), "Mac OS Roman"));
  return {};
}

Status HostTextForm::ToHost(std::string_view utf8, std::string* bytes) {
  bytes->clear();
  if (asciiAsIs_ && IsAscii(utf8)) {
    *bytes = WithLineBreaks<std::string>(utf8, '\r');
    return {};
  }
  if (!IsUtf8(utf8)) {
    return Status(StatusCode::kInvalidText,
                  "the text is not UTF-8, so it has no " + name_ + " form");
  }
  const std::u16string text = WithLineBreaks<std::u16string>(Utf8ToUtf16(utf8), u'\r');
  if (Status s = page_->ToAnsi(text, bytes); !s.ok()) return InFormWords(s, page_->name(), name_);
  return {};
}

Status HostTextForm::FromHost(std::string_view bytes, std::string* utf8) {
  utf8->clear();
  if (asciiAsIs_ && IsAscii(bytes)) {
    *utf8 = WithLineBreaks<std::string>(bytes, '\n');
    return {};
  }
  std::u16string text;
  if (Status s = page_->ToUtf16(bytes, &text); !s.ok()) return InFormWords(s, page_->name(), name_);
  *utf8 = Utf16ToUtf8(WithLineBreaks<std::u16string>(text, u'\n'));
  return {};
}

}  // namespace tbm::tabulonpro
