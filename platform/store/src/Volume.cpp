#include "Volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unicode/ustring.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>

#include "FaultPoint.h"
#include "Utf16.h"

namespace tbm::store {
namespace {

constexpr std::int64_t kApplicationId = 0x54424D56;  // "TBMV", as VolumeFile.cpp checks it
constexpr std::int64_t kFormatVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

std::vector<std::uint8_t> PackUtf16(std::u16string_view text) {
  std::vector<std::uint8_t> out(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    out[2 * i] = static_cast<std::uint8_t>(text[i]);
    out[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
  return out;
}

std::optional<std::u16string> UnpackUtf16(std::span<const std::uint8_t> bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::u16string out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return out;
}

std::u16string Fold(std::u16string_view name) {
  std::u16string out(name.size() * 3 + 1, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = u_strFoldCase(out.data(), static_cast<int32_t>(out.size()), name.data(),
                                  static_cast<int32_t>(name.size()), U_FOLD_CASE_DEFAULT, &status);
  if (U_FAILURE(status)) return std::u16string(name);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::vector<std::uint8_t> PackSorts(const std::vector<SORTORDERSPEC>& sorts) {
  std::vector<std::uint8_t> out;
  for (const auto& s : sorts) {
    for (DWORD v : {s.propid, s.dwFlags}) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
  }
  return out;
}

std::optional<std::vector<SORTORDERSPEC>> UnpackSorts(std::span<const std::uint8_t> bytes) {
  if (bytes.size() % 8 != 0 || bytes.size() > 8 * CEDB_MAXSORTORDER) return std::nullopt;
  std::vector<SORTORDERSPEC> out;
  for (std::size_t at = 0; at < bytes.size(); at += 8) {
    auto word = [&](std::size_t o) {
      return static_cast<DWORD>(bytes[o] | (bytes[o + 1] << 8) | (bytes[o + 2] << 16) |
                                (static_cast<DWORD>(bytes[o + 3]) << 24));
    };
    SORTORDERSPEC s{word(at), word(at + 4)};
    if (!IsKnownType(TypeFromPropId(s.propid))) return std::nullopt;
    out.push_back(s);
  }
  return out;
}

bool FindValue(const std::vector<StoredProperty>& props, CEPROPID id,
               std::span<const std::uint8_t>* value) {
  for (const auto& p : props) {
    if (p.id == id) {
      *value = p.value;
      return true;
    }
  }
  return false;
}

}  // namespace

// ---- mounting ----

std::shared_ptr<Volume> Volume::Mount(const std::string& hostPath, DWORD disposition,
                                      Failure* failure) {
  struct stat st {};
  const bool exists = ::stat(hostPath.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    *failure = {ERROR_ACCESS_DENIED, "'" + hostPath + "' is a folder, not a database volume"};
    return nullptr;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    // A pipe or a device would never end, or never start, a read.
    *failure = {ERROR_BAD_FORMAT, "'" + hostPath + "' is not a file, so not a database volume"};
    return nullptr;
  }
  bool create = false;
  switch (disposition) {
    case CREATE_NEW:
      if (exists) {
        *failure = {ERROR_FILE_EXISTS, "'" + hostPath + "' already exists"};
        return nullptr;
      }
      create = true;
      break;
    case OPEN_EXISTING:
      if (!exists) {
        *failure = {ERROR_FILE_NOT_FOUND, "'" + hostPath + "' does not exist"};
        return nullptr;
      }
      break;
    case OPEN_ALWAYS:
      create = !exists;
      break;
    case CREATE_ALWAYS:
      create = true;
      break;
    default:
      *failure = {ERROR_INVALID_PARAMETER, "unknown mount disposition"};
      return nullptr;
  }
  // Replacing an existing file: only a volume, and only while nobody uses
  // it; the old file stays locked until the new one is made.
  VolumeFileLock replaced;
  if (disposition == CREATE_ALWAYS && exists) {
    if (!replaced.Acquire(hostPath, VolumeFileLock::Mode::kExclusive, failure)) return nullptr;
    if (CheckHeader(replaced.fd()) != HeaderCheck::kVolume) {
      *failure = {ERROR_BAD_FORMAT,
                  "'" + hostPath + "' is not a Tabulon Mobile database volume; not replaced"};
      return nullptr;
    }
    for (const char* suffix : {"-wal", "", "-shm"}) ::unlink((hostPath + suffix).c_str());
  }
  std::shared_ptr<Volume> volume(new Volume());
  if (!volume->keyMaker_.ok()) {
    *failure = {ERROR_INTERNAL_ERROR, "the text collation data could not be loaded"};
    return nullptr;
  }
  if (!volume->Open(hostPath, create, failure)) return nullptr;
  return volume;
}

Volume::~Volume() {
  Failure ignored;
  Close(&ignored);
}

bool Volume::Fail(Failure* failure, DWORD error, std::string message) const {
  if (failure) *failure = {error, std::move(message)};
  return false;
}

bool Volume::SqlFail(Failure* failure, const char* what) const {
  const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_ERROR;
  std::string message = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no connection");
  DWORD error = ERROR_INTERNAL_ERROR;
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      error = ERROR_BUSY;
      message = std::string(what) + ": another program holds the database volume '" + path_ +
                "'; try again when it is done";
      break;
    case SQLITE_FULL:
      error = ERROR_DISK_FULL;
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      error = ERROR_FILE_CORRUPT;
      break;
    case SQLITE_IOERR:
      error = ERROR_WRITE_FAULT;
      break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
      error = ERROR_ACCESS_DENIED;
      break;
    case SQLITE_NOMEM:
      error = ERROR_NOT_ENOUGH_MEMORY;
      break;
    default:
      break;
  }
  if (failure) *failure = {error, std::move(message)};
  return false;
}

bool Volume::Exec(const char* sql, Failure* failure) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return SqlFail(failure, "volume");
  }
  return true;
}

bool Volume::Open(const std::string& hostPath, bool create, Failure* failure) {
  path_ = hostPath;
  if (create) {
    // Claims the name, so two creators cannot both believe they made it, and
    // keeps everyone else out until the layout is complete.
    if (!fileLock_.Create(hostPath, failure)) return false;
  } else {
    if (!fileLock_.Acquire(hostPath, VolumeFileLock::Mode::kShared, failure)) return false;
    std::string problem;
    DWORD error = ERROR_BAD_FORMAT;
    switch (CheckHeader(fileLock_.fd())) {
      case HeaderCheck::kVolume:
        break;
      case HeaderCheck::kUnreadable:
        problem = "cannot read '" + hostPath + "': " + std::strerror(errno);
        error = ERROR_ACCESS_DENIED;
        break;
      case HeaderCheck::kEmpty:
        problem = "'" + hostPath + "' is empty, not a Tabulon Mobile database volume";
        break;
      case HeaderCheck::kForeign:
        problem = "'" + hostPath + "' is not a Tabulon Mobile database volume";
        break;
    }
    if (!problem.empty()) {
      fileLock_.Release();
      return Fail(failure, error, problem);
    }
  }
  const bool hadWal = ::access((hostPath + "-wal").c_str(), F_OK) == 0;
  const bool hadShm = ::access((hostPath + "-shm").c_str(), F_OK) == 0;
  if (!OpenConnection(create, failure)) {
    UndoOpen(create, hadWal, hadShm);
    return false;
  }
  if (create) fileLock_.Downgrade();
  return true;
}

bool Volume::OpenConnection(bool create, Failure* failure) {
  if (sqlite3_open_v2(path_.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    return SqlFail(failure, "cannot open the database volume");
  }
  // A volume that fails its checks must be left exactly as it was: no
  // checkpoint may write into it when the connection closes.
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  sqlite3_extended_result_codes(db_, 1);
  if (!(create ? CreateLayout(failure) : CheckLayout(failure))) return false;
  sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
  // The page cache holds a whole volume (5000 records of a few hundred
  // bytes each) and reads go through a memory map rather than a system call
  // per page.
  return Exec("PRAGMA synchronous=NORMAL; PRAGMA cache_size=-16384; PRAGMA mmap_size=268435456",
              failure) &&
         PrepareStatements(failure) && LoadDatabases(failure);
}

// After a failed mount nothing of this process stays beside the file: a
// new volume goes entirely, and the WAL and shared-memory files that SQLite
// made for a refused one go when nobody else uses the volume and the WAL
// holds nothing (a refused volume is only read).
void Volume::UndoOpen(bool create, bool hadWal, bool hadShm) {
  for (Statement* s : AllStatements()) s->Finalize();
  if (db_) sqlite3_close_v2(db_);
  db_ = nullptr;
  if (create) {
    for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path_ + suffix).c_str());
  } else if (fileLock_.TryExclusive()) {
    struct stat wal {};
    const std::string walPath = path_ + "-wal";
    if (!hadWal && ::stat(walPath.c_str(), &wal) == 0 && wal.st_size == 0) {
      ::unlink(walPath.c_str());
    }
    if (!hadShm) ::unlink((path_ + "-shm").c_str());
  }
  fileLock_.Release();
}

bool Volume::CreateLayout(Failure* failure) {
  static const char* const kLayout =
      "PRAGMA journal_mode=WAL;"
      "PRAGMA application_id=1413631318;"
      "PRAGMA user_version=1;"
      "BEGIN;"
      "CREATE TABLE volume(key TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;"
      "INSERT INTO volume VALUES('next_oid', 1);"
      "CREATE TABLE dbs(oid INTEGER PRIMARY KEY, name BLOB NOT NULL, folded BLOB NOT NULL UNIQUE,"
      " type INTEGER NOT NULL, sorts BLOB NOT NULL);"
      "CREATE TABLE rec(oid INTEGER PRIMARY KEY, db INTEGER NOT NULL, image BLOB NOT NULL);"
      "CREATE TABLE keys(db INTEGER NOT NULL, slot INTEGER NOT NULL, key BLOB NOT NULL,"
      " oid INTEGER NOT NULL, PRIMARY KEY(db, slot, key, oid)) WITHOUT ROWID;"
      "COMMIT;";
  static_assert(kApplicationId == 1413631318);
  static_assert(kFormatVersion == 1);
  if (sqlite3_exec(db_, kLayout, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return SqlFail(failure, "cannot create the database volume");
  }
  return true;
}

// A failed check of a volume's file says "damaged" only when SQLite found
// the file's content at fault; the volume being busy, unreadable or
// unwritable for this process, or memory running out, is said as such.
bool Volume::CheckFailed(Failure* failure, int rc, const std::string& damaged) const {
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_NOMEM:
    case SQLITE_FULL:
      return SqlFail(failure, "mount");
    case SQLITE_IOERR:
      if (rc != SQLITE_IOERR_SHORT_READ) return SqlFail(failure, "mount");
      break;
    default:
      break;
  }
  return Fail(failure, ERROR_FILE_CORRUPT, damaged);
}

bool Volume::CheckLayout(Failure* failure) {
  const std::string damaged = "'" + path_ + "' is a damaged Tabulon Mobile database volume";
  // The check reads every page once; a small cache keeps it from holding
  // them all.
  if (int rc = sqlite3_exec(db_, "PRAGMA cache_size=-256", nullptr, nullptr, nullptr);
      rc != SQLITE_OK) {
    return CheckFailed(failure, sqlite3_extended_errcode(db_), damaged);
  }
  Statement check(db_, "PRAGMA quick_check");
  if (!check.Valid()) return CheckFailed(failure, sqlite3_extended_errcode(db_), damaged);
  const int rc = check.Step();
  if (rc != SQLITE_ROW) return CheckFailed(failure, rc, damaged);
  if (check.Text(0) != "ok")
    return Fail(failure, ERROR_FILE_CORRUPT, damaged + " (" + check.Text(0) + ")");
  check.Finalize();

  Statement version(db_, "PRAGMA user_version");
  if (!version.Valid() || version.Step() != SQLITE_ROW)
    return Fail(failure, ERROR_FILE_CORRUPT, damaged);
  if (version.Int(0) != kFormatVersion) {
    return Fail(failure, ERROR_BAD_FORMAT,
                "'" + path_ + "' is a database volume of another format version (" +
                    std::to_string(version.Int(0)) + ")");
  }
  version.Finalize();
  Statement tables(db_,
                   "SELECT count(*) FROM sqlite_schema WHERE name IN "
                   "('volume','dbs','rec','keys')");
  if (!tables.Valid() || tables.Step() != SQLITE_ROW || tables.Int(0) != 4) {
    return Fail(failure, ERROR_FILE_CORRUPT, damaged + " (tables missing)");
  }
  return true;
}

bool Volume::PrepareStatements(Failure* failure) {
  // Keyed orders bind ?1 database, ?2 slot, ?3 key, ?4 object id, ?5 skip;
  // natural order uses the same numbers and ignores ?2 and ?3.
  struct Item {
    Statement* s;
    const char* sql;
  };
  const Item items[] = {
      {&keyed_.atStart,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 ORDER BY k.key, k.oid LIMIT 1 OFFSET ?5"},
      {&keyed_.atEnd,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 ORDER BY k.key DESC, k.oid DESC LIMIT 1 OFFSET ?5"},
      {&keyed_.after,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 AND (k.key, k.oid) > (?3, ?4) "
       "ORDER BY k.key, k.oid LIMIT ?6 OFFSET ?5"},
      {&keyed_.before,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 AND (k.key, k.oid) < (?3, ?4) "
       "ORDER BY k.key DESC, k.oid DESC LIMIT ?6 OFFSET ?5"},
      {&keyed_.countBefore,
       "SELECT count(*) FROM keys WHERE db = ?1 AND slot = ?2 AND (key, oid) < (?3, ?4)"},
      {&natural_.atStart,
       "SELECT oid, NULL, image FROM rec WHERE db = ?1 ORDER BY oid LIMIT 1 OFFSET ?5"},
      {&natural_.atEnd,
       "SELECT oid, NULL, image FROM rec WHERE db = ?1 ORDER BY oid DESC LIMIT 1 OFFSET ?5"},
      {&natural_.after,
       "SELECT oid, NULL, image FROM rec WHERE db = ?1 AND oid > ?4 "
       "ORDER BY oid LIMIT ?6 OFFSET ?5"},
      {&natural_.before,
       "SELECT oid, NULL, image FROM rec WHERE db = ?1 AND oid < ?4 "
       "ORDER BY oid DESC LIMIT ?6 OFFSET ?5"},
      {&natural_.countBefore, "SELECT count(*) FROM rec WHERE db = ?1 AND oid < ?4"},
      {&keyEqual_,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 AND k.key = ?3 ORDER BY k.oid LIMIT 1"},
      {&keyBelow_,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 AND k.key < ?3 ORDER BY k.key DESC, k.oid DESC LIMIT 1"},
      {&keyAbove_,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 AND k.key > ?3 ORDER BY k.key, k.oid LIMIT 1"},
      {&dataVersion_s_, "PRAGMA data_version"},
      {&recordByOid_, "SELECT db, image FROM rec WHERE oid = ?1"},
      {&insertRecord_, "INSERT INTO rec(oid, db, image) VALUES(?1, ?2, ?3)"},
      {&updateRecord_, "UPDATE rec SET image = ?2 WHERE oid = ?1"},
      {&deleteRecord_, "DELETE FROM rec WHERE oid = ?1"},
      {&insertKey_, "INSERT INTO keys(db, slot, key, oid) VALUES(?1, ?2, ?3, ?4)"},
      {&deleteKey_, "DELETE FROM keys WHERE db = ?1 AND slot = ?2 AND key = ?3 AND oid = ?4"},
      {&countInSlot_, "SELECT count(*) FROM keys WHERE db = ?1 AND slot = ?2"},
      {&savepoint_, "SAVEPOINT store_call"},
      {&release_, "RELEASE store_call"},
      {&rollbackTo_, "ROLLBACK TO store_call"},
      {&imagesOfDb_,
       "SELECT k.oid, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2"},
      {&begin_, "BEGIN"},
      {&beginImmediate_, "BEGIN IMMEDIATE"},
      {&commit_, "COMMIT"},
      {&rollback_, "ROLLBACK"},
      {&readNextOid_, "SELECT value FROM volume WHERE key = 'next_oid'"},
      {&writeNextOid_, "UPDATE volume SET value = ?1 WHERE key = 'next_oid'"},
  };
  for (const auto& item : items) {
    if (item.s->Prepare(db_, item.sql) != SQLITE_OK) {
      return SqlFail(failure, "cannot prepare the volume's statements");
    }
  }
  StatementUse use(dataVersion_s_);
  if (dataVersion_s_.Step() != SQLITE_ROW) return SqlFail(failure, "mount");
  dataVersion_ = dataVersion_s_.Int(0);
  return true;
}

bool Volume::LoadDatabases(Failure* failure) {
  databases_.clear();
  Statement s(db_, "SELECT oid, name, type, sorts FROM dbs ORDER BY oid");
  if (!s.Valid()) return SqlFail(failure, "cannot read the volume's databases");
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    DatabaseInfo info;
    info.oid = static_cast<CEOID>(s.Int(0));
    auto name = UnpackUtf16(s.Blob(1));
    auto sorts = UnpackSorts(s.Blob(3));
    if (!name || !sorts || s.Int(0) <= 0 || s.Int(0) > 0xFFFFFFFF) {
      return Fail(failure, ERROR_FILE_CORRUPT,
                  "'" + path_ + "' is a damaged Tabulon Mobile database volume (database list)");
    }
    info.name = std::move(*name);
    info.type = static_cast<DWORD>(s.Int(2));
    info.sorts = std::move(*sorts);
    databases_[info.oid] = std::move(info);
  }
  if (rc != SQLITE_DONE) return SqlFail(failure, "cannot read the volume's databases");
  // Every record has one key in its database's primary slot, so counting
  // those counts the records.
  for (auto& [oid, info] : databases_) {
    StatementUse use(countInSlot_);
    countInSlot_.BindInt(1, oid);
    countInSlot_.BindInt(2, PrimarySlot(info));
    if (countInSlot_.Step() != SQLITE_ROW) return SqlFail(failure, "cannot count the records");
    info.count = static_cast<DWORD>(countInSlot_.Int(0));
  }
  return true;
}

bool Volume::Close(Failure* failure) {
  if (!db_) return true;
  // Unmounting ends a batch left open the way unmounting always flushes.
  batchDepth_ = 0;
  bool ok = batchAbandoned_ ? RollBack(failure) : Flush(failure);
  batchAbandoned_ = false;
  if (inWrite_) {
    // The flush failed: what was not flushed is given up, as if the process
    // had stopped here.
    Run(rollback_);
    inWrite_ = false;
  }
  nextOidKnown_ = false;
  EndRead();
  for (Statement* s : AllStatements()) s->Finalize();
  if (sqlite3_close_v2(db_) != SQLITE_OK) ok = SqlFail(failure, "cannot close the volume") && ok;
  db_ = nullptr;
  fileLock_.Release();
  return ok;
}

std::vector<Statement*> Volume::AllStatements() {
  return {
      &keyed_.atStart,   &keyed_.atEnd,    &keyed_.after,   &keyed_.before,   &keyed_.countBefore,
      &natural_.atStart, &natural_.atEnd,  &natural_.after, &natural_.before, &natural_.countBefore,
      &dataVersion_s_,   &keyEqual_,       &keyBelow_,      &keyAbove_,       &recordByOid_,
      &insertRecord_,    &updateRecord_,   &deleteRecord_,  &insertKey_,      &deleteKey_,
      &countInSlot_,     &savepoint_,      &release_,       &rollbackTo_,     &imagesOfDb_,
      &begin_,           &beginImmediate_, &commit_,        &rollback_,       &readNextOid_,
      &writeNextOid_};
}

int Volume::Run(Statement& s) {
  StatementUse use(s);
  return s.Step();
}

// ---- transactions and change tracking ----
//
// Beginning a read transaction costs the host file locks, which would make
// every call of a walk pay for them. So between writes the connection keeps
// one read snapshot open across calls, and takes a fresh one when it is
// older than kSnapshotAge, when a handle is opened, and before writing.
// Another process's flushed writes are thus seen at once by a handle opened
// after the flush, and by every call within kSnapshotAge of it.

void Volume::EndRead() {
  if (!readOpen_) return;
  Run(commit_);
  readOpen_ = false;
}

bool Volume::NoteVersion(Failure* failure) {
  std::int64_t version;
  {
    StatementUse use(dataVersion_s_);
    if (dataVersion_s_.Step() != SQLITE_ROW) return SqlFail(failure, "cannot read the volume");
    version = dataVersion_s_.Int(0);
  }
  if (version == dataVersion_) return true;
  dataVersion_ = version;
  orderStamps_.clear();
  contentStamps_.clear();
  baseStamp_ = ++stampCounter_;
  return LoadDatabases(failure);
}

// The monotonic time at the clock's coarse resolution (a few milliseconds),
// which is fine for aging a snapshot and costs far less than the precise
// clock on a call made once per store call.
static std::chrono::nanoseconds CoarseNow() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

bool Volume::Refresh(Failure* failure, bool fresh) {
  if (!db_) return Fail(failure, ERROR_INVALID_HANDLE, "the volume is not mounted");
  if (inWrite_) return true;  // nobody else can commit while this process writes
  const auto now = CoarseNow();
  if (readOpen_ && !fresh && now - readSince_ < kSnapshotAge) return true;
  EndRead();
  if (Run(begin_) != SQLITE_DONE) return SqlFail(failure, "cannot read the volume");
  readOpen_ = true;
  readSince_ = now;
  return NoteVersion(failure);
}

bool Volume::StartWrite(Failure* failure) {
  if (!db_) return Fail(failure, ERROR_INVALID_HANDLE, "the volume is not mounted");
  return BeginWrite(failure);
}

void Volume::AbandonUnusedWrite() {
  if (db_ && inWrite_ && !wroteInTransaction_ && batchDepth_ == 0) {
    Run(commit_);
    inWrite_ = false;
  }
}

bool Volume::BeginWrite(Failure* failure) {
  if (inWrite_) return true;
  EndRead();
  if (Run(beginImmediate_) != SQLITE_DONE) return SqlFail(failure, "cannot write");
  inWrite_ = true;
  wroteInTransaction_ = false;
  // Another process may have committed since the last snapshot; what it
  // wrote must be seen before this one writes. When nobody else committed,
  // the object counter held here is still the volume's.
  const std::int64_t seen = dataVersion_;
  if (!NoteVersion(failure)) return false;
  if (nextOidKnown_ && seen == dataVersion_) return true;
  StatementUse use(readNextOid_);
  if (readNextOid_.Step() != SQLITE_ROW || readNextOid_.Int(0) < 1) {
    return Fail(failure, ERROR_FILE_CORRUPT,
                "'" + path_ + "' is a damaged Tabulon Mobile database volume (object counter)");
  }
  nextOid_ = static_cast<std::uint64_t>(readNextOid_.Int(0));
  reservedOids_ = nextOid_;
  nextOidKnown_ = true;
  return true;
}

// Object identifiers are handed out from blocks reserved in the volume, so
// the counter is written once per block rather than once per record. A
// block given up (by another process's write, or a process that died) only
// leaves a gap; no identifier is ever handed out twice.
bool Volume::AllocateOid(CEOID* oid, Failure* failure) {
  if (nextOid_ > 0xFFFFFFFF) {
    return Fail(failure, ERROR_DISK_FULL, "the volume has used up its object identifiers");
  }
  if (nextOid_ >= reservedOids_) {
    const std::uint64_t reserve = std::min<std::uint64_t>(nextOid_ + kOidBlock, 0x100000000);
    StatementUse use(writeNextOid_);
    writeNextOid_.BindInt(1, static_cast<std::int64_t>(reserve));
    if (writeNextOid_.Step() != SQLITE_DONE) return SqlFail(failure, "cannot write");
    reservedOids_ = reserve;
  }
  *oid = static_cast<CEOID>(nextOid_++);
  return true;
}

bool Volume::Flush(Failure* failure) {
  if (!db_) return Fail(failure, ERROR_INVALID_HANDLE, "the volume is not mounted");
  if (!inWrite_ || batchDepth_ > 0) return true;
  if (Run(commit_) != SQLITE_DONE) return SqlFail(failure, "cannot flush the volume");
  inWrite_ = false;
  FaultPoint(Fault::kAfterFlush);
  return true;
}

bool Volume::BeginBatch(Failure* failure) {
  if (!db_) return Fail(failure, ERROR_INVALID_HANDLE, "the volume is not mounted");
  if (batchDepth_ == 0) {
    if (!BeginWrite(failure)) return false;
    batchAbandoned_ = false;
  }
  ++batchDepth_;
  return true;
}

bool Volume::EndBatch(bool keep, Failure* failure) {
  if (!db_) return Fail(failure, ERROR_INVALID_HANDLE, "the volume is not mounted");
  if (batchDepth_ == 0) return Fail(failure, ERROR_INVALID_PARAMETER, "no batch is open");
  if (!keep) batchAbandoned_ = true;
  if (--batchDepth_ > 0) return true;
  if (batchAbandoned_) {
    batchAbandoned_ = false;
    RollBack(nullptr);
    return keep ? Fail(failure, ERROR_INVALID_PARAMETER,
                       "a batch inside this one gave up its writes; none was kept")
                : true;
  }
  return Flush(failure);
}

// Gives up every write since the last flush. What this process remembers of
// the volume (its databases, the object counter, the order stamps of open
// handles) is read afresh, as after another process's commit.
bool Volume::RollBack(Failure* failure) {
  if (!inWrite_) return true;
  Run(rollback_);
  inWrite_ = false;
  nextOidKnown_ = false;
  orderStamps_.clear();
  contentStamps_.clear();
  baseStamp_ = ++stampCounter_;
  return LoadDatabases(failure);
}

// Each write call runs inside a savepoint, so that it lands whole or not at
// all within the transaction that the next flush commits.
bool Volume::BeginSavepoint(Failure* failure, const char* what) {
  if (Run(savepoint_) != SQLITE_DONE) return SqlFail(failure, what);
  return true;
}

bool Volume::EndSavepoint(bool ok) {
  if (!ok) Run(rollbackTo_);
  Run(release_);
  if (ok) {
    wroteInTransaction_ = true;
    FaultPoint(Fault::kAfterWrite);
  }
  return ok;
}

int Volume::PrimarySlot(const DatabaseInfo& info) { return info.sorts.empty() ? kNaturalSlot : 0; }

// Natural order is kept as a slot of its own for a database without sort
// orders (the delete table); a database with sort orders is walked in
// natural order by scanning its records.
std::pair<Volume::OrderStatements*, int> Volume::Order(CEOID db, int slot) {
  if (slot != kNaturalOrder) return {&keyed_, slot};
  const DatabaseInfo* info = Database(db);
  if (info && info->sorts.empty()) return {&keyed_, kNaturalSlot};
  return {&natural_, kNaturalOrder};
}

void Volume::BumpOrder(CEOID db) { orderStamps_[db] = ++stampCounter_; }

void Volume::BumpContent(CEOID db) { contentStamps_[db] = ++stampCounter_; }

std::uint64_t Volume::ContentStamp(CEOID db) const {
  const auto it = contentStamps_.find(db);
  return it == contentStamps_.end() ? baseStamp_ : it->second;
}

std::uint64_t Volume::OrderStamp(CEOID db) const {
  const auto it = orderStamps_.find(db);
  return it == orderStamps_.end() ? baseStamp_ : it->second;
}

// ---- databases ----

const DatabaseInfo* Volume::Database(CEOID oid) const {
  const auto it = databases_.find(oid);
  return it == databases_.end() ? nullptr : &it->second;
}

const DatabaseInfo* Volume::DatabaseByName(std::u16string_view name) const {
  for (const auto& [oid, info] : databases_) {
    if (EqualsIgnoreCase(info.name, name)) return &info;
  }
  return nullptr;
}

std::vector<CEOID> Volume::Databases(DWORD type) const {
  std::vector<CEOID> out;
  for (const auto& [oid, info] : databases_) {
    if (type == 0 || info.type == type) out.push_back(oid);
  }
  return out;
}

CEOID Volume::CreateDatabase(std::u16string_view name, DWORD type,
                             const std::vector<SORTORDERSPEC>& sorts, Failure* failure) {
  if (DatabaseByName(name)) {
    Fail(failure, ERROR_DUP_NAME, "a database with this name exists in the volume");
    return 0;
  }
  if (!BeginWrite(failure)) return 0;
  if (DatabaseByName(name)) {
    Fail(failure, ERROR_DUP_NAME, "a database with this name exists in the volume");
    return 0;
  }
  CEOID oid = 0;
  if (!AllocateOid(&oid, failure)) return 0;
  Statement insert(db_,
                   "INSERT INTO dbs(oid, name, folded, type, sorts) VALUES(?1, ?2, ?3, ?4, ?5)");
  const auto packedName = PackUtf16(name);
  const auto packedFold = PackUtf16(Fold(name));
  const auto packedSorts = PackSorts(sorts);
  insert.BindInt(1, oid);
  insert.BindBlob(2, packedName);
  insert.BindBlob(3, packedFold);
  insert.BindInt(4, type);
  insert.BindBlob(5, packedSorts);
  if (insert.Step() != SQLITE_DONE) {
    SqlFail(failure, "cannot create the database");
    return 0;
  }
  wroteInTransaction_ = true;
  databases_[oid] = DatabaseInfo{oid, std::u16string(name), type, 0, sorts};
  BumpOrder(oid);
  return oid;
}

bool Volume::DeleteDatabase(CEOID oid, Failure* failure) {
  if (!Database(oid)) return Fail(failure, ERROR_INVALID_PARAMETER, "no such database");
  if (!BeginWrite(failure)) return false;
  const DatabaseInfo* info = Database(oid);
  if (!info) return Fail(failure, ERROR_INVALID_PARAMETER, "no such database");
  const int primary = PrimarySlot(*info);
  if (!BeginSavepoint(failure, "cannot delete the database")) return false;
  bool ok = true;
  for (const char* sql :
       {"DELETE FROM rec WHERE oid IN (SELECT oid FROM keys WHERE db = ?1 AND slot = ?2)",
        "DELETE FROM keys WHERE db = ?1", "DELETE FROM dbs WHERE oid = ?1"}) {
    Statement s(db_, sql);
    s.BindInt(1, oid);
    if (sqlite3_bind_parameter_count(s.get()) >= 2) s.BindInt(2, primary);
    if (s.Step() != SQLITE_DONE) {
      ok = SqlFail(failure, "cannot delete the database");
      break;
    }
  }
  if (!EndSavepoint(ok)) return false;
  databases_.erase(oid);
  BumpOrder(oid);
  BumpContent(oid);
  return true;
}

bool Volume::InsertKeys(CEOID db, int slot, std::vector<std::pair<SortKey, CEOID>>& rows,
                        Failure* failure) {
  std::sort(rows.begin(), rows.end());
  for (const auto& [key, oid] : rows) {
    StatementUse use(insertKey_);
    insertKey_.BindInt(1, db);
    insertKey_.BindInt(2, slot);
    insertKey_.BindBlob(3, key);
    insertKey_.BindInt(4, oid);
    if (insertKey_.Step() != SQLITE_DONE) return SqlFail(failure, "cannot order the records");
  }
  return true;
}

bool Volume::SetDatabaseInfo(CEOID oid, const std::optional<std::u16string>& name,
                             std::optional<DWORD> type,
                             const std::optional<std::vector<SORTORDERSPEC>>& sorts,
                             Failure* failure) {
  const DatabaseInfo* current = Database(oid);
  if (!current) return Fail(failure, ERROR_INVALID_PARAMETER, "no such database");
  if (name) {
    const DatabaseInfo* other = DatabaseByName(*name);
    if (other && other->oid != oid) {
      return Fail(failure, ERROR_DUP_NAME, "a database with this name exists in the volume");
    }
  }
  if (!BeginWrite(failure)) return false;
  if (!BeginSavepoint(failure, "cannot change the database")) return false;
  DatabaseInfo updated = *current;
  if (name) updated.name = *name;
  if (type) updated.type = *type;
  if (sorts) updated.sorts = *sorts;
  bool ok = true;
  {
    Statement s(db_, "UPDATE dbs SET name = ?2, folded = ?3, type = ?4, sorts = ?5 WHERE oid = ?1");
    const auto packedName = PackUtf16(updated.name);
    const auto packedFold = PackUtf16(Fold(updated.name));
    const auto packedSorts = PackSorts(updated.sorts);
    s.BindInt(1, oid);
    s.BindBlob(2, packedName);
    s.BindBlob(3, packedFold);
    s.BindInt(4, updated.type);
    s.BindBlob(5, packedSorts);
    if (s.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot change the database");
  }
  if (ok && sorts) ok = Reorder(*current, updated, failure);
  if (!EndSavepoint(ok)) return false;
  databases_[oid] = std::move(updated);
  BumpOrder(oid);
  return true;
}

// ---- records ----

SortKey Volume::KeyOfValue(const SORTORDERSPEC& spec, std::span<const std::uint8_t> valueBytes) {
  return keyMaker_.Make(spec, valueBytes);
}

SortKey Volume::KeyOf(const DatabaseInfo& info, int slot, std::span<const std::uint8_t> image) {
  if (slot == kNaturalOrder || slot == kNaturalSlot ||
      slot >= static_cast<int>(info.sorts.size())) {
    return {};
  }
  const SORTORDERSPEC& spec = info.sorts[static_cast<std::size_t>(slot)];
  auto props = DecodeRecordImage(image);
  std::span<const std::uint8_t> value;
  if (props && FindValue(*props, spec.propid, &value)) return keyMaker_.Make(spec, value);
  // A damaged image sorts as a record lacking the property; reading it
  // reports the damage.
  return keyMaker_.Make(spec, std::nullopt);
}

// Rebuilds the keys of every slot whose order changed; a slot that keeps its
// order keeps its keys. A database without sort orders keeps its records in
// the natural slot.
bool Volume::Reorder(const DatabaseInfo& current, const DatabaseInfo& updated, Failure* failure) {
  std::vector<int> drop, build;
  for (int slot = 0; slot < CEDB_MAXSORTORDER; ++slot) {
    const bool had = slot < static_cast<int>(current.sorts.size());
    const bool has = slot < static_cast<int>(updated.sorts.size());
    if (!had && !has) continue;
    if (had && has && current.sorts[slot].propid == updated.sorts[slot].propid &&
        current.sorts[slot].dwFlags == updated.sorts[slot].dwFlags) {
      continue;
    }
    if (had) drop.push_back(slot);
    if (has) build.push_back(slot);
  }
  if (current.sorts.empty() && !updated.sorts.empty()) drop.push_back(kNaturalSlot);
  if (!current.sorts.empty() && updated.sorts.empty()) build.push_back(kNaturalSlot);

  std::vector<std::vector<std::pair<SortKey, CEOID>>> rows(build.size());
  if (!build.empty()) {
    StatementUse use(imagesOfDb_);
    imagesOfDb_.BindInt(1, current.oid);
    imagesOfDb_.BindInt(2, PrimarySlot(current));
    int rc;
    while ((rc = imagesOfDb_.Step()) == SQLITE_ROW) {
      const CEOID rec = static_cast<CEOID>(imagesOfDb_.Int(0));
      for (std::size_t i = 0; i < build.size(); ++i) {
        rows[i].emplace_back(KeyOf(updated, build[i], imagesOfDb_.Blob(1)), rec);
      }
    }
    if (rc != SQLITE_DONE) return SqlFail(failure, "cannot read the records");
  }
  for (int slot : drop) {
    Statement s(db_, "DELETE FROM keys WHERE db = ?1 AND slot = ?2");
    s.BindInt(1, current.oid);
    s.BindInt(2, slot);
    if (s.Step() != SQLITE_DONE)
      return SqlFail(failure, "cannot change the database's sort orders");
  }
  for (std::size_t i = 0; i < build.size(); ++i) {
    if (!InsertKeys(current.oid, build[i], rows[i], failure)) return false;
  }
  return true;
}

std::optional<std::pair<CEOID, std::vector<std::uint8_t>>> Volume::Record(CEOID oid,
                                                                          Failure* failure) {
  StatementUse use(recordByOid_);
  recordByOid_.BindInt(1, oid);
  const int rc = recordByOid_.Step();
  if (rc == SQLITE_DONE) {
    Fail(failure, ERROR_NO_MORE_ITEMS, "the record does not exist");
    return std::nullopt;
  }
  if (rc != SQLITE_ROW) {
    SqlFail(failure, "cannot read the record");
    return std::nullopt;
  }
  const auto image = recordByOid_.Blob(1);
  return std::make_pair(static_cast<CEOID>(recordByOid_.Int(0)),
                        std::vector<std::uint8_t>(image.begin(), image.end()));
}

CEOID Volume::WriteRecord(CEOID db, CEOID oid, const CEPROPVAL* values, WORD count,
                          Failure* failure) {
  const DatabaseInfo* info = Database(db);
  if (!info) {
    Fail(failure, ERROR_INVALID_HANDLE, "the database no longer exists");
    return 0;
  }
  // The record as it will be: existing properties in their places, new ones
  // appended, deleted ones dropped.
  std::vector<PropertyBytes> props;
  std::vector<std::uint8_t> oldImage;
  if (oid != 0) {
    auto existing = Record(oid, failure);
    if (!existing) return 0;
    if (existing->first != db) {
      Fail(failure, ERROR_INVALID_PARAMETER, "the record belongs to another database");
      return 0;
    }
    oldImage = std::move(existing->second);
    auto decoded = DecodeRecordImage(oldImage);
    if (!decoded) {
      Fail(failure, ERROR_FILE_CORRUPT, "the record is damaged in volume '" + path_ + "'");
      return 0;
    }
    for (const auto& p : *decoded) props.push_back({p.id, {p.value.begin(), p.value.end()}});
  }
  for (WORD i = 0; i < count; ++i) {
    const CEPROPVAL& v = values[i];
    auto it = std::find_if(props.begin(), props.end(),
                           [&](const PropertyBytes& p) { return p.id == v.propid; });
    if (v.wFlags & CEDB_PROPDELETE) {
      if (it != props.end()) props.erase(it);
      continue;
    }
    std::vector<std::uint8_t> bytes;
    if (!IsKnownType(TypeFromPropId(v.propid)) || !AppendValueBytes(v, bytes)) {
      Fail(failure, ERROR_INVALID_PARAMETER,
           "property " + std::to_string(IndexFromPropId(v.propid)) +
               " has an unknown type or a value that is too large");
      return 0;
    }
    if (it != props.end()) {
      it->value = std::move(bytes);
    } else {
      props.push_back({v.propid, std::move(bytes)});
    }
  }
  std::size_t total = 0;
  for (const auto& p : props) total += PropertyDataSize(p.id, p.value.size());
  if (total > CEDB_MAXRECORDSIZE || props.size() > 0xFFFF) {
    Fail(failure, ERROR_INVALID_PARAMETER, "the record would be larger than a record may be");
    return 0;
  }
  const auto image = EncodeRecordImage(props);

  if (!BeginWrite(failure)) return 0;
  info = Database(db);  // the database list may have been reloaded
  if (!info) {
    Fail(failure, ERROR_INVALID_HANDLE, "the database no longer exists");
    return 0;
  }
  if (!BeginSavepoint(failure, "cannot write the record")) return 0;
  CEOID target = oid;
  bool ok = oid != 0 || AllocateOid(&target, failure);
  bool orderChanged = oid == 0;
  if (ok && oid == 0) {
    StatementUse use(insertRecord_);
    insertRecord_.BindInt(1, target);
    insertRecord_.BindInt(2, db);
    insertRecord_.BindBlob(3, image);
    if (insertRecord_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot write the record");
    if (ok && info->sorts.empty()) {
      StatementUse k(insertKey_);
      insertKey_.BindInt(1, db);
      insertKey_.BindInt(2, kNaturalSlot);
      insertKey_.BindBlob(3, {});
      insertKey_.BindInt(4, target);
      if (insertKey_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot write the record");
    }
  } else if (ok) {
    StatementUse use(updateRecord_);
    updateRecord_.BindInt(1, target);
    updateRecord_.BindBlob(2, image);
    if (updateRecord_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot write the record");
  }
  for (int slot = 0; ok && slot < static_cast<int>(info->sorts.size()); ++slot) {
    const SortKey newKey = KeyOf(*info, slot, image);
    if (oid != 0) {
      const SortKey oldKey = KeyOf(*info, slot, oldImage);
      if (oldKey == newKey) continue;
      orderChanged = true;
      StatementUse use(deleteKey_);
      deleteKey_.BindInt(1, db);
      deleteKey_.BindInt(2, slot);
      deleteKey_.BindBlob(3, oldKey);
      deleteKey_.BindInt(4, target);
      if (deleteKey_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot write the record");
    }
    if (!ok) break;
    StatementUse use(insertKey_);
    insertKey_.BindInt(1, db);
    insertKey_.BindInt(2, slot);
    insertKey_.BindBlob(3, newKey);
    insertKey_.BindInt(4, target);
    if (insertKey_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot write the record");
  }
  if (!EndSavepoint(ok)) return 0;
  if (oid == 0) ++databases_[db].count;
  if (orderChanged) BumpOrder(db);
  BumpContent(db);
  return target;
}

bool Volume::DeleteRecord(CEOID db, CEOID oid, Failure* failure) {
  const DatabaseInfo* info = Database(db);
  if (!info) return Fail(failure, ERROR_INVALID_HANDLE, "the database no longer exists");
  auto existing = Record(oid, failure);
  if (!existing) return false;
  if (existing->first != db) {
    return Fail(failure, ERROR_INVALID_PARAMETER, "the record belongs to another database");
  }
  if (!BeginWrite(failure)) return false;
  info = Database(db);
  if (!info) return Fail(failure, ERROR_INVALID_HANDLE, "the database no longer exists");
  if (!BeginSavepoint(failure, "cannot delete the record")) return false;
  bool ok = true;
  std::vector<int> slots;
  for (int slot = 0; slot < static_cast<int>(info->sorts.size()); ++slot) slots.push_back(slot);
  if (slots.empty()) slots.push_back(kNaturalSlot);
  for (int slot : slots) {
    if (!ok) break;
    StatementUse use(deleteKey_);
    deleteKey_.BindInt(1, db);
    deleteKey_.BindInt(2, slot);
    const SortKey key = KeyOf(*info, slot, existing->second);
    deleteKey_.BindBlob(3, key);
    deleteKey_.BindInt(4, oid);
    if (deleteKey_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot delete the record");
  }
  if (ok) {
    StatementUse use(deleteRecord_);
    deleteRecord_.BindInt(1, oid);
    if (deleteRecord_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot delete the record");
  }
  if (!EndSavepoint(ok)) return false;
  --databases_[db].count;
  BumpOrder(db);
  BumpContent(db);
  return true;
}

// ---- ordered lookups ----

std::optional<OrderRow> Volume::RowFrom(Statement& s, int rc, Failure* failure) {
  if (rc == SQLITE_DONE) {
    Fail(failure, ERROR_NO_MORE_ITEMS, "no record is there");
    return std::nullopt;
  }
  if (rc != SQLITE_ROW) {
    SqlFail(failure, "cannot seek");
    return std::nullopt;
  }
  OrderRow row;
  row.oid = static_cast<CEOID>(s.Int(0));
  const auto key = s.Blob(1);
  row.key.assign(key.begin(), key.end());
  const auto image = s.Blob(2);
  row.image.assign(image.begin(), image.end());
  return row;
}

std::optional<OrderRow> Volume::AtPosition(CEOID db, int slot, std::uint32_t position, bool fromEnd,
                                           Failure* failure) {
  auto [order, resolved] = Order(db, slot);
  OrderStatements& o = *order;
  slot = resolved;
  Statement& s = fromEnd ? o.atEnd : o.atStart;
  StatementUse use(s);
  s.BindInt(1, db);
  s.BindInt(2, slot);
  s.BindInt(5, position);
  return RowFrom(s, s.Step(), failure);
}

std::optional<OrderRow> Volume::Following(CEOID db, int slot, const SortKey& key, CEOID oid,
                                          std::uint32_t skip, bool backwards, Failure* failure) {
  auto [order, resolved] = Order(db, slot);
  Statement& s = backwards ? order->before : order->after;
  StatementUse use(s);
  s.BindInt(1, db);
  s.BindInt(2, resolved);
  s.BindBlob(3, key);
  s.BindInt(4, oid);
  s.BindInt(5, skip);
  s.BindInt(6, 1);
  return RowFrom(s, s.Step(), failure);
}

bool Volume::FollowingRows(CEOID db, int slot, const SortKey& key, CEOID oid, std::uint32_t limit,
                           std::vector<OrderRow>* rows, Failure* failure) {
  auto [order, resolved] = Order(db, slot);
  Statement& s = order->after;
  StatementUse use(s);
  s.BindInt(1, db);
  s.BindInt(2, resolved);
  s.BindBlob(3, key);
  s.BindInt(4, oid);
  s.BindInt(5, 0);
  s.BindInt(6, limit);
  rows->clear();
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    auto row = RowFrom(s, rc, failure);
    rows->push_back(std::move(*row));
  }
  if (rc != SQLITE_DONE) return SqlFail(failure, "cannot seek");
  return true;
}

std::optional<OrderRow> Volume::FirstWithKey(CEOID db, int slot, const SortKey& key,
                                             Failure* failure) {
  StatementUse use(keyEqual_);
  keyEqual_.BindInt(1, db);
  keyEqual_.BindInt(2, slot);
  keyEqual_.BindBlob(3, key);
  return RowFrom(keyEqual_, keyEqual_.Step(), failure);
}

std::optional<OrderRow> Volume::NearestKey(CEOID db, int slot, const SortKey& key, bool below,
                                           Failure* failure) {
  Statement& s = below ? keyBelow_ : keyAbove_;
  StatementUse use(s);
  s.BindInt(1, db);
  s.BindInt(2, slot);
  s.BindBlob(3, key);
  return RowFrom(s, s.Step(), failure);
}

std::optional<std::uint32_t> Volume::PositionOf(CEOID db, int slot, const SortKey& key, CEOID oid,
                                                Failure* failure) {
  auto [order, resolved] = Order(db, slot);
  OrderStatements& o = *order;
  slot = resolved;
  StatementUse use(o.countBefore);
  o.countBefore.BindInt(1, db);
  o.countBefore.BindInt(2, slot);
  o.countBefore.BindBlob(3, key);
  o.countBefore.BindInt(4, oid);
  if (o.countBefore.Step() != SQLITE_ROW) {
    SqlFail(failure, "cannot count records");
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(o.countBefore.Int(0));
}

}  // namespace tbm::store
