#include "Database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "EngineFailure.h"
#include "HostErrors.h"
#include "Utf16.h"

namespace tbm::engine {

namespace stdfs = std::filesystem;

namespace {

// Whether this process may write the file and make files beside it.
bool Writable(const std::string& host) {
  const std::string folder = stdfs::path(host).has_parent_path()
                                 ? stdfs::path(host).parent_path().string()
                                 : std::string(".");
  return ::access(host.c_str(), W_OK) == 0 && ::access(folder.c_str(), W_OK) == 0;
}

// Copies the database (and a journal a writer left beside it, so the copy
// holds what was last flushed) into a new private folder, named in *folder
// as soon as it exists.
Status CopyToPrivateFolder(const DatabasePath& path, std::string* folder, std::string* copy) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tbmdb-read-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    const int error = errno;
    return PlatformFailure(ErrorFromErrno(error, pattern),
                           path.given +
                               ": you may not write the database, and no private copy could be "
                               "made to read it (" +
                               std::strerror(error) + ")");
  }
  *folder = pattern;
  *copy = pattern + "/" + stdfs::path(path.host).filename().string();
  std::error_code error;
  stdfs::copy_file(path.host, *copy, error);
  if (!error && stdfs::exists(path.host + "-wal")) {
    stdfs::copy_file(path.host + "-wal", *copy + "-wal", error);
  }
  // The copies are this user's to write, whatever the originals allowed.
  for (const std::string& file : {*copy, *copy + "-wal"}) {
    if (!error && stdfs::exists(file)) {
      stdfs::permissions(file, stdfs::perms::owner_read | stdfs::perms::owner_write, error);
    }
  }
  if (error) {
    return Status::Error(path.given + ": cannot be read (" + error.message() + ")");
  }
  return {};
}

}  // namespace

Database::RemovedFolder::~RemovedFolder() {
  if (path_.empty()) return;
  std::error_code ignored;
  stdfs::remove_all(path_, ignored);
}

Database::Database() { MDbRecsetInitialize(&recordSet_); }

Database::~Database() {
  if (engine_.opened()) {
    MDbRecsetDestroy(env(), &recordSet_);
    if (inBatch_) MDbEndWriteBatch(env(), 0);
  }
  // engine_ then closes the database and stops the engine, and
  // privateCopy_ removes the copy.
}

Status Database::Open(const DatabasePath& path, Access access,
                      std::unique_ptr<Database>* database) {
  database->reset();
  std::unique_ptr<Database> db(new Database());
  db->path_ = path;
  struct stat info {};
  if (::stat(path.host.c_str(), &info) != 0) {
    const int error = errno;
    if (error == EACCES) {
      return PlatformFailure(
          ERROR_ACCESS_DENIED,
          path.given + ": permission denied: you may not reach the file (" + path.host + ")");
    }
    return Status(StatusCode::kNotFound, path.given + ": no such database file (" + path.host + ")",
                  ErrorFromErrno(error, path.host));
  }
  if (S_ISDIR(info.st_mode)) {
    return Status(StatusCode::kInvalidArgument, path.given + ": is a folder, not a database file");
  }
  if (::access(path.host.c_str(), R_OK) != 0) {
    return PlatformFailure(ERROR_ACCESS_DENIED,
                           path.given + ": permission denied: you may not read the database");
  }
  std::u16string enginePath = path.engine;
  const bool writable = Writable(path.host);
  if (access == Access::kChange && !writable) {
    return PlatformFailure(ERROR_ACCESS_DENIED,
                           path.given +
                               ": permission denied: you may not change the database (it, or "
                               "its folder, may not be written by you)");
  }
  if (access == Access::kRead && !writable) {
    std::string folder;
    std::string copy;
    Status copied = CopyToPrivateFolder(path, &folder, &copy);
    db->privateCopy_.Set(std::move(folder));
    if (!copied.ok()) return copied;
    enginePath = Utf8ToUtf16(copy);
  }
  MDbClearFailureCause();
  std::int32_t rc = db->engine_.Start(/*wordBreak=*/true);
  if (rc != MDbErrNone) return db->EngineFailed(rc);
  rc = db->engine_.OpenWithTables(enginePath.c_str());
  if (rc != MDbErrNone) return db->EngineFailed(rc);
  if (access == Access::kChange) {
    // Taken before anything is read for the change: positions, counts and
    // values then stay as read until the change is made.
    if ((rc = MDbBeginWriteBatch(db->env())) != MDbErrNone) return db->EngineFailed(rc);
    db->inBatch_ = true;
  }
  if (Status s = db->LoadFields(); !s.ok()) return s;
  rc = MDbAgentQuery(db->env(), &db->recordSet_, nullptr);
  if (rc != MDbErrNone) return db->EngineFailed(rc);
  *database = std::move(db);
  return {};
}

