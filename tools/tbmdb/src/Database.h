// A handheld database opened the way the handheld program opens it: the
// engine started with its word-break library, the agent layer opening the
// volume with all its tables, and a record set over the records. Every
// command of tbmdb that reads or changes an existing database goes through
// this; nothing here reaches below the engine's interface.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "MDb.h"
#include "Status.h"

namespace tbm::tbmdb {

// A database file named on the command line: a handheld path
// ("\My Documents\Tabulon\Sales.tbm", inside the device root) or a host
// path (anything holding '/').
struct DatabasePath {
  std::string given;      // as typed, for messages
  std::string host;       // where the file is on this machine
  std::u16string engine;  // what the engine is handed
};

// Resolves a path; a handheld path that cannot exist is refused in words.
Status ResolveDatabasePath(const std::string& given, DatabasePath* path);

// The engine's result codes in words, for a database named `file`. A code
// that stands for a failure of the store says what the engine reports as
// its cause (busy, no space, no permission, damaged), so call
// MDbClearFailureCause before the calls whose failure this describes.
std::string EngineCodeInWords(std::int32_t code, const std::string& file);

// What a command does with a database.
//  kRead: only reads. A file this user may not write, or in a folder this
//    user may not write, is read from a private copy, because opening a
//    database writes beside it (the store's journal files, a find's found
//    set); nothing is left behind.
//  kChange: changes it. The whole change is one batch: durable together at
//    Commit, or not at all when the command fails or is killed, and other
//    programs wait for it rather than change what it reads.
enum class Access { kRead, kChange };

struct FieldInfo {
  std::string name;  // UTF-8
  std::uint8_t type = 0;
  std::uint32_t maxChars = 0;  // the most characters a value may have
};

// The type's name ("text", "number", "date", "time"), or "type N".
std::string TypeName(std::uint8_t type);
// The type a name stands for, case-blind; nullopt for an unknown name.
std::optional<std::uint8_t> TypeFromName(const std::string& name);

// Which records, in which order: everything in creation order, or the
// records a find matches, or either sorted on a field.
struct Selection {
  std::optional<std::string> findField;
  std::string findText;
  std::optional<std::string> sortField;
  bool descending = false;
};

// Text crossing between the command line or a CSV file and a field: line
// breaks are stored as CR LF, as the handheld's editors write them, and
// handed out as LF.
std::u16string StoredText(std::u16string_view typed);
std::string ShownText(std::u16string_view stored);

class Database {
 public:
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens the database at path; on failure *database stays empty and the
  // status says why in words.
  static Status Open(const DatabasePath& path, Access access, std::unique_ptr<Database>* database);

  // Makes the change of a kChange database durable, ending the use of its
  // records. Without it the change is rolled back when the database is
  // closed.
  Status Commit();

  MDbEnv* env() { return &env_; }
  MDbRecset* records() { return &recordSet_; }
  const DatabasePath& path() const { return path_; }
  const std::vector<FieldInfo>& fields() const { return fields_; }

  // The field called name (case-blind), or numbered name (from 1).
  Status FindField(const std::string& name, int* field) const;

  // Builds the record set for the selection (the whole table when it has
  // neither find nor sort).
  Status Select(const Selection& selection);
  std::uint32_t count();

  // The values of the record at position (from 0) of the set, and when
  // asked its state byte and identity block.
  Status ReadRecord(std::uint32_t position, std::vector<std::u16string>* values,
                    std::uint8_t* state = nullptr, std::uint8_t* identity = nullptr);
  // The same for the record at position of the delete table.
  Status ReadDeletedRecord(std::uint32_t position, std::vector<std::u16string>* values,
                           std::uint8_t* state, std::uint8_t* identity);
  std::uint32_t deletedCount();

  // Checks a value for field: shorter than the field's maximum, and for a
  // date or time field empty or a date or time in the database's format.
  Status CheckValue(int field, const std::u16string& value);

  // "file: what went wrong".
  Status Failed(const std::string& what) const;
  // The engine's code for this database in words, with its cause.
  Status EngineFailed(std::int32_t code) const;

 private:
  Database() = default;
  Status LoadFields();
  std::int32_t ReadOpenRecord(MDbDataRec* record, std::vector<std::u16string>* values,
                              std::uint8_t* state, std::uint8_t* identity);

  MDbEnv env_{};
  MDbRecset recordSet_{};
  bool engineStarted_ = false;
  bool opened_ = false;
  bool inBatch_ = false;
  std::string privateCopy_;  // the folder of a private copy, removed on closing
  DatabasePath path_;
  std::vector<FieldInfo> fields_;
  std::u16string findText_;  // the record set points at it
};

// Resolves the path named on the command line, opens the database and
// builds the record set for selection.
Status OpenDatabase(const std::string& given, const Selection& selection, Access access,
                    std::unique_ptr<Database>* database);

// Checks value against a field's type and size through an environment whose
// attribute table is open; fieldText names the field in the message.
Status CheckFieldValue(MDbEnv* env, std::uint8_t type, std::uint32_t maxChars,
                       const std::u16string& value, const std::string& fieldText);

// The date and time formats of an environment whose attribute table is
// open, in words with an example ("month/day/year, as 3/4/2002").
std::string DescribeDateFormat(MDbEnv* env);
std::string DescribeTimeFormat(MDbEnv* env);

}  // namespace tbm::tbmdb
