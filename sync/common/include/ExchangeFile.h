// The exchange file: the binary form in which the handheld and the desktop
// hand each other a database's records ("TBSC.sdb" with the handheld's
// changes, "TBSS.sdb" with the desktop's complete copy). Every program that
// reads or writes one goes through ExchangeReader and ExchangeWriter below.
//
// A file is, in order: a 300-byte header; a 16-bit value-list count V; one
// 88-byte descriptor per field; when V > 0, the value-list block (a record
// header, then V texts); then the records, each a 20-byte record header
// followed by one text per field unless the header says no texts follow.
// Integers are little-endian. Texts are bytes in the machine's ANSI code page
// with single LF line breaks (AnsiText.h converts them); every text is an i32
// length, the bytes, a zero, and one more zero when needed to make the whole
// text an even number of bytes.
//
// Names, keys and suffixes sit in fixed slots as counted strings: a length
// byte and that many bytes. The structs below carry only the counted bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "ByteStream.h"
#include "Status.h"

namespace tbm::sync {

// A database has at most this many fields.
constexpr int kMaxExchangeFields = 50;
// Each value list belongs to at least one field, so there are never more.
constexpr int kMaxExchangeValueLists = kMaxExchangeFields;

// The most bytes each counted string carries (its slot less the length byte).
constexpr std::size_t kMaxDatabaseNameBytes = 255;
constexpr std::size_t kMaxFieldNameBytes = 63;
constexpr std::size_t kMaxFieldKeyBytes = 15;
constexpr std::size_t kMaxDaySuffixBytes = 5;         // morning and afternoon
constexpr std::size_t kMaxTwentyFourSuffixBytes = 9;  // 24-hour times
constexpr std::size_t kMaxIdentityStringBytes = 7;    // identity bytes 1 to 7

// Record change codes.
constexpr std::int16_t kChangeUnchanged = 0;
constexpr std::int16_t kChangeNew = 1;
constexpr std::int16_t kChangeDeleted = 2;
constexpr std::int16_t kChangeModified = 3;

// The exchange header: the database's name, counts, and the date and time
// formats the desktop sends along (the handheld sends zeros there).
struct ExchangeHeader {
  // The database name, bytes in the ANSI code page. The writer cuts a longer
  // name to kMaxDatabaseNameBytes at a character boundary.
  std::string name;
  // Number of field descriptors; the writer requires it to equal the number
  // of descriptors it is given.
  std::int32_t fieldCount = 0;
  // Number of records that follow the descriptors.
  std::int32_t recordCount = 0;
  // The second record count. The handheld writes recordCount again; the
  // desktop writes its database's full count there, before its 5000-record
  // limit. Unset when writing means "same as recordCount"; the reader always
  // sets it. Readers rely on recordCount only.
  std::optional<std::int32_t> fullRecordCount;

  // Date format. The separator is the ANSI character in the low byte.
  std::uint16_t dateSeparator = 0;
  // Component order 1 to 5; any other value is read and written as 0.
  std::uint8_t dateOrder = 0;
  bool twoDigitMonth = false;
  bool twoDigitDay = false;
  bool preferTypedSeparator = false;

  // Time format. Suffixes are ANSI bytes; the writer cuts longer ones at a
  // character boundary.
  std::uint16_t timeSeparator = 0;
  std::string morningSuffix;     // at most kMaxDaySuffixBytes
  std::string afternoonSuffix;   // at most kMaxDaySuffixBytes
  std::string twentyFourSuffix;  // at most kMaxTwentyFourSuffixBytes
  bool leadingZero = false;
  bool twelveHourClock = false;
};

// One field of the database.
struct FieldDescriptor {
  // 1 text, 2 number, 3 date, 4 time; any other value is read and written as
  // 0.
  std::int16_t type = 0;
  // ANSI bytes; the writer cuts a longer name to kMaxFieldNameBytes at a
  // character boundary.
  std::string name;
  // The field's key, the content of the 16-byte counted string that
  // identifies the field across synchronisations: at most kMaxFieldKeyBytes
  // bytes (a longer key is refused, never cut, since a cut key would name
  // another field).
  std::string key;
  // The desktop's option flags and display style; the handheld writes 0.
  std::int16_t optionWord1 = 0;
  std::int16_t optionWord2 = 0;
  // Index of the field's value list, or -1 for none.
  std::int16_t valueListIndex = -1;
};

// Everything before the value lists and records.
struct ExchangeLayout {
  ExchangeHeader header;
  // V: the number of value lists in the value-list block (0: no block).
  std::int16_t valueListCount = 0;
  std::vector<FieldDescriptor> fields;
};

// The header in front of each record (and of the value-list block).
struct RecordHeader {
  // kChangeUnchanged, kChangeNew, kChangeDeleted or kChangeModified; the
  // reader passes any other value on for the caller to judge.
  std::int16_t changeCode = kChangeUnchanged;
  // The record's 10-byte identity block as the engine keeps it. Bytes 0 to 7
  // travel as a counted string (byte 0 the length, at most 7 bytes after
  // it; the writer uses at most 7 and zeros the rest), bytes 8 and 9 as they
  // are.
  std::array<std::uint8_t, 10> identity{};
  // True: no texts follow this header.
  bool noValues = false;
};

// One record: its header and, unless header.noValues, one text per field in
// field order (ANSI bytes, LF line breaks, no terminator).
struct ExchangeRecord {
  RecordHeader header;
  std::vector<std::string> values;
};

// How long a text the reader accepts; a longer (or negative) length is an
// error, so a damaged length never makes it allocate more.
struct ExchangeReadLimits {
  std::int32_t maxFieldTextBytes = 65535;
  std::int32_t maxValueListTextBytes = 32767;
};

// Reads one exchange file from a source, front to back, never reading past
// the file's last byte (the source may go on with other data) and never
// holding more than one record in memory.
//
// Calls go in file order: ReadLayout once; ReadValueLists once when the
// layout's valueListCount is above 0; then ReadRecord for each of the
// header's recordCount records. The first failure of the file (a short read,
// a bad count or length) sticks: every later call returns it again. A call
// out of order is refused with kInvalidArgument and changes nothing. Record
// and field numbers in messages count from 1.
class ExchangeReader {
 public:
  // REQUIRES: `source` outlives the reader.
  explicit ExchangeReader(ByteSource& source, ExchangeReadLimits limits = {});