Status Database::Commit() {
  if (!inBatch_) return {};
  inBatch_ = false;
  MDbClearFailureCause();
  // A find's found set goes within the change, so none outlives it.
  MDbRecsetDestroy(env(), &recordSet_);
  if (std::int32_t rc = MDbEndWriteBatch(env(), 1); rc != MDbErrNone) return EngineFailed(rc);
  return {};
}

Status OpenDatabase(const std::string& given, const Selection& selection, Access access,
                    std::unique_ptr<Database>* database) {
  database->reset();
  DatabasePath path;
  if (Status s = ResolveDatabasePath(given, &path); !s.ok()) return s;
  std::unique_ptr<Database> db;
  if (Status s = Database::Open(path, access, &db); !s.ok()) return s;
  if (Status s = db->Select(selection); !s.ok()) return s;
  *database = std::move(db);
  return {};
}

Status Database::EngineFailed(std::int32_t code) const { return EngineFailure(code, path_.given); }

Status Database::Failed(const std::string& what) const {
  return Status::Error(path_.given + ": " + what);
}

Status Database::LoadFields() {
  MDbEnv* e = engine_.env();
  std::uint16_t count = 0;
  if (MDbSchemaTblGetCount(e, &e->ref, &e->schema, &count) != MDbErrNone) {
    return Failed("the fields could not be read");
  }
  fields_.clear();
  for (std::uint16_t f = 0; f < count; ++f) {
    const auto field = static_cast<std::int16_t>(f);
    FieldInfo info;
    char16_t name[256] = {};
    if (MDbSchemaTblReadFldType(e, &e->ref, &e->schema, field, &info.type) != MDbErrNone ||
        MDbSchemaTblReadFldName(e, &e->ref, &e->schema, field, name, sizeof(name)) != MDbErrNone) {
      return Failed("field " + std::to_string(f + 1) + " could not be read");
    }
    info.name = Utf16ToUtf8(name);
    std::uint32_t size = 0;
    if (MDbGetFieldMaxSize(info.type, count, &size) == MDbErrNone && size > 0) {
      info.maxChars = size - 1;
    }
    fields_.push_back(std::move(info));
  }
  return {};
}

Status Database::FindField(const std::string& name, int* field) const {
  const std::u16string wanted = Utf8ToUtf16(name);
  for (std::size_t f = 0; f < fields_.size(); ++f) {
    if (EqualsIgnoreCase(Utf8ToUtf16(fields_[f].name), wanted)) {
      *field = static_cast<int>(f);
      return {};
    }
  }
  if (!name.empty() && name.find_first_not_of("0123456789") == std::string::npos &&
      name.size() < 4) {
    const int number = std::stoi(name);
    if (number >= 1 && static_cast<std::size_t>(number) <= fields_.size()) {
      *field = number - 1;
      return {};
    }
  }
  std::string names;
  for (const FieldInfo& f : fields_) names += (names.empty() ? "" : ", ") + f.name;
  return Status(StatusCode::kNotFound,
                path_.given + ": there is no field '" + name + "'; the fields are " + names);
}

