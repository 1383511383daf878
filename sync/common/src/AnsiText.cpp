#include "AnsiText.h"

#include <unicode/ucnv.h>
#include <unicode/utf16.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace tbm::sync {

namespace {

// Text that must convert to and from its own ASCII bytes in every code page
// an exchange file may use: the line breaks and the characters of names.
constexpr char16_t kAsciiProbe[] =
    u"\t\n\r 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz.:/-";

bool IsStateful(UConverterType type) {
  switch (type) {
    case UCNV_ISO_2022:
    case UCNV_HZ:
    case UCNV_EBCDIC_STATEFUL:
    case UCNV_SCSU:
    case UCNV_BOCU1:
    case UCNV_UTF7:
    case UCNV_IMAP_MAILBOX:
    case UCNV_ISCII:
    case UCNV_LMBCS_1:
    case UCNV_LMBCS_2:
    case UCNV_LMBCS_3:
    case UCNV_LMBCS_4:
    case UCNV_LMBCS_5:
    case UCNV_LMBCS_6:
    case UCNV_LMBCS_8:
    case UCNV_LMBCS_11:
    case UCNV_LMBCS_16:
    case UCNV_LMBCS_17:
    case UCNV_LMBCS_18:
    case UCNV_LMBCS_19:
      return true;
    default:
      return false;
  }
}

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string Hex(std::uint32_t value, int digits) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*X", digits, static_cast<unsigned>(value));
  return buffer;
}

// "character 6" or "line 2, character 3": where in a text a character sits,
// counted in characters (not code units) and by line for multi-line text.
std::string PlaceInText(std::u16string_view text, std::size_t unit) {
  std::size_t line = 1;
  std::size_t column = 1;
  bool multiLine = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\n' || (text[i] == u'\r' && (i + 1 >= text.size() || text[i + 1] != u'\n'))) {
      multiLine = true;
    }
  }
  for (std::size_t i = 0; i < unit && i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\n' || (c == u'\r' && (i + 1 >= text.size() || text[i + 1] != u'\n'))) {
      ++line;
      column = 1;
    } else if (c != u'\r' && !U16_IS_TRAIL(c)) {
      ++column;
    }
  }
  const std::string character = "character " + std::to_string(column);
  return multiLine ? "line " + std::to_string(line) + ", " + character : character;
}

// Every line break (CR LF, LF, lone CR) as `lineBreak`.
std::u16string NormaliseLineBreaks(std::u16string_view text, std::u16string_view lineBreak) {
  std::u16string out;
  out.reserve(text.size() + text.size() / 8);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\r') {
      if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      out += lineBreak;
    } else if (c == u'\n') {
      out += lineBreak;
    } else {
      out += c;
    }
  }
  return out;
}

// Runs one ICU conversion step into out, from target on; when out fills up
// it is doubled (target moved along with it) and the step runs again. The
// step converts up to the limit it is given. Returns the step's final
// status.
template <typename Text, typename Step>
UErrorCode ConvertGrowing(Text& out, typename Text::value_type*& target, Step step) {
  UErrorCode error = U_ZERO_ERROR;
  for (;;) {
    step(out.data() + out.size(), &error);
    if (error != U_BUFFER_OVERFLOW_ERROR) return error;
    const std::size_t used = static_cast<std::size_t>(target - out.data());
    out.resize(out.size() * 2);
    target = out.data() + used;
    error = U_ZERO_ERROR;
  }
}

}  // namespace

AnsiCodePage::AnsiCodePage(UConverter* converter, std::string name, std::uint32_t windowsNumber)
    : converter_(converter), name_(std::move(name)), windowsNumber_(windowsNumber) {}

AnsiCodePage::~AnsiCodePage() { ucnv_close(converter_); }

Status AnsiCodePage::OpenSystem(std::unique_ptr<AnsiCodePage>* out) {
  const char* value = std::getenv(kEnvironmentVariable);
  if (value == nullptr || *value == '\0') return Open(kDefaultName, out);
  Status status = Open(value, out);
  if (status.ok()) return status;
  return status.WithContext(std::string("the setting ") + kEnvironmentVariable);
}

