// Mounting a volume: checking the path and the disposition, opening the
// connection over a new or an existing file, creating the layout of a new
// one or checking an existing one, and closing it again.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "HostErrors.h"
#include "Volume.h"

namespace tbm::store {
namespace {

constexpr std::int64_t kApplicationId = 0x54424D56;  // "TBMV", as VolumeFile.cpp checks it
constexpr std::int64_t kFormatVersion = 1;
constexpr int kBusyTimeoutMs = 5000;

}  // namespace

std::shared_ptr<Volume> Volume::Mount(const std::string& hostPath, DWORD disposition,
                                      Status* failure) {
  struct stat st {};
  const bool exists = ::stat(hostPath.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) {
    *failure = PlatformFailure(ERROR_ACCESS_DENIED,
                               "'" + hostPath + "' is a folder, not a database volume");
    return nullptr;
  }
  if (exists && !S_ISREG(st.st_mode)) {
    // A pipe or a device would never end, or never start, a read.
    *failure = PlatformFailure(ERROR_BAD_FORMAT,
                               "'" + hostPath + "' is not a file, so not a database volume");
    return nullptr;
  }
  bool create = false;
  switch (disposition) {
    case CREATE_NEW:
      if (exists) {
        *failure = PlatformFailure(ERROR_FILE_EXISTS, "'" + hostPath + "' already exists");
        return nullptr;
      }
      create = true;
      break;
    case OPEN_EXISTING:
      if (!exists) {
        *failure = PlatformFailure(ERROR_FILE_NOT_FOUND, "'" + hostPath + "' does not exist");
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
      *failure = PlatformFailure(ERROR_INVALID_PARAMETER, "unknown mount disposition");
      return nullptr;
  }
  // Replacing an existing file: only a volume, and only while nobody uses
  // it; the old file stays locked until the new one is made.
  VolumeFileLock replaced;
  if (disposition == CREATE_ALWAYS && exists) {
    if (!replaced.Acquire(hostPath, VolumeFileLock::Mode::kExclusive, failure)) return nullptr;
    if (CheckHeader(replaced.fd()) != HeaderCheck::kVolume) {
      *failure = PlatformFailure(
          ERROR_BAD_FORMAT,
          "'" + hostPath + "' is not a Tabulon Mobile database volume; not replaced");
      return nullptr;
    }
    for (const char* suffix : {"-wal", "", "-shm"}) ::unlink((hostPath + suffix).c_str());
  }
  std::shared_ptr<Volume> volume(new Volume());
  if (!volume->keyMaker_.ok()) {
    *failure = PlatformFailure(ERROR_INTERNAL_ERROR, "the text collation data could not be loaded");
    return nullptr;
  }
  if (!volume->Open(hostPath, create, failure)) return nullptr;
  return volume;
}

Volume::~Volume() {
  Status ignored;
  Close(&ignored);
}

bool Volume::Open(const std::string& hostPath, bool create, Status* failure) {
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

bool Volume::OpenConnection(bool create, Status* failure) {
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
  contentChecked_ = create;
  contentDamage_.clear();
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

bool Volume::CreateLayout(Status* failure) {
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
  // The layout went into the WAL; the file's own header, which other
  // processes check before they mount (CheckHeader), gets the application
  // id only at a checkpoint. One now, while the new file is still locked
  // against them, so that a volume its creator keeps mounted is never taken
  // for another program's file.
  if (sqlite3_exec(db_, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr) !=
      SQLITE_OK) {
    return SqlFail(failure, "cannot create the database volume");
  }
  return true;
}

// A failed check of a volume's file says "damaged" only when SQLite found
// the file's content at fault; the volume being busy, unreadable or
// unwritable for this process, or memory running out, is said as such.
bool Volume::CheckFailed(Status* failure, int rc, const std::string& damaged) const {
  if (!IsContentFault(rc)) return SqlFail(failure, "mount");
  return Fail(failure, ERROR_FILE_CORRUPT, damaged);
}

bool Volume::IsContentFault(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_NOMEM:
    case SQLITE_FULL:
      return false;
    case SQLITE_IOERR:
      return rc == SQLITE_IOERR_SHORT_READ;
    default:
      return true;
  }
}

// Mounting checks what every use of the volume relies on: its format
// version and its tables. SQLite itself refuses a file cut short and any page
// it reads that is damaged, so a damaged record is reported when it is read;
// the walk over every page waits for the first write (CheckContent).
bool Volume::CheckLayout(Status* failure) {
  const std::string damaged = Damaged("");
  Statement version(db_, "PRAGMA user_version");
  if (!version.Valid()) return CheckFailed(failure, sqlite3_extended_errcode(db_), damaged);
  if (const int rc = version.Step(); rc != SQLITE_ROW) return CheckFailed(failure, rc, damaged);
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
    return Fail(failure, ERROR_FILE_CORRUPT, Damaged(" (tables missing)"));
  }
  return true;
}

// Before this process first writes into a volume it walks every page of it,
// so that nothing is ever written into a damaged file. A volume found
// damaged stays refused for writing until it is unmounted.
bool Volume::CheckContent(Status* failure) {
  if (contentChecked_) return true;
  if (contentDamage_.empty()) {
    Statement check(db_, "PRAGMA quick_check");
    const int rc = check.Valid() ? check.Step() : sqlite3_extended_errcode(db_);
    if (rc == SQLITE_ROW && check.Text(0) == "ok") {
      contentChecked_ = true;
      return true;
    }
    if (rc == SQLITE_ROW) {
      contentDamage_ = Damaged(" (" + check.Text(0) + ")");
    } else if (IsContentFault(rc)) {
      contentDamage_ = Damaged("");
    } else {
      return SqlFail(failure, "cannot check the volume before writing");
    }
    // Nothing is checkpointed into a damaged file when it is unmounted.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  }
  return Fail(failure, ERROR_FILE_CORRUPT, contentDamage_);
}

std::string Volume::Damaged(const std::string& detail) const {
  return "'" + path_ + "' is a damaged Tabulon Mobile database volume" + detail;
}

bool Volume::Close(Status* failure) {
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

}  // namespace tbm::store
