// A Tabulon Pro database: one SQLite file (WAL journal) holding typed
// fields, records, value lists, the date and time formats, the
// synchronisation flags, plug-in data and the user's current selection.
//
// Texts are Unicode, kept as UTF-8; a line break inside a text is one LF
// (a CR LF or a lone CR given to any call is kept as LF). Every text given
// must be UTF-8 and hold no NUL.
//
// Fields have a name, a type and a key: "F1", "F2", ... made when the
// field is made from a counter that only grows, so a key names one field
// for good and is never given to another, even after its field is removed.
// Records have an identity of 8 bytes and a modification count: 0 for a
// new record, raised by one (65535 wraps to 0) by every change committed to
// it. The identity is a counted string, as the handheld keeps it: byte 0
// the length, 7, then 3 bytes chosen at random when the database is made
// and 4 bytes of a counter that only grows; so it is never empty, which on
// the handheld means a record the desktop does not know yet.
//
// Sharing. Any number of processes may hold one database open; every call
// reads what is committed at that moment. A change runs in one SQLite
// transaction that takes the write lock first; while another process
// writes, it waits up to kBusyWaitMilliseconds, then fails with kBusy.
// One object is for one thread.
//
// Every failure is a Status in words whose message starts with the
// database's name.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "SqliteFile.h"
#include "Status.h"

namespace tbm::tabulonpro {

// The synchronisation flags (the plug-in's query "TBCP").
inline constexpr std::uint32_t kFlagOffered = 0x200000;        // offered to the handheld
inline constexpr std::uint32_t kFlagMaySynchronise = 0x200;    // may be synchronised
inline constexpr std::uint32_t kFlagSettingsChangeable = 0x8;  // settings may be changed
inline constexpr std::uint32_t kFlagSettingsLocked = 0x40000;  // settings locked
inline constexpr std::uint32_t kNewDatabaseFlags =
    kFlagOffered | kFlagMaySynchronise | kFlagSettingsChangeable;

// The flags in words: "offered to the handheld, may be synchronised, ...".
std::string FlagsInWords(std::uint32_t flags);

// The most fields a database has (as many as the handheld takes).
inline constexpr std::size_t kMaxFields = 50;
// The longest name, in characters, of a field and of a value list.
inline constexpr std::size_t kMaxNameChars = 63;

enum class FieldType : std::uint8_t { kText = 1, kNumber = 2, kDate = 3, kTime = 4 };

// "text", "number", "date", "time" (any case) and back.
std::optional<FieldType> FieldTypeFromName(std::string_view name);
const char* FieldTypeName(FieldType type);

struct Field {
  std::int64_t id = 0;  // the field's row, for the calls below
  std::string key;      // "F1", ...: ASCII, at most 15 bytes
  std::string name;
  FieldType type = FieldType::kText;
};

struct FieldDefinition {
  std::string name;
  FieldType type = FieldType::kText;
};

// The date and time formats the database's dates and times are written in.
struct DateTimeFormats {
  std::string dateSeparator = "/";  // one character
  std::uint8_t dateOrder = 1;       // 1 M/D/Y, 2 D/M/Y, 3 Y/M/D, 4 D/Y/M, 5 M/Y/D; 0 none
  bool twoDigitMonth = false;
  bool twoDigitDay = false;
  bool preferTypedSeparator = false;
  std::string timeSeparator = ":";  // one character
  bool leadingZero = false;
  bool twelveHourClock = true;
  std::string morningSuffix = " AM";    // at most 5 characters
  std::string afternoonSuffix = " PM";  // at most 5 characters
  std::string twentyFourSuffix;         // at most 9 characters
};

// Whether the formats can be kept: one character (not a digit) for each
// separator, the suffixes within their lengths, an order from 0 to 5.
Status CheckFormats(const DateTimeFormats& formats);

using RecordIdentity = std::array<std::uint8_t, 8>;
inline constexpr std::uint8_t kIdentityLength = 7;
// Sixteen hex digits.
std::string IdentityHex(const RecordIdentity& identity);

struct RecordInfo {
  std::int64_t row = 0;  // the record's row, for the calls below
  RecordIdentity identity{};
  std::uint16_t modification = 0;
};

// A value list: items, each one line.
struct ValueList {
  std::string name;
  std::vector<std::string> items;
};

// The whole content of a new database.
struct NewDatabase {
  std::vector<FieldDefinition> fields;
  DateTimeFormats formats;
  std::vector<ValueList> valueLists;
  std::uint32_t flags = kNewDatabaseFlags;
  // Each record's texts in field order (fewer texts: the rest are empty).
  std::vector<std::vector<std::string>> records;
};

// Field values by field id.
using FieldTexts = std::map<std::int64_t, std::string>;

class DesktopDatabase {
 public:
  // Makes the database file at path, whole or not at all: it is built
  // under a temporary name beside path and moved into place complete.
  // Fails (kInvalidArgument) when a file is at path already.
  static Status Create(const std::string& path, const NewDatabase& content);

