#include "NamePattern.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

namespace tbm::fs {

namespace {

std::u32string CodePoints(std::u16string_view text) {
  std::u32string points;
  points.reserve(text.size());
  const auto length = static_cast<int32_t>(text.size());
  int32_t i = 0;
  while (i < length) {
    UChar32 c;
    U16_NEXT_OR_FFFD(text.data(), i, length, c);
    points.push_back(static_cast<char32_t>(c));
  }
  return points;
}

// The classic matcher: on a mismatch, let the last '*' swallow one more
// character and try again. Runs in time proportional to the product of the
// lengths at worst, and names are short.
bool Matches(std::u32string_view pattern, std::u32string_view name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t starAt = std::u32string_view::npos;
  std::size_t resumeAt = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == U'*') {
      starAt = p++;
      resumeAt = n;
    } else if (starAt != std::u32string_view::npos) {
      p = starAt + 1;
      n = ++resumeAt;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == U'*') ++p;
  return p == pattern.size();
}

}  // namespace

std::u16string FoldCase(std::u16string_view name) {
  const auto length = static_cast<int32_t>(name.size());
  std::u16string folded(name.size() + 8, u'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    UErrorCode status = U_ZERO_ERROR;
    const int32_t needed = u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()),
                                         name.data(), length, U_FOLD_CASE_DEFAULT, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
      folded.assign(static_cast<std::size_t>(needed), u'\0');
      continue;
    }
    if (U_FAILURE(status)) return std::u16string(name);
    folded.resize(static_cast<std::size_t>(needed));
    return folded;
  }
  return std::u16string(name);
}

bool MatchesPattern(std::u16string_view pattern, std::u16string_view name) {
  const std::u32string foldedPattern = CodePoints(FoldCase(pattern));
  const std::u32string foldedName = CodePoints(FoldCase(name));
  if (Matches(foldedPattern, foldedName)) return true;
  const std::u32string_view whole = foldedPattern;
  return whole.size() >= 2 && whole.substr(whole.size() - 2) == U".*" &&
         Matches(whole.substr(0, whole.size() - 2), foldedName);
}

}  // namespace tbm::fs
