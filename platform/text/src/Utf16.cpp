#include "Utf16.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <algorithm>

namespace tbm {

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(utf8.data());
  const auto length = static_cast<int32_t>(utf8.size());
  int32_t i = 0;
  while (i < length) {
    UChar32 c;
    U8_NEXT_OR_FFFD(bytes, i, length, c);
    if (U_IS_BMP(c)) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(static_cast<char16_t>(U16_LEAD(c)));
      out.push_back(static_cast<char16_t>(U16_TRAIL(c)));
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  const auto length = static_cast<int32_t>(utf16.size());
  int32_t i = 0;
  while (i < length) {
    UChar32 c;
    U16_NEXT_OR_FFFD(utf16.data(), i, length, c);
    std::uint8_t encoded[U8_MAX_LENGTH];
    int32_t n = 0;
    UBool error = false;
    U8_APPEND(encoded, n, U8_MAX_LENGTH, c, error);
    (void)error;  // cannot happen: the buffer holds any code point
    out.append(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(n));
  }
  return out;
}

std::size_t Utf16Length(const char16_t* text) {
  if (text == nullptr) return 0;
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

std::u16string_view Utf16View(const char16_t* text) {
  return text == nullptr ? std::u16string_view{} : std::u16string_view{text, Utf16Length(text)};
}

std::size_t CopyUtf16Cut(char16_t* buffer, std::uint32_t bytes, std::u16string_view text) {
  if (buffer == nullptr || bytes < 2) return 0;
  const std::size_t room = bytes / 2 - 1;
  const std::size_t n = std::min(room, text.size());
  std::copy_n(text.data(), n, buffer);
  buffer[n] = 0;
  return n;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
  return CompareIgnoreCase(a, b) == 0;
}

int CompareIgnoreCase(std::u16string_view a, std::u16string_view b) {
  UErrorCode status = U_ZERO_ERROR;
  const int32_t order =
      u_strCaseCompare(a.data(), static_cast<int32_t>(a.size()), b.data(),
                       static_cast<int32_t>(b.size()), U_FOLD_CASE_DEFAULT, &status);
  if (U_SUCCESS(status)) return order;
  return a.compare(b);  // only for text too long for the folding: plain order
}

}  // namespace tbm
