#include "NumberRule.h"

#include <cstdio>

#include "TextTable.h"
#include "Utf16.h"

namespace tbm::tbmdb {

namespace {

// The extremes stand for an overflow in the engine's reading.
constexpr long long kLargestMagnitude = 0x7FFFFFFFLL;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// The whole number text is written as, when it is written as a plain one:
// a sign, digits (in groups of three after commas, or ungrouped), and a
// fraction of zeros at most, with spaces around.
std::optional<long long> PlainNumber(std::u16string_view text) {
  const std::size_t first = text.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return std::nullopt;
  text = text.substr(first, text.find_last_not_of(u' ') + 1 - first);
  bool negative = false;
  if (text.front() == u'-' || text.front() == u'+') {
    negative = text.front() == u'-';
    text.remove_prefix(1);
  }
  const std::size_t point = text.find(u'.');
  const std::u16string_view whole = text.substr(0, point);
  if (point != std::u16string_view::npos &&
      text.substr(point + 1).find_first_not_of(u'0') != std::u16string_view::npos) {
    return std::nullopt;
  }
  long long value = 0;
  std::size_t groupDigits = 0;
  bool grouped = false;
  for (const char16_t c : whole) {
    if (c == u',') {
      if (groupDigits == 0 || (grouped && groupDigits != 3) || (!grouped && groupDigits > 3)) {
        return std::nullopt;
      }
      grouped = true;
      groupDigits = 0;
      continue;
    }
    if (!IsDigit(c)) return std::nullopt;
    ++groupDigits;
    if (value <= kLargestMagnitude) value = value * 10 + (c - u'0');
  }
  if (groupDigits == 0 || (grouped && groupDigits != 3)) return std::nullopt;
  return negative ? -value : value;
}

}  // namespace

std::optional<long long> NumberByTheRule(std::u16string_view text) {
  bool digits = false;
  bool negative = false;
  long long magnitude = 0;
  for (const char16_t c : text) {
    if (c == u'.') break;
    if (IsDigit(c)) {
      digits = true;
      if (magnitude <= kLargestMagnitude) magnitude = magnitude * 10 + (c - u'0');
    } else if (c == u'-' && !digits && !negative) {
      negative = true;
    }
  }
  if (!digits || magnitude >= (negative ? kLargestMagnitude + 1 : kLargestMagnitude)) {
    return std::nullopt;
  }
  return negative ? -magnitude : magnitude;
}

std::optional<std::string> SurprisingReading(std::u16string_view text) {
  if (text.find_first_not_of(u' ') == std::u16string_view::npos) return std::nullopt;
  const std::optional<long long> read = NumberByTheRule(text);
  const std::optional<long long> looks = PlainNumber(text);
  if (read && looks && *read == *looks) return std::nullopt;
  if (!read) return "no number (it sorts first, with the empty values, and no number finds it)";
  return std::to_string(*read);
}

void NumberSurprises::Note(std::size_t field, const std::string& fieldName,
                           std::u16string_view value, const std::string& where) {
  const std::optional<std::string> reading = SurprisingReading(value);
  if (!reading) return;
  Field& f = fields_[field];
  if (f.count++ > 0) return;
  f.name = fieldName;
  f.example = tools::EscapeControls(Utf16ToUtf8(value));
  f.reading = *reading;
  f.where = where;
}

std::string NumberSurprises::Warnings() const {
  std::string lines;
  for (const auto& [index, f] : fields_) {
    const std::string example =
        "'" + f.example + "'" + (f.where.empty() ? "" : " (" + f.where + ")");
    lines += "warning: number field '" + f.name + "': ";
    if (f.count == 1) {
      lines += "1 value will not sort or find as the number it looks like: " + example;
    } else {
      lines += std::to_string(f.count) +
               " values will not sort or find as the numbers they look like; the first, " +
               example + ",";
    }
    lines += " sorts and finds as " + f.reading +
             "; a number field is read as the digits before its first '.', all else skipped\n";
  }
  return lines;
}

void PrintWarnings(const std::string& warnings) {
  for (std::size_t start = 0; start < warnings.size();) {
    const std::size_t end = warnings.find('\n', start);
    const std::string line = warnings.substr(start, end - start);
    std::fprintf(stderr, "tbmdb: %s\n", line.c_str());
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

}  // namespace tbm::tbmdb
