// Building a handheld database's content through the engine's table layer:
// the schema with its field options, the attributes with the date and time
// formats, the value lists and the records. Synchronisation rebuilds or
// creates a database from the desktop's copy with it, and the command-line
// tool creates databases with it, so both make the same database from the
// same description.
//
// Every step works on an environment whose reference is open (MDbOpen or
// MDbCreate) and returns an engine result code (MDbErr*). Steps are taken in
// the order a synchronisation takes them: mark the database inconsistent,
// replace the schema, write the attributes, replace the value lists, empty
// and load the records, mark it consistent. Each step is one change, so a
// process killed during a step leaves what the step replaces as it was. A
// step that fails part-way leaves what it wrote so far; the database is then
// still marked inconsistent, so the handheld program does not take it for
// whole.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "MDb.h"

namespace tbm::sync {

// One field as synchronisation describes it.
struct FieldSpec {
  std::uint8_t type = MDbFieldText;  // 1 to 4; any other value is stored as 0
  std::u16string name;
  // The field's key: a counted string (length byte, then up to 15 bytes)
  // that recognises the field across synchronisations.
  std::array<std::uint8_t, 16> key{};
  std::uint16_t optionWord1 = 0;  // the desktop's option words
  std::uint16_t optionWord2 = 0;
  std::int16_t valueList = -1;  // value-list number, -1 for none
};

// A key made from up to 15 bytes of text (longer text is cut).
std::array<std::uint8_t, 16> FieldKey(std::string_view bytes);

// The date and time formats kept in the attribute block.
struct DatabaseFormats {
  std::array<std::uint8_t, MDbDateFormatBytes> date{};
  std::array<std::uint8_t, MDbTimeFormatBytes> time{};
};

// The date format block: separator, component order (0 to 5; any other
// value is stored as 0), two-digit month and day, prefer the typed separator.
std::array<std::uint8_t, MDbDateFormatBytes> MakeDateFormat(char16_t separator, std::uint8_t order,
                                                            bool twoDigitMonth, bool twoDigitDay,
                                                            bool preferTyped);

// The time format block: separator, the morning, afternoon and 24-hour
// suffixes (cut to 5, 5 and 9 characters), hours with a leading zero, the
// 12-hour clock.
std::array<std::uint8_t, MDbTimeFormatBytes> MakeTimeFormat(char16_t separator,
                                                            std::u16string_view morning,
                                                            std::u16string_view afternoon,
                                                            std::u16string_view twentyFour,
                                                            bool leadingZero, bool twelveHour);

// The attribute block a new database gets: the fixed leading bytes, the
// attribute words synchronisation starts a database with, and formats.
std::array<std::uint8_t, MDbAttrBytes> NewAttributeBlock(const DatabaseFormats& formats);

// Writes the consistency value: false while the database is being rebuilt,
// true once the content is whole.
std::int32_t MarkConsistent(MDbEnv* env, bool consistent);

// Replaces the schema and field options with fields. Each field's option
// block holds its two option words and value-list number; its extended
// block (the list-view settings) is the engine's default for its position,
// unless keepListSettings is set and the database already has a field with
// the same key, whose stored extended block is kept. *unchanged (may be
// null) tells whether the existing fields had the same keys in the same
// order and number.
std::int32_t ReplaceSchema(MDbEnv* env, std::span<const FieldSpec> fields, bool keepListSettings,
                           bool* unchanged);

// Replaces the attribute entry (block and database name).
std::int32_t ReplaceAttributes(MDbEnv* env, const std::array<std::uint8_t, MDbAttrBytes>& block,
                               std::u16string_view name);

// Replaces the value lists; list i is value list number i.
std::int32_t ReplaceValueLists(MDbEnv* env, std::span<const std::u16string> lists);

// Removes every record: the data table and the delete table are made anew
// and empty.
std::int32_t EmptyRecords(MDbEnv* env);

// Adds records in order to the data table, each with state 0 (as the
// desktop has it) and the identity block synchronisation gave it. Opens the
// schema and data tables of env for its life (creating the data tables
// when the database has none) and keeps the creation sequence cached. The
// records are one change from Start to Finish: durable together at Finish,
// and other processes' writes to the volume wait until then.
class RecordLoader {
 public:
  explicit RecordLoader(MDbEnv* env) : env_(env) {}
  ~RecordLoader() { Finish(); }
  RecordLoader(const RecordLoader&) = delete;
  RecordLoader& operator=(const RecordLoader&) = delete;

  // Must succeed before Add.
  std::int32_t Start();
  // The first of values (one per field, in field order) that is longer
  // than CopyMaxChars(): longer than the desktop sends, so the copy is
  // damaged. -1 when all fit. Fields of an unknown type take any length.
  // A number, date or time value may be longer than MaxChars allows: the
  // engine keeps every value as text, and only the handheld's editors hold
  // new values to their field's size.
  int FirstTooLong(std::span<const char16_t* const> values) const;
  // The most characters the desktop sends in any field of this database,
  // whatever the field's type: a text field's maximum less the terminator.
  std::uint32_t CopyMaxChars() const;
  // The most characters an edit may give field (its maximum size less the
  // terminator); 0 for a field of unknown type or out of range.
  std::uint32_t MaxChars(int field) const;

  // values holds one text per field of the schema, in field order.
  // MDbErrTooManyRecords once the table holds 5000 records.
  std::int32_t Add(const std::uint8_t identity[MDbIdentityBytes],
                   std::span<const char16_t* const> values);
  // Writes the cached sequence back and closes the tables; the first
  // failure is returned. Called by the destructor when not called before.
  std::int32_t Finish();

  std::uint32_t added() const { return added_; }

 private:
  MDbEnv* env_;
  bool started_ = false;
  bool batched_ = false;                 // the loader's change is open
  std::vector<std::uint32_t> maxSizes_;  // per field; 0 for no limit
  std::uint32_t textMaxSize_ = 0;        // a text field's, for this many fields
  std::uint32_t added_ = 0;
};

}  // namespace tbm::sync