  // Opens the database at path for reading and writing. A file that is not
  // a Tabulon Pro database is refused and left as it was; missing (kNotFound),
  // not a database, made by another version, damaged (kDamaged), busy
  // (kBusy) and not permitted (kNoPermission) are told apart.
  static Status Open(const std::string& path, std::unique_ptr<DesktopDatabase>* out);

  ~DesktopDatabase();
  DesktopDatabase(const DesktopDatabase&) = delete;
  DesktopDatabase& operator=(const DesktopDatabase&) = delete;

  // The database's name: its file's name without ".tbp".
  const std::string& name() const { return name_; }
  const std::string& path() const { return path_; }

  // ---- fields, in their order ----
  Status Fields(std::vector<Field>* fields);
  // The same without a copy: *fields stays valid until the next call on
  // this object.
  Status FieldList(const std::vector<Field>** fields);
  Status AddField(const FieldDefinition& definition, Field* made);
  // Removes the field and its values; its key is not made again.
  Status RemoveField(std::int64_t field);
  Status RenameField(std::int64_t field, const std::string& name);
  // The texts stay as they are.
  Status ChangeFieldType(std::int64_t field, FieldType type);

  // ---- settings ----
  Status Formats(DateTimeFormats* formats);
  Status SetFormats(const DateTimeFormats& formats);
  Status Flags(std::uint32_t* flags);
  Status SetFlags(std::uint32_t flags);

  // ---- value lists, by name (exact) ----
  Status ValueLists(std::vector<ValueList>* lists);
  Status FindValueList(const std::string& name, ValueList* list);  // kNotFound
  // Makes or replaces the list of that name.
  Status SetValueList(const ValueList& list);
  Status RemoveValueList(const std::string& name);  // kNotFound

  // ---- plug-in data, by four-character key ----
  Status ReadPluginData(std::uint32_t key, std::string* data);  // kNotFound
  Status WritePluginData(std::uint32_t key, std::string_view data);
  // Several keys' data in one transaction: all are written or none.
  Status WritePluginData(const std::vector<std::pair<std::uint32_t, std::string>>& entries);
  // Every key with its data's length.
  Status PluginDataSizes(std::vector<std::pair<std::uint32_t, std::size_t>>* sizes);

  // ---- records, in the order they were made ----
  Status RecordCount(std::int64_t* count);
  Status Records(std::vector<RecordInfo>* records);
  Status Record(std::int64_t row, RecordInfo* record);                   // kNotFound
  Status FindRecord(const RecordIdentity& identity, std::int64_t* row);  // kNotFound
  // One field's text of a record ("" when it has none); kNotFound when the
  // record is gone.
  Status ReadText(std::int64_t row, std::int64_t field, std::string* text);
  // The same without a copy: *text stays valid until the next call on this
  // object.
  Status PeekText(std::int64_t row, std::int64_t field, std::string_view* text);
  Status ReadTexts(std::int64_t row, FieldTexts* texts);
  // A new record (modification count 0) holding texts.
  Status AddRecord(const FieldTexts& texts, RecordInfo* made);
  // A copy of the record's texts under a new identity (count 0).
  Status DuplicateRecord(std::int64_t row, RecordInfo* made);
  // Writes texts into the record and raises its modification count once,
  // in one transaction. kNotFound when the record is gone.
  Status ChangeRecord(std::int64_t row, const FieldTexts& texts);
  Status DeleteRecord(std::int64_t row);  // kNotFound

