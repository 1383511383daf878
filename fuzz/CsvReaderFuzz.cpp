// CSV files as people and other programs write them, damaged or not. The
// reader must accept or refuse each cleanly, place every value at a line and
// column within the file, and whatever it accepts, written again by the
// writer and read back, must come out the same.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "CsvFile.h"
#include "Utf16.h"

namespace {

using tbm::tools::CsvReader;
using tbm::tools::CsvValue;

struct Reading {
  std::vector<std::vector<std::u16string>> rows;
  bool failed = false;
};

Reading ReadAll(const std::string& bytes) {
  Reading reading;
  std::FILE* file = bytes.empty() ? std::tmpfile()
                                  : ::fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
  if (file == nullptr) std::abort();
  const std::uint64_t lines =
      1 + static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n')) +
      static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\r'));
  CsvReader reader(file, bytes.size());
  std::vector<CsvValue> row;
  while (reader.Next(&row)) {
    std::vector<std::u16string> texts;
    for (const CsvValue& value : row) {
      if (value.where.line < 1 || value.where.line > lines || value.where.column < 1 ||
          value.where.column > bytes.size() + 1) {
        std::abort();
      }
      texts.push_back(value.text);
    }
    if (texts.empty()) std::abort();
    reading.rows.push_back(std::move(texts));
  }
  reading.failed = reader.failed();
  if (reading.failed && reader.error().empty()) std::abort();
  if (reader.fractionRead() < 0 || reader.fractionRead() > 1) std::abort();
  std::fclose(file);
  return reading;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const Reading first = ReadAll(bytes);
  if (first.failed) return 0;
  std::string written;
  for (const auto& row : first.rows) {
    std::vector<std::string> values;
    for (const std::u16string& text : row) values.push_back(tbm::Utf16ToUtf8(text));
    written += tbm::tools::CsvRow(values);
  }
  const Reading second = ReadAll(written);
  // A row of one empty value is written as an empty line, which readers
  // skip; every other row must come back as it was.
  std::vector<std::vector<std::u16string>> expected;
  for (const auto& row : first.rows) {
    if (!(row.size() == 1 && row[0].empty())) expected.push_back(row);
  }
  if (second.failed || second.rows != expected) std::abort();
  return 0;
}
