// A handheld database opened the way the handheld program opens it: the
// engine started with its word-break library, the agent layer opening the
// volume with all its tables, and a record set over the records. The one
// owner of all three: whatever Open started is released when the object
// goes, or at once when Open fails. It also keeps a find's search text
// alive for as long as the record set points at it.
//
// Nothing here reaches below the engine's interface. One thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DatabasePath.h"
#include "EngineEnvironment.h"
#include "FieldValues.h"
#include "MDb.h"
#include "Status.h"

namespace tbm::engine {

// What a caller does with a database.
//  kRead: only reads. A file this user may not write, or in a folder this
//    user may not write, is read from a private copy in the temporary
//    folder ($TMPDIR, else /tmp), because opening a database writes beside
//    it (the store's journal files, a find's found set); the copy goes with
//    the object.
//  kChange: changes it. The whole change is one batch: durable together at
//    Commit, or not at all when the caller fails or is killed, and other
//    programs wait for it rather than change what it reads.
enum class Access { kRead, kChange };

// Which records, in which order: everything in creation order, or the
// records a find matches, or either sorted on a field.
struct Selection {
  std::optional<std::string> findField;
  std::string findText;
  std::optional<std::string> sortField;
  bool descending = false;
};

class Database {
 public:
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Opens the database at path with the record set over all its records.
  // On failure *database stays empty, nothing Open started is left (no
  // engine, no open volume, no lock, no private copy), and the status says
  // why in words: kNotFound for a missing file, kNoPermission for a file
  // the user may not read (or change, for kChange), and for the engine's
  // failures the kind EngineFailure gives.
  static Status Open(const DatabasePath& path, Access access, std::unique_ptr<Database>* database);

  // Makes the change of a kChange database durable, ending the use of its
  // records. Without it the change is rolled back when the object goes.
  Status Commit();

  MDbEnv* env() { return engine_.env(); }
  MDbRecset* records() { return &recordSet_; }
  const DatabasePath& path() const { return path_; }
  const std::vector<FieldInfo>& fields() const { return fields_; }

  // The field called name (case-blind), or numbered name (from 1); an
  // unknown field is kNotFound, and the message lists the fields.
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

  // Checks a new value for field: shorter than the field's maximum, and for
  // a date or time field empty or a date or time in the database's format.
  Status CheckValue(int field, const std::u16string& value);

  // "file: what went wrong".
  Status Failed(const std::string& what) const;
  // The engine's code for this database in words, with its cause.
  Status EngineFailed(std::int32_t code) const;

 private:
  // A folder removed with everything in it when the object goes.
  class RemovedFolder {
   public:
    ~RemovedFolder();
    void Set(std::string path) { path_ = std::move(path); }

   private:
    std::string path_;
  };

  Database();
  Status LoadFields();
  std::int32_t ReadOpenRecord(MDbDataRec* record, std::vector<std::u16string>* values,
                              std::uint8_t* state, std::uint8_t* identity);

  // Declared before the engine, so it goes after the engine has closed the
  // copy it holds.
  RemovedFolder privateCopy_;
  EngineEnvironment engine_;
  MDbRecset recordSet_{};
  bool inBatch_ = false;
  DatabasePath path_;
  std::vector<FieldInfo> fields_;
  std::u16string findText_;  // the record set points at it
};

// Resolves the path a person gave, opens the database and builds the
// record set for selection. On failure *database stays empty and nothing
// of the open is left.
Status OpenDatabase(const std::string& given, const Selection& selection, Access access,
                    std::unique_ptr<Database>* database);

}  // namespace tbm::engine