// Opens the converter, then makes sure the code page can carry exchange
// texts: one byte per ASCII character, LF and zero meaning themselves, no
// shift states that would make a byte's meaning depend on the bytes before.
Status AnsiCodePage::Open(std::string_view name, std::unique_ptr<AnsiCodePage>* out) {
  out->reset();
  const std::string requested(name);
  const std::string icuName = AllDigits(requested) ? "windows-" + requested : requested;
  UErrorCode error = U_ZERO_ERROR;
  UConverter* converter = ucnv_open(icuName.c_str(), &error);
  if (U_FAILURE(error) || converter == nullptr || requested.empty()) {
    if (converter != nullptr) ucnv_close(converter);
    return Status(StatusCode::kUnknownCodePage, "the code page \"" + requested + "\" is not known");
  }

  std::uint32_t windowsNumber = 0;
  std::string display = requested;
  UErrorCode nameError = U_ZERO_ERROR;
  const char* canonical = ucnv_getName(converter, &nameError);
  if (U_SUCCESS(nameError)) {
    UErrorCode standardError = U_ZERO_ERROR;
    const char* windowsName = ucnv_getStandardName(canonical, "WINDOWS", &standardError);
    if (U_SUCCESS(standardError) && windowsName != nullptr) {
      const std::string_view windows(windowsName);
      constexpr std::string_view kPrefix = "windows-";
      if (windows.substr(0, kPrefix.size()) == kPrefix &&
          AllDigits(windows.substr(kPrefix.size()))) {
        windowsNumber = static_cast<std::uint32_t>(
            std::strtoul(std::string(windows.substr(kPrefix.size())).c_str(), nullptr, 10));
        display = std::string(windows);
      }
    }
  }

  std::unique_ptr<AnsiCodePage> page(new AnsiCodePage(converter, display, windowsNumber));
  UErrorCode callbackError = U_ZERO_ERROR;
  ucnv_setFromUCallBack(converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                        &callbackError);
  ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr,
                      &callbackError);
  ucnv_setFallback(converter, false);

  const std::u16string_view probe(kAsciiProbe);
  std::string probeBytes;
  std::u16string probeBack;
  const bool asciiSafe = U_SUCCESS(callbackError) && ucnv_getMinCharSize(converter) == 1 &&
                         !IsStateful(ucnv_getType(converter)) &&
                         page->ToAnsi(probe, &probeBytes).ok() &&
                         probeBytes == std::string(probe.begin(), probe.end()) &&
                         page->ToUtf16(probeBytes, &probeBack).ok() && probeBack == probe;
  if (!asciiSafe) {
    return Status(StatusCode::kUnknownCodePage,
                  "the code page \"" + requested +
                      "\" cannot carry exchange files: it does not keep ASCII characters "
                      "as single bytes");
  }
  *out = std::move(page);
  return Status();
}

Status AnsiCodePage::ToAnsi(std::u16string_view text, std::string* bytes) {
  bytes->clear();
  ucnv_resetFromUnicode(converter_);
  // Each code unit gives at most the code page's longest character; the
  // loop below grows the buffer should that ever fall short.
  std::string out(text.size() * static_cast<std::size_t>(ucnv_getMaxCharSize(converter_)) + 16,
                  '\0');
  const UChar* source = text.data();
  const UChar* sourceLimit = text.data() + text.size();
  char* target = out.data();
  const UErrorCode error = ConvertGrowing(out, target, [&](char* limit, UErrorCode* status) {
    ucnv_fromUnicode(converter_, &target, limit, &source, sourceLimit, nullptr, true, status);
  });
  if (U_FAILURE(error)) {
    UChar invalid[8];
    int8_t invalidLength = static_cast<int8_t>(sizeof invalid / sizeof invalid[0]);
    UErrorCode ignored = U_ZERO_ERROR;
    ucnv_getInvalidUChars(converter_, invalid, &invalidLength, &ignored);
    if (U_FAILURE(ignored)) invalidLength = 0;
    const std::size_t at =
        static_cast<std::size_t>(source - text.data()) - static_cast<std::size_t>(invalidLength);
    ucnv_resetFromUnicode(converter_);
    if (invalidLength == 0 || at >= text.size()) {
      return Status(StatusCode::kUnconvertibleText,
                    "the text cannot be written in code page " + name_);
    }
    const char16_t first = text[at];
    if (U16_IS_SURROGATE(first) && invalidLength == 1) {
      return Status(StatusCode::kUnconvertibleText,
                    "the text holds a broken character (a lone surrogate U+" + Hex(first, 4) +
                        ") at " + PlaceInText(text, at));
    }
    UChar32 character = first;
    if (U16_IS_LEAD(first) && invalidLength == 2)
      character = U16_GET_SUPPLEMENTARY(first, invalid[1]);
    return Status(StatusCode::kUnconvertibleText,
                  "the character U+" + Hex(static_cast<std::uint32_t>(character), 4) + " at " +
                      PlaceInText(text, at) + " cannot be written in code page " + name_);
  }
  out.resize(static_cast<std::size_t>(target - out.data()));
  *bytes = std::move(out);
  return Status();
}

