#include "TextTable.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>

namespace tbm::tools {

namespace {

constexpr std::string_view kEllipsis = "\u2026";

int CodePointWidth(UChar32 c) {
  const int8_t category = u_charType(c);
  if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK || category == U_FORMAT_CHAR ||
      category == U_CONTROL_CHAR) {
    return 0;
  }
  const auto width = static_cast<UEastAsianWidth>(u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH));
  return width == U_EA_WIDE || width == U_EA_FULLWIDTH ? 2 : 1;
}

// Calls visit(start, end, width) for each code point of text; an ill-formed
// byte counts as one column.
template <typename Visit>
void ForEachCodePoint(std::string_view text, Visit visit) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  int32_t at = 0;
  while (at < length) {
    const int32_t start = at;
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    if (!visit(static_cast<std::size_t>(start), static_cast<std::size_t>(at),
               c < 0 ? 1 : CodePointWidth(c))) {
      return;
    }
  }
}

// Whether a terminal would act on c (move, recolour, ring, reorder)
// rather than show it.
bool ActsOnTerminal(UChar32 c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 || c == 0x061C ||
         c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

void AppendHex(std::string* text, unsigned value, int digits) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    *text += kDigits[(value >> shift) & 0xF];
}

std::string Escape(UChar32 c) {
  switch (c) {
    case '\t':
      return "\\t";
    case '\n':
      return "\\n";
    case '\r':
      return "\\r";
    default:
      break;
  }
  std::string text = c < 0x80 ? "\\x" : "\\u";
  AppendHex(&text, static_cast<unsigned>(c), c < 0x80 ? 2 : 4);
  return text;
}

std::string FirstLine(const std::string& cell) {
  const std::size_t end = cell.find_first_of("\r\n");
  if (end == std::string::npos) return cell;
  return cell.substr(0, end) + std::string(kEllipsis);
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  const auto length = static_cast<int32_t>(text.size());
  for (int32_t at = 0; at < length;) {
    const int32_t start = at;
    UChar32 c;
    U8_NEXT(bytes, at, length, c);
    if (c < 0) {
      for (int32_t i = start; i < at; ++i) {
        escaped += "\\x";
        AppendHex(&escaped, bytes[i], 2);
      }
    } else if (ActsOnTerminal(c)) {
      escaped += Escape(c);
    } else {
      escaped.append(
          text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(at - start)));
    }
  }
  return escaped;
}

std::size_t DisplayWidth(std::string_view text) {
  std::size_t width = 0;
  ForEachCodePoint(text, [&](std::size_t, std::size_t, int w) {
    width += static_cast<std::size_t>(w);
    return true;
  });
  return width;
}

std::string CutToWidth(std::string_view text, std::size_t width) {
  if (DisplayWidth(text) <= width) return std::string(text);
  if (width == 0) return {};
  std::size_t used = 0;
  std::size_t end = 0;
  ForEachCodePoint(text, [&](std::size_t, std::size_t stop, int w) {
    if (used + static_cast<std::size_t>(w) > width - 1) return false;
    used += static_cast<std::size_t>(w);
    end = stop;
    return true;
  });
  return std::string(text.substr(0, end)) + std::string(kEllipsis);
}

TextTable::TextTable(std::vector<std::string> headings, std::size_t maxCellWidth)
    : headings_(std::move(headings)),
      right_(headings_.size(), false),
      maxCellWidth_(maxCellWidth) {}

void TextTable::AddRow(std::vector<std::string> cells) {
  cells.resize(headings_.size());
  for (std::string& cell : cells) {
    cell = CutToWidth(EscapeControls(FirstLine(cell)), maxCellWidth_);
  }
  rows_.push_back(std::move(cells));
}

void TextTable::AlignRight(std::size_t column) {
  if (column < right_.size()) right_[column] = true;
}

std::string TextTable::Render() const {
  std::vector<std::size_t> widths(headings_.size());
  for (std::size_t c = 0; c < headings_.size(); ++c) {
    widths[c] = DisplayWidth(headings_[c]);
    for (const auto& row : rows_) widths[c] = std::max(widths[c], DisplayWidth(row[c]));
  }
  std::string out;
  auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (std::size_t c = 0; c < cells.size(); ++c) {
      const std::size_t pad = widths[c] - DisplayWidth(cells[c]);
      if (c > 0) text += "  ";
      if (right_[c]) text.append(pad, ' ');
      text += cells[c];
      if (!right_[c]) text.append(pad, ' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out += text + "\n";
  };
  line(headings_);
  std::vector<std::string> rule;
  for (const std::size_t w : widths) rule.emplace_back(w, '-');
  line(rule);
  for (const auto& row : rows_) line(row);
  return out;
}

}  // namespace tbm::tools
