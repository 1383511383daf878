// Tables for the terminal: columns aligned by the width text takes on the
// screen (wide East Asian characters count two, combining marks none), long
// cells cut with an ellipsis, only the first line of a multi-line cell, and
// characters that would act on the terminal instead of showing written as
// escapes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tbm::tools {

// Columns on the screen that UTF-8 text takes.
std::size_t DisplayWidth(std::string_view text);

// text cut to at most width columns, ending in "…" when it was cut.
std::string CutToWidth(std::string_view text, std::size_t width);

// text with every character that a terminal would act on instead of
// showing, or that cannot be seen, written as an escape a person can read:
// control characters (\t, \n, \r, others as \x1b; C1 controls as
// \u009b), line and paragraph separators (\u2028), the marks that reorder
// text from right to left (\u202e) and the byte order mark (\ufeff). A
// byte that is not UTF-8 is written as \xNN. Other text, backslashes
// included, is left as it is.
std::string EscapeControls(std::string_view text);

class TextTable {
 public:
  // Cells wider than maxCellWidth are cut.
  explicit TextTable(std::vector<std::string> headings, std::size_t maxCellWidth = 40);

  // One row; missing cells are empty. A cell that spans lines shows its
  // first line and "…"; control characters show escaped.
  void AddRow(std::vector<std::string> cells);
  // Right-aligns a column (numbers).
  void AlignRight(std::size_t column);

  // The table: headings, a rule, the rows; two spaces between columns and
  // no trailing spaces.
  std::string Render() const;

 private:
  std::vector<std::string> headings_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<bool> right_;
  std::size_t maxCellWidth_;
};

}  // namespace tbm::tools
