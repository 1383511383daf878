#include "CsvFile.h"

#include <csv.h>
#include <unicode/ustring.h>

#include <algorithm>

namespace tbm::tools {

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

// Spaces around an unquoted value are part of it: nothing is trimmed.
int NoSpaces(unsigned char) { return 0; }

bool ToUtf16(const char* bytes, std::size_t length, std::u16string* text) {
  UErrorCode status = U_ZERO_ERROR;
  int32_t units = 0;
  u_strFromUTF8(nullptr, 0, &units, bytes, static_cast<int32_t>(length), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
  text->resize(static_cast<std::size_t>(units));
  status = U_ZERO_ERROR;
  u_strFromUTF8(text->data(), units, nullptr, bytes, static_cast<int32_t>(length), &status);
  return U_SUCCESS(status) || status == U_STRING_NOT_TERMINATED_WARNING;
}

}  // namespace

struct CsvReader::Parser {
  csv_parser state{};
  bool ready = false;
  Parser() {
    ready = csv_init(&state, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) == 0;
    if (ready) csv_set_space_func(&state, NoSpaces);
  }
  ~Parser() {
    if (ready) csv_free(&state);
  }
};

CsvReader::CsvReader(std::FILE* file, std::uint64_t totalBytes)
    : file_(file), total_(totalBytes), parser_(std::make_unique<Parser>()), chunk_(kChunkBytes) {
  if (!parser_->ready) Fail("not enough memory to read the file", at_);
}

CsvReader::~CsvReader() = default;

double CsvReader::fractionRead() const {
  if (total_ == 0) return 0;
  const std::uint64_t consumed = read_ - (chunkEnd_ - chunkAt_);
  const double share = static_cast<double>(consumed) / static_cast<double>(total_);
  return share > 1 ? 1 : share;
}

bool CsvReader::Fail(const std::string& what, CsvPosition where) {
  if (error_.empty()) {
    error_ = what;
    errorAt_ = where;
  }
  return false;
}

void CsvReader::OnValue(void* data, std::size_t length, void* self) {
  auto* reader = static_cast<CsvReader*>(self);
  CsvValue value;
  value.where = reader->valueStart_;
  if (!ToUtf16(static_cast<const char*>(data), length, &value.text)) {
    reader->Fail("the value is not UTF-8 text", value.where);
  }
  if (reader->building_.empty()) reader->buildingStart_ = value.where;
  reader->building_.push_back(std::move(value));
  reader->valueStartPending_ = true;
}

void CsvReader::OnRowEnd(int, void* self) {
  auto* reader = static_cast<CsvReader*>(self);
  reader->ready_.push_back({reader->buildingStart_, std::move(reader->building_)});
  reader->building_.clear();
  reader->valueStartPending_ = true;
  reader->rowStartPending_ = true;
}

// Whether libcsv may end a value or a row at this byte, or fail on it, or
// (a NUL) the reader refuses it: every other byte only extends the value
// being read.
static bool IsSpecial(unsigned char byte) {
  return byte == ',' || byte == '"' || byte == '\r' || byte == '\n' || byte == 0;
}

// Whether the file starts as UTF-16 text: with its byte order mark, or
// without one, when nearly every pair of bytes has one zero byte on the
// same side (text that is mostly Latin letters, digits and punctuation, as
// a header row is).
static bool LooksLikeUtf16(const unsigned char* bytes, std::size_t count) {
  if (count >= 2 &&
      ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    return true;
  }
  const std::size_t pairs = std::min<std::size_t>(count, 256) / 2;
  std::size_t zeroHigh = 0;
  std::size_t zeroLow = 0;
  for (std::size_t i = 0; i < pairs; ++i) {
    const unsigned char first = bytes[2 * i];
    const unsigned char second = bytes[2 * i + 1];
    zeroHigh += first != 0 && second == 0 ? 1 : 0;
    zeroLow += first == 0 && second != 0 ? 1 : 0;
  }
  return pairs > 0 && (zeroHigh * 4 >= pairs * 3 || zeroLow * 4 >= pairs * 3);
}

void CsvReader::Advance(const unsigned char* bytes, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char byte = bytes[i];
    if (byte == '\n') {
      if (!afterCr_) {
        ++at_.line;
        at_.column = 1;
      }
    } else if (byte == '\r') {
      ++at_.line;
      at_.column = 1;
    } else if ((byte & 0xC0) != 0x80) {
      ++at_.column;
    }
    afterCr_ = byte == '\r';
  }
}

