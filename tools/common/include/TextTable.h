// Tables for the terminal: columns aligned by the width text takes on the
// screen (wide East Asian characters count two, combining marks none), long
// cells cut with an ellipsis, and only the first line of a multi-line cell.
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

class TextTable {
 public:
  // Cells wider than maxCellWidth are cut.
  explicit TextTable(std::vector<std::string> headings, std::size_t maxCellWidth = 40);

  // One row; missing cells are empty. A cell that spans lines shows its
  // first line and "…".
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
