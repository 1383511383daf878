// Reading and writing comma-separated files, as people keep tables in them:
// RFC 4180 records (values quoted when they hold a comma, a quote or a line
// break, quotes inside doubled), UTF-8 text, any of LF, CRLF or CR ending a
// row. Reading goes through libcsv in strict mode; this file adds what a
// person needs to mend a file: where every value starts, and errors that say
// at which line and column a file stops making sense.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tbm::tools {

// A place in a text file: line and column counted from 1, the column in
// characters (not bytes).
struct CsvPosition {
  std::uint64_t line = 1;
  std::uint64_t column = 1;
};

// One value of a row, as UTF-16 text, and where it starts in the file.
struct CsvValue {
  std::u16string text;
  CsvPosition where;
};

// The longest value the reader takes, in bytes of the file: far above what
// any field holds, and a guard against a file that is one endless value.
inline constexpr std::size_t kCsvMaxValueBytes = 1 << 20;

// Reads rows from an open file, one at a time, without holding the file.
// Empty lines are skipped; a byte order mark at the start is ignored. A NUL
// character anywhere, and a file in UTF-16 (with or without its byte order
// mark), are refused as errors that say so.
class CsvReader {
 public:
  // file stays the caller's; totalBytes (0 when unknown) gives the share of
  // the file read so far, for progress.
  CsvReader(std::FILE* file, std::uint64_t totalBytes);
  ~CsvReader();
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  // The next row into *row. False at the end of the file and on an error;
  // failed() tells which.
  bool Next(std::vector<CsvValue>* row);

  bool failed() const { return !error_.empty(); }
  // The error in words, and where it was found (an error of reading the
  // file at all is placed where reading stopped).
  const std::string& error() const { return error_; }
  CsvPosition errorAt() const { return errorAt_; }

  // Where the last row returned starts.
  CsvPosition rowStart() const { return rowStart_; }
  // The share of the file read so far, 0 to 1 (0 when the size is unknown).
  double fractionRead() const;

 private:
  struct Parser;
  static void OnValue(void* data, std::size_t length, void* self);
  static void OnRowEnd(int terminator, void* self);
  // Feeds count bytes of the chunk to libcsv and moves the position past
  // those it took.
  void Feed(const unsigned char* bytes, std::size_t count);
  void Advance(const unsigned char* bytes, std::size_t count);
  bool Fail(const std::string& what, CsvPosition where);

  std::FILE* file_;
  std::uint64_t total_;
  std::uint64_t read_ = 0;
  std::unique_ptr<Parser> parser_;
  std::vector<unsigned char> chunk_;
  std::size_t chunkAt_ = 0;
  std::size_t chunkEnd_ = 0;
  bool atEnd_ = false;
  bool started_ = false;

  // Position tracking: the place of the byte being fed, whether the last
  // byte was a CR, and the start of the value being read.
  CsvPosition at_;
  bool afterCr_ = false;
  bool valueStartPending_ = true;
  bool rowStartPending_ = true;
  CsvPosition valueStart_;
  CsvPosition rowStart_;       // of the last row handed out
  CsvPosition buildingStart_;  // of the row being parsed

  struct Row {
    CsvPosition start;
    std::vector<CsvValue> values;
  };
  std::vector<CsvValue> building_;
  std::vector<Row> ready_;  // rows parsed but not yet handed out
  std::size_t readyAt_ = 0;
  std::string error_;
  CsvPosition errorAt_;
};

// Appends one value to a row being written: quoted when it holds a comma, a
// quote, CR or LF (or starts or ends with a space, which readers that trim
// would lose, or starts with a byte order mark), with quotes doubled.
void AppendCsvValue(std::string* line, std::string_view value);

// One row: the values separated by commas, ended by "\n".
std::string CsvRow(const std::vector<std::string>& values);

}  // namespace tbm::tools
