#include "UpperCase.h"

#include <unicode/ustring.h>

#include <cstdint>
#include <limits>

namespace tbm::wordbreak {

std::optional<std::u16string> UpperCase(std::u16string_view text, const char* locale) {
  if (text.size() > static_cast<std::size_t>(std::numeric_limits<int32_t>::max())) {
    return std::nullopt;
  }
  const auto length = static_cast<int32_t>(text.size());
  if (length == 0) return std::u16string();

  // Ask for the length first: a destination of capacity 0 makes ICU report
  // the length it needs with a buffer overflow error.
  UErrorCode status = U_ZERO_ERROR;
  const int32_t needed = u_strToUpper(nullptr, 0, text.data(), length, locale, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return std::nullopt;
  if (needed < 0) return std::nullopt;
  if (needed == 0) return std::u16string();

  std::u16string upper(static_cast<std::size_t>(needed), u'\0');
  status = U_ZERO_ERROR;
  const int32_t written = u_strToUpper(upper.data(), needed, text.data(), length, locale, &status);
  // Filling the buffer exactly leaves it unterminated, which ICU reports as a
  // warning; the string keeps its own terminator.
  if (U_FAILURE(status) || written != needed) return std::nullopt;
  return upper;
}

}  // namespace tbm::wordbreak