void CsvReader::Feed(const unsigned char* bytes, std::size_t count) {
  // A row ending in CRLF ends at the CR; the LF belongs to no value.
  const bool lineEnd = bytes[0] == '\r' || bytes[0] == '\n';
  if (valueStartPending_ && !(rowStartPending_ && lineEnd)) {
    valueStart_ = at_;
    valueStartPending_ = false;
    rowStartPending_ = false;
  }
  const std::size_t parsed = csv_parse(&parser_->state, bytes, count, OnValue, OnRowEnd, this);
  Advance(bytes, parsed);
  if (parsed != count) {
    if (csv_error(&parser_->state) == CSV_EPARSE) {
      Fail(
          "a stray double quote: a value holding quotes must be enclosed in double quotes, "
          "with each quote inside it written twice",
          at_);
    } else {
      Fail("not enough memory to read the value", valueStart_);
    }
    return;
  }
  if (!valueStartPending_ && csv_get_buffer_size(&parser_->state) > kCsvMaxValueBytes) {
    Fail("the value is longer than any field can hold", valueStart_);
  }
}

bool CsvReader::Next(std::vector<CsvValue>* row) {
  while (!failed()) {
    if (readyAt_ < ready_.size()) {
      rowStart_ = ready_[readyAt_].start;
      *row = std::move(ready_[readyAt_].values);
      if (++readyAt_ == ready_.size()) {
        ready_.clear();
        readyAt_ = 0;
      }
      return true;
    }
    if (atEnd_) return false;
    if (chunkAt_ == chunkEnd_) {
      chunkEnd_ = std::fread(chunk_.data(), 1, chunk_.size(), file_);
      chunkAt_ = 0;
      read_ += chunkEnd_;
      if (chunkEnd_ == 0) {
        if (std::ferror(file_)) return Fail("the file could not be read", at_);
        atEnd_ = true;
        if (csv_fini(&parser_->state, OnValue, OnRowEnd, this) != 0) {
          return Fail("this quoted value is never closed: a double quote is missing", valueStart_);
        }
        continue;
      }
      if (!started_) {
        started_ = true;
        if (LooksLikeUtf16(chunk_.data(), chunkEnd_)) {
          return Fail(
              "the file is UTF-16 text; CSV files are read as UTF-8: save it again with the "
              "encoding UTF-8",
              at_);
        }
        if (chunkEnd_ >= 3 && chunk_[0] == 0xEF && chunk_[1] == 0xBB && chunk_[2] == 0xBF) {
          chunkAt_ = 3;
        }
      }
    }
    // Feed until a row is complete or the chunk is used up.
    // Bytes that can end a value go one at a time, so that the next value's
    // start is known; the runs between them go whole.
    while (chunkAt_ < chunkEnd_ && ready_.empty() && !failed()) {
      if (chunk_[chunkAt_] == 0) {
        return Fail(
            "a NUL character (a zero byte) is in the value; no field can hold one: remove it "
            "from the file",
            at_);
      }
      std::size_t run = 1;
      if (!IsSpecial(chunk_[chunkAt_])) {
        while (chunkAt_ + run < chunkEnd_ && !IsSpecial(chunk_[chunkAt_ + run])) ++run;
      }
      Feed(chunk_.data() + chunkAt_, run);
      chunkAt_ += run;
    }
  }
  return false;
}

void AppendCsvValue(std::string* line, std::string_view value) {
  // A leading byte order mark would be taken for the file's own at the
  // start of a file; quoted, it stays part of the value.
  const bool quote = value.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!value.empty() && (value.front() == ' ' || value.back() == ' ')) ||
                     value.substr(0, 3) == "\xEF\xBB\xBF";
  if (!quote) {
    line->append(value);
    return;
  }
  line->push_back('"');
  for (const char c : value) {
    if (c == '"') line->push_back('"');
    line->push_back(c);
  }
  line->push_back('"');
}

std::string CsvRow(const std::vector<std::string>& values) {
  std::string line;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line.push_back(',');
    AppendCsvValue(&line, values[i]);
  }
  line.push_back('\n');
  return line;
}

}  // namespace tbm::tools