  // ---- snapshots ----
  // Between BeginSnapshot and EndSnapshot every read sees the database as
  // it was at the first read, and costs no file locking of its own: for a
  // burst of calls (a plug-in walking every record) that should be quick
  // and agree with each other. Changes of other processes show after
  // EndSnapshot. Every change ends the snapshot first, so this object's own
  // changes always go to the newest database. Both calls may be repeated.
  void BeginSnapshot();
  void EndSnapshot();

  // ---- batches ----
  // Between BeginBatch and EndBatch every change of this object joins one
  // SQLite transaction, which holds the write lock from BeginBatch on: a
  // burst of changes (a plug-in merging thousands of records) costs one
  // commit instead of one each. Each change is still whole or not at all
  // within it, and this object's reads see it at once; other processes see
  // the batch when EndBatch has committed it. EndBatch tells whether the
  // changes are in the file: when it fails, every change of the batch is
  // undone. BeginBatch ends a snapshot first, and no snapshot is taken
  // during a batch. Both calls may be repeated.
  Status BeginBatch();
  Status EndBatch();
  bool batching() const { return batch_; }

  // ---- the current selection: records the user selected, in order ----
  Status Selection(std::vector<std::int64_t>* rows);
  Status SetSelection(const std::vector<std::int64_t>& rows);

 private:
  DesktopDatabase(SqliteConnection db, std::string path, std::string name);
  Status Fail(int rc, std::string_view doing) const;
  // The cached statement for sql, prepared on first use.
  Status Prepared(const char* sql, ScopedStatement* statement);
  Status CheckFile();
  // Fills a new database with content, in one transaction.
  Status Fill(const NewDatabase& content);
  Status InsertField(const FieldDefinition& definition, Field* made);
  Status NextIdentity(RecordIdentity* identity);
  Status InsertRecord(const FieldTexts& texts, RecordInfo* made);
  // A record with its texts.
  struct StoredRecord {
    RecordInfo info;  // row 0: none
    FieldTexts texts;
  };
  // The record as stored, read past the cache.
  Status LoadRecord(std::int64_t row, StoredRecord* record);
  // The record from the cache within a snapshot or batch, read into it
  // first when needed; outside them, read each time.
  Status CachedRecord(std::int64_t row, const StoredRecord** record);
  Status LoadTexts(std::int64_t row, FieldTexts* texts);
  // Stores texts as the record's whole texts.
  Status StoreTexts(std::int64_t row, const FieldTexts& texts, std::string_view doing);
  // texts written over stored (the fields given, the others kept), each
  // checked and in its stored form.
  Status MergeTexts(const FieldTexts& texts, FieldTexts* stored);
  // Writes texts over the record's own.
  Status WriteTexts(std::int64_t row, const FieldTexts& texts);
  Status CheckFieldName(const std::string& name, std::int64_t except);
  // Before a change of the fields: the snapshot ends and the fields are
  // read again.
  void ForgetFields();
  // Whether reads run inside one transaction (a snapshot or a batch), so
  // that what they read may be kept until it ends.
  bool viewing() const { return snapshot_ || batch_; }

  SqliteConnection db_;
  std::string path_;
  std::string name_;
  std::map<const char*, Statement> statements_;
  // An open snapshot or batch, counted, and the fields as read in one.
  bool snapshot_ = false;
  bool batch_ = false;
  std::int64_t snapshotSerial_ = 0;
  std::int64_t fieldsSnapshot_ = -1;
  std::vector<Field> fieldsCache_;
  // The record read last in the snapshot or batch; every change but
  // ChangeRecord's own forgets it.
  StoredRecord cached_;
};

// Whether text is valid UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text);

// A name (of a field, a value list, a database): one line of 1 to
// kMaxNameChars characters without control characters; what names it in
// the message.
Status CheckName(std::string_view what, const std::string& name);

// The form every stored text takes: UTF-8 checked, line breaks as LF.
// kInvalidArgument for bytes that are not UTF-8 or hold a NUL; what names
// the text in the message.
Status StoredText(std::string_view text, std::string_view what, std::string* stored);

}  // namespace tbm::tabulonpro