Status AnsiCodePage::ToUtf16(std::string_view bytes, std::u16string* text) {
  text->clear();
  ucnv_resetToUnicode(converter_);
  std::u16string out(bytes.size() + 16, u'\0');
  const char* source = bytes.data();
  const char* sourceLimit = bytes.data() + bytes.size();
  UChar* target = out.data();
  const UErrorCode error = ConvertGrowing(out, target, [&](UChar* limit, UErrorCode* status) {
    ucnv_toUnicode(converter_, &target, limit, &source, sourceLimit, nullptr, true, status);
  });
  if (U_FAILURE(error)) {
    char invalid[32];
    int8_t invalidLength = static_cast<int8_t>(sizeof invalid);
    UErrorCode ignored = U_ZERO_ERROR;
    ucnv_getInvalidChars(converter_, invalid, &invalidLength, &ignored);
    if (U_FAILURE(ignored)) invalidLength = 0;
    const std::size_t at =
        static_cast<std::size_t>(source - bytes.data()) - static_cast<std::size_t>(invalidLength);
    ucnv_resetToUnicode(converter_);
    std::string shown;
    for (int i = 0; i < invalidLength; ++i) {
      if (i > 0) shown += ' ';
      shown += "0x" + Hex(static_cast<std::uint8_t>(invalid[i]), 2);
    }
    if (shown.empty()) shown = "bytes";
    const std::string where = "at byte " + std::to_string(at + 1);
    const std::string what = error == U_TRUNCATED_CHAR_FOUND
                                 ? "the text ends inside a character (" + shown + " " + where + ")"
                                 : (invalidLength == 1 ? "the byte " : "the bytes ") + shown + " " +
                                       where + (invalidLength == 1 ? " is" : " are") + " not valid";
    return Status(StatusCode::kInvalidText, what + " in code page " + name_);
  }
  out.resize(static_cast<std::size_t>(target - out.data()));
  *text = std::move(out);
  return Status();
}

Status AnsiCodePage::ToExchangeText(std::u16string_view text, std::string* bytes) {
  return ToAnsi(NormaliseLineBreaks(text, u"\n"), bytes);
}

Status AnsiCodePage::FromExchangeText(std::string_view bytes, std::u16string* text) {
  std::u16string plain;
  Status status = ToUtf16(bytes, &plain);
  if (!status.ok()) {
    text->clear();
    return status;
  }
  *text = NormaliseLineBreaks(plain, u"\r\n");
  return status;
}

// Walks the characters from the start and stops before the first one that
// would end beyond maxBytes. Single-byte code pages need no walk.
std::size_t AnsiCodePage::FittingLength(std::string_view bytes, std::size_t maxBytes) {
  if (bytes.size() <= maxBytes) return bytes.size();
  if (ucnv_getMaxCharSize(converter_) == 1) return maxBytes;
  ucnv_resetToUnicode(converter_);
  const char* begin = bytes.data();
  const char* source = begin;
  const char* limit = begin + bytes.size();
  std::size_t fitting = 0;
  while (source < limit) {
    const char* before = source;
    UErrorCode error = U_ZERO_ERROR;
    ucnv_getNextUChar(converter_, &source, limit, &error);
    if (U_FAILURE(error)) {
      ucnv_resetToUnicode(converter_);
      source = before + 1;
    }
    if (static_cast<std::size_t>(source - begin) > maxBytes) break;
    fitting = static_cast<std::size_t>(source - begin);
  }
  ucnv_resetToUnicode(converter_);
  return fitting;
}

}  // namespace tbm::sync
