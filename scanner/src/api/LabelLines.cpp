#include "LabelLines.h"

#include <unicode/ustring.h>

#include "ScnApi.h"

namespace tbm::scan {
namespace {

constexpr char16_t kTab = 0x09;
constexpr char16_t kGroupSeparator = 0x1D;

bool IsControl(char16_t c) {
  return (c < 0x20 && c != kTab && c != kGroupSeparator) || (c >= 0x7F && c <= 0x9F);
}

}  // namespace

std::optional<std::u16string> LabelFromLine(std::string_view line, std::string* why) {
  if (line.empty()) {
    *why = "an empty line";
    return std::nullopt;
  }
  if (line.size() > kScnMaxLineBytes) {
    *why = "a line of " + std::to_string(line.size()) + " bytes, more than a label can hold";
    return std::nullopt;
  }
  std::u16string text(line.size(), u'\0');
  int32_t units = 0;
  UErrorCode error = U_ZERO_ERROR;
  u_strFromUTF8(reinterpret_cast<UChar*>(text.data()), static_cast<int32_t>(text.size()), &units,
                line.data(), static_cast<int32_t>(line.size()), &error);
  if (U_FAILURE(error)) {
    *why = "a line of " + std::to_string(line.size()) + " bytes that are not UTF-8 text";
    return std::nullopt;
  }
  text.resize(static_cast<std::size_t>(units));
  for (char16_t c : text) {
    if (IsControl(c)) {
      *why = "a line of " + std::to_string(line.size()) + " bytes with control characters in it";
      return std::nullopt;
    }
  }
  if (text.size() > kScnMaxLabelUnits) {
    *why = "a line of " + std::to_string(text.size()) + " characters, more than the " +
           std::to_string(kScnMaxLabelUnits) + " a label holds";
    return std::nullopt;
  }
  return text;
}

void LabelLines::Feed(std::string_view bytes, std::vector<std::u16string>& labels,
                      std::vector<std::string>& dropped) {
  for (char c : bytes) {
    if (c == '\r' || c == '\n') {
      if (overlong_) {
        overlong_ = false;
      } else if (!line_.empty()) {
        std::string why;
        if (auto label = LabelFromLine(line_, &why)) {
          labels.push_back(std::move(*label));
        } else {
          dropped.push_back(std::move(why));
        }
      }
      line_.clear();
      continue;
    }
    if (overlong_) continue;
    if (line_.size() == kScnMaxLineBytes) {
      dropped.push_back("a line of more than " + std::to_string(kScnMaxLineBytes) +
                        " bytes without an end of line");
      overlong_ = true;
      line_.clear();
      line_.shrink_to_fit();
      continue;
    }
    line_.push_back(c);
  }
}

void LabelLines::Reset() {
  line_.clear();
  overlong_ = false;
}

}  // namespace tbm::scan