Status Database::Select(const Selection& selection) {
  int findField = -1;
  int sortField = -1;
  if (selection.findField) {
    if (Status s = FindField(*selection.findField, &findField); !s.ok()) return s;
  }
  if (selection.sortField) {
    if (Status s = FindField(*selection.sortField, &sortField); !s.ok()) return s;
  }
  if (findField < 0 && sortField < 0) return {};  // the whole table, as opened
  std::int32_t rc = MDbRecsetDestroy(env(), &recordSet_);
  if (rc == MDbErrNone) {
    findText_ = StoredText(Utf8ToUtf16(selection.findText));
    MDbFindRequest request{static_cast<std::int16_t>(findField), 0, findText_.c_str()};
    rc = MDbAgentQuery(env(), &recordSet_, findField >= 0 ? &request : nullptr);
  }
  if (rc == MDbErrNone && sortField >= 0) {
    rc = MDbRecsetSort(env(), &recordSet_, static_cast<std::int16_t>(sortField),
                       selection.descending ? 1 : 0);
  }
  if (rc != MDbErrNone) return EngineFailed(rc);
  return {};
}

std::uint32_t Database::count() {
  std::uint32_t n = 0;
  if (MDbRecsetGetRecCount(env(), &recordSet_, &n) != MDbErrNone) return 0;
  return n;
}

Status Database::ReadRecord(std::uint32_t position, std::vector<std::u16string>* values,
                            std::uint8_t* state, std::uint8_t* identity) {
  std::int32_t rc = MDbRecsetSetInx(env(), &recordSet_, static_cast<std::int16_t>(position));
  if (rc == MDbErrNone) rc = MDbRecsetOpenRec(env(), &recordSet_);
  if (rc == MDbErrNone) rc = ReadOpenRecord(&recordSet_.rec, values, state, identity);
  MDbRecsetCloseRec(env(), &recordSet_);
  if (rc != MDbErrNone) return Failed("record " + std::to_string(position + 1) + " cannot be read");
  return {};
}

Status Database::ReadDeletedRecord(std::uint32_t position, std::vector<std::u16string>* values,
                                   std::uint8_t* state, std::uint8_t* identity) {
  MDbEnv* e = env();
  MDbDataRec record;
  MDbDataRecInitialize(&record);
  std::int32_t rc = MDbDeleteTblOpenRec(e, &e->ref, &e->data, &record,
                                        static_cast<std::int16_t>(position), nullptr);
  if (rc == MDbErrNone) {
    rc = ReadOpenRecord(&record, values, state, identity);
    MDbDataTblCloseRec(e, &e->ref, &e->data, &record);
  }
  if (rc != MDbErrNone) {
    return Failed("record " + std::to_string(position + 1) + " of the delete table cannot be read");
  }
  return {};
}

std::int32_t Database::ReadOpenRecord(MDbDataRec* record, std::vector<std::u16string>* values,
                                      std::uint8_t* state, std::uint8_t* identity) {
  MDbEnv* e = env();
  values->assign(fields_.size(), std::u16string());
  std::int32_t rc = MDbErrNone;
  if (state) rc = MDbDataRecGetState(e, &e->ref, &e->data, record, state);
  if (identity && rc == MDbErrNone) {
    rc = MDbDataRecGetRecInfo(e, &e->ref, &e->data, record, identity);
  }
  for (std::size_t f = 0; f < fields_.size() && rc == MDbErrNone; ++f) {
    const char16_t* text = nullptr;
    rc = MDbDataRecGetFieldPtr(e, &e->ref, &e->data, &e->schema, record,
                               static_cast<std::int16_t>(f), &text);
    if (rc == MDbErrNone) (*values)[f] = Utf16View(text);
  }
  return rc;
}

std::uint32_t Database::deletedCount() {
  MDbEnv* e = env();
  std::uint32_t n = 0;
  if (MDbDeleteTblGetRecCount(e, &e->ref, &e->data, &n) != MDbErrNone) return 0;
  return n;
}

Status Database::CheckValue(int field, const std::u16string& value) {
  const FieldInfo& info = fields_[static_cast<std::size_t>(field)];
  return CheckFieldValue(env(), info.type, info.maxChars, value,
                         path_.given + ": field '" + info.name + "'");
}

}  // namespace tbm::engine
