// A strict reader of CSV text for the tests, written apart from the writer
// under test so that the two check each other: fields separated by commas,
// rows ended by "\n", a quoted field may hold anything with its quotes
// doubled. Anything else (a quote inside an unquoted field, a carriage
// return outside quotes, text after a closing quote, an unclosed quote, a
// last row without its line end) makes the whole text unreadable.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tbm::sample::testing {

using CsvRow = std::vector<std::string>;

inline std::optional<std::vector<CsvRow>> ReadCsv(std::string_view text) {
  std::vector<CsvRow> rows;
  CsvRow row;
  std::size_t at = 0;
  while (at < text.size()) {
    std::string field;
    if (text[at] == '"') {
      ++at;
      for (;;) {
        if (at == text.size()) return std::nullopt;
        if (text[at] == '"') {
          if (at + 1 < text.size() && text[at + 1] == '"') {
            field += '"';
            at += 2;
            continue;
          }
          ++at;
          break;
        }
        field += text[at++];
      }
    } else {
      while (at < text.size() && text[at] != ',' && text[at] != '\n') {
        if (text[at] == '"' || text[at] == '\r') return std::nullopt;
        field += text[at++];
      }
    }
    row.push_back(std::move(field));
    if (at == text.size()) return std::nullopt;
    if (text[at] == '\n') {
      rows.push_back(std::move(row));
      row.clear();
    } else if (text[at] != ',') {
      return std::nullopt;
    }
    ++at;
  }
  return rows;
}

}  // namespace tbm::sample::testing