  // Reads the header, the value-list count and the field descriptors.
  // Fails on a short read, a field count outside 0 to 50, a negative record
  // count, a value-list count outside 0 to 50, a counted string whose length
  // byte exceeds its slot, or a value-list index other than -1 that names no
  // value list.
  Status ReadLayout(ExchangeLayout* layout);

  // Reads the value-list block: `lists` receives the valueListCount texts,
  // or nothing when the block's header says no texts follow.
  Status ReadValueLists(std::vector<std::string>* lists);

  // Reads the next record. Fails on a short read, a text length outside 0
  // to the limit, a text without its terminating zero, an identity whose
  // length byte exceeds 7, and when all recordCount records have been read.
  Status ReadRecord(ExchangeRecord* record);

  // Records not yet read (0 before ReadLayout).
  std::int32_t recordsLeft() const { return recordsLeft_; }

 private:
  enum class Phase { kLayout, kValueLists, kRecords, kFailed };

  Status Fail(Status status);
  Status ReadExact(void* buffer, std::size_t bytes, const std::string& where, const char* what);
  Status ReadRecordHeader(RecordHeader* header, const std::string& where);
  Status ReadText(std::int32_t limit, const std::string& where, const char* limitWords,
                  std::string* text);

  ByteSource& source_;
  ExchangeReadLimits limits_;
  Phase phase_ = Phase::kLayout;
  Status failure_;
  std::int32_t fieldCount_ = 0;
  std::int16_t valueListCount_ = 0;
  std::int32_t recordsLeft_ = 0;
  std::int32_t recordsRead_ = 0;
};

// Writes one exchange file to a sink, front to back.
//
// Calls go in file order: WriteLayout once; WriteValueLists once when the
// layout's valueListCount is above 0; WriteRecord for each of the header's
// recordCount records; then Finish. A call that breaks its contract is
// refused with kInvalidArgument, writes nothing and changes nothing; a sink
// that fails makes kWriteFailed, which sticks: every later call returns it.
//
// Counted strings too long for their slots (names, suffixes) are cut at the
// last whole character of the code page that fits, so the other side never
// sees half a double-byte character; a field key too long is refused.
class ExchangeWriter {
 public:
  // REQUIRES: `sink` and `codePage` outlive the writer; `codePage` is the one
  // the texts were converted with (it tells where characters end).
  ExchangeWriter(ByteSink& sink, AnsiCodePage& codePage);

  // Writes the header, the value-list count and the field descriptors.
  // Types outside 1 to 4 and date orders outside 1 to 5 are written as 0.
  // REQUIRES: header.fieldCount == fields.size() <= 50;
  //           header.recordCount >= 0; 0 <= valueListCount <= 50;
  //           each valueListIndex is -1 or below valueListCount;
  //           each key at most kMaxFieldKeyBytes.
  // A broken requirement returns kInvalidArgument and writes nothing.
  Status WriteLayout(const ExchangeLayout& layout);

  // Writes the value-list block: an all-zero record header and the texts.
  // REQUIRES: lists.size() equals the layout's valueListCount (> 0).
  Status WriteValueLists(std::span<const std::string> lists);

  // Writes one record: its header, then, unless header.noValues, the texts.
  // REQUIRES: fewer than recordCount records written so far; values.size()
  // equals the field count (values are not written, and may be empty, when
  // header.noValues is set).
  Status WriteRecord(const RecordHeader& header, std::span<const std::string> values);

  // Checks that all recordCount records were written and flushes the sink.
  Status Finish();

 private:
  enum class Phase { kLayout, kValueLists, kRecords, kFinished, kFailed };

  Status Fail(Status status);
  Status Put(const std::vector<std::uint8_t>& bytes);

  ByteSink& sink_;
  AnsiCodePage& codePage_;
  Phase phase_ = Phase::kLayout;
  Status failure_;
  std::size_t fieldCount_ = 0;
  std::size_t valueListCount_ = 0;
  std::int32_t recordsLeft_ = 0;
};

}  // namespace tbm::sync
