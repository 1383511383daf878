#include "Database.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "DevicePath.h"
#include "Explanations.h"
#include "Utf16.h"

namespace tbm::tbmdb {

namespace stdfs = std::filesystem;

namespace {

constexpr const char* kTypeNames[] = {"text", "number", "date", "time"};

}  // namespace

Status ResolveDatabasePath(const std::string& given, DatabasePath* path) {
  path->given = given;
  const std::u16string wide = Utf8ToUtf16(given);
  if (given.find('/') != std::string::npos) {
    path->host = given;
  } else {
    const MappedPath mapped = HostPathFromDevicePath(wide);
    if (!mapped) return Status::Error(given + ": " + UnmappedInWords(mapped.error, wide.size()));
    path->host = mapped.hostPath;
  }
  path->engine = Utf8ToUtf16(path->host);
  return {};
}

// The store's cause of a failure in words, or nothing when it reported
// none (or one the engine's own code says better).
std::optional<std::string> CauseInWords(const std::string& file) {
  const char* detail = nullptr;
  switch (MDbGetFailureCause(&detail)) {
    case ERROR_BUSY:
    case ERROR_SHARING_VIOLATION:
      return file +
             ": the database is busy: another program is changing it or replacing it (the "
             "handheld program, a synchronisation, another tbmdb, or one stopped in the middle "
             "of a change); try again when it has finished";
    case ERROR_DISK_FULL:
      return file +
             ": there is no space left on the disk for the change; free some space and try "
             "again (the database is as it was)";
    case ERROR_ACCESS_DENIED:
      return file + ": permission denied (" + detail +
             "); the database or its folder may not be written by you";
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
      return file + ": the disk failed to read or write the database (" + detail + ")";
    case ERROR_NOT_ENOUGH_MEMORY:
      return file + ": there is not enough memory to work on the database";
    default:
      return std::nullopt;
  }
}

std::string EngineCodeInWords(std::int32_t code, const std::string& file) {
  if (code == MDbErrFailed || code == MDbErrCannotOpen) {
    if (auto cause = CauseInWords(file)) return *cause;
  }
  switch (code) {
    case MDbErrNone:
      return file + ": no error";
    case MDbErrBadFormat:
      return file +
             ": the database was written by another version of Tabulon Mobile and cannot "
             "be read by this one";
    case MDbErrCannotOpen:
      return file + ": not a Tabulon Mobile database, or damaged: it cannot be opened";
    case MDbErrWordBreak:
      return file +
             ": the word-break data (tbmres/ beside the program) could not be loaded; "
             "reinstall Tabulon Mobile";
    case MDbErrTooManyRecords:
      return file + ": the database already holds the most records it can (5000)";
    case MDbErrInconsistent:
      return file +
             ": the database is marked inconsistent because a synchronisation did not "
             "finish rebuilding it; synchronise again to repair it";
    case MDbErrNoFields:
      return file + ": the database has no fields; synchronise it again from Tabulon Pro";
    case MDbErrBadDate:
      return file + ": a date does not fit the database's date format";
    case MDbErrBadTime:
      return file + ": a time does not fit the database's time format";
    default:
      return file + ": the database could not be read or written (the engine reported failure " +
             std::to_string(code) + ")";
  }
}

std::string TypeName(std::uint8_t type) {
  if (type >= MDbFieldText && type <= MDbFieldTime) return kTypeNames[type - 1];
  return "type " + std::to_string(type);
}

std::optional<std::uint8_t> TypeFromName(const std::string& name) {
  for (std::uint8_t t = MDbFieldText; t <= MDbFieldTime; ++t) {
    if (EqualsIgnoreCase(Utf8ToUtf16(name), Utf8ToUtf16(kTypeNames[t - 1]))) return t;
  }
  return std::nullopt;
}

std::u16string StoredText(std::u16string_view text) {
  std::u16string stored;
  stored.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      stored += u"\r\n";
      if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      stored += text[i];
    }
  }
  return stored;
}

std::string ShownText(std::u16string_view stored) {
  std::u16string text;
  text.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == u'\r' && i + 1 < stored.size() && stored[i + 1] == u'\n') continue;
    text += stored[i] == u'\r' ? u'\n' : stored[i];
  }
  return Utf16ToUtf8(text);
}

Status CheckFieldValue(MDbEnv* env, std::uint8_t type, std::uint32_t maxChars,
                       const std::u16string& value, const std::string& fieldText) {
  if (maxChars > 0 && value.size() > maxChars) {
    return Status::Error(fieldText + ": " + TooLongInWords(value, maxChars));
  }
  if (value.empty()) return {};
  if (type == MDbFieldDate) {
    MDbDateRec date{};
    MDbRecsetDateStrToDateRec(env, value.c_str(), &date, 0, nullptr);
    if (date.status != MDbDateValid && date.status != MDbDateValidThisYear &&
        date.status != MDbDateBlank) {
      if (HasNumberPastLastYear(value)) {
        return Status::Error(fieldText + ": '" + ShownText(value) +
                             "' is not a date the database can hold: years go from 1 to " +
                             std::to_string(kLastDateYear));
      }
      return Status::Error(fieldText + ": '" + ShownText(value) +
                           "' is not a date in the database's format (" + DescribeDateFormat(env) +
                           ")");
    }
  } else if (type == MDbFieldTime) {
    MDbTimeRec time{};
    MDbRecsetTimeStrToTRec(env, value.c_str(), &time, 1, nullptr, nullptr);
    if (time.kind == MDbTimeInvalid) {
      return Status::Error(fieldText + ": '" + ShownText(value) +
                           "' is not a time in the database's format (" + DescribeTimeFormat(env) +
                           ")");
    }
  }
  return {};
}

std::string DescribeDateFormat(MDbEnv* env) {
  static constexpr const char* kOrders[] = {"month/day/year", "day/month/year", "year/month/day",
                                            "month/year/day", "day/year/month", "year/day/month"};
  std::uint8_t format[MDbDateFormatBytes] = {};
  MDbDateRec sample{};
  MDbRecsetDateStrToDateRec(env, u"", &sample, 0, format);
  sample = MDbDateRec{3, 4, 2002, MDbDateValid, 1, 0};
  char16_t text[MDbDateTimeTextChars + 1] = {};
  MDbRecsetDRecToDateStr(env, &sample, text);
  const std::uint8_t order = format[2] <= 5 ? format[2] : 0;
  return std::string(kOrders[order]) + ", as " + Utf16ToUtf8(text) + " for 4 March 2002";
}

std::string DescribeTimeFormat(MDbEnv* env) {
  std::uint8_t format[MDbTimeFormatBytes] = {};
  MDbTimeRec sample{};
  MDbRecsetTimeStrToTRec(env, u"", &sample, 1, format, nullptr);
  char16_t morning[MDbDateTimeTextChars + 1] = {};
  char16_t afternoon[MDbDateTimeTextChars + 1] = {};
  sample = MDbTimeRec{9, 5, 0, MDbTimeTwelve, 1};
  MDbRecsetTRecToTimeStr(env, &sample, morning);
  sample = MDbTimeRec{14, 30, 0, MDbTimeTwelve, 1};
  MDbRecsetTRecToTimeStr(env, &sample, afternoon);
  const bool twelveHour = format[47] != 0;
  return std::string(twelveHour ? "12-hour clock" : "24-hour clock") + ", as " +
         Utf16ToUtf8(morning) + " and " + Utf16ToUtf8(afternoon);
}

namespace {

// Whether this process may write the file and make files beside it.
bool Writable(const std::string& host) {
  const std::string folder = stdfs::path(host).has_parent_path()
                                 ? stdfs::path(host).parent_path().string()
                                 : std::string(".");
  return ::access(host.c_str(), W_OK) == 0 && ::access(folder.c_str(), W_OK) == 0;
}

// Copies the database (and a journal a writer left beside it, so the copy
// holds what was last flushed) into a new private folder.
Status CopyToPrivateFolder(const DatabasePath& path, std::string* folder, std::string* copy) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tbmdb-read-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    return Status::Error(path.given +
                         ": you may not write the database, and no private copy could be "
                         "made to read it (" +
                         std::strerror(errno) + ")");
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

Database::~Database() {
  if (opened_) {
    MDbRecsetDestroy(&env_, &recordSet_);
    if (inBatch_) MDbEndWriteBatch(&env_, 0);
    MDbAgentCloseDb(&env_);
  }
  if (engineStarted_) MDbShutdown(&env_);
  if (!privateCopy_.empty()) {
    std::error_code ignored;
    stdfs::remove_all(privateCopy_, ignored);
  }
}

Status Database::Open(const DatabasePath& path, Access access,
                      std::unique_ptr<Database>* database) {
  database->reset();
  std::unique_ptr<Database> db(new Database());
  db->path_ = path;
  struct stat info {};
  if (::stat(path.host.c_str(), &info) != 0) {
    if (errno == EACCES) {
      return Status::Error(path.given + ": permission denied: you may not reach the file (" +
                           path.host + ")");
    }
    return Status::Error(path.given + ": no such database file (" + path.host + ")");
  }
  if (S_ISDIR(info.st_mode)) {
    return Status::Error(path.given + ": is a folder, not a database file");
  }
  if (::access(path.host.c_str(), R_OK) != 0) {
    return Status::Error(path.given + ": permission denied: you may not read the database");
  }
  std::u16string enginePath = path.engine;
  const bool writable = Writable(path.host);
  if (access == Access::kChange && !writable) {
    return Status::Error(path.given +
                         ": permission denied: you may not change the database (it, or its "
                         "folder, may not be written by you)");
  }
  if (access == Access::kRead && !writable) {
    std::string copy;
    if (Status s = CopyToPrivateFolder(path, &db->privateCopy_, &copy); !s.ok()) return s;
    enginePath = Utf8ToUtf16(copy);
  }
  MDbClearFailureCause();
  MDbEnvInitialize(&db->env_);
  MDbRecsetInitialize(&db->recordSet_);
  std::int32_t rc = MDbInit(&db->env_, 1);
  db->engineStarted_ = rc == MDbErrNone || rc == MDbErrWordBreak;
  if (rc != MDbErrNone) return db->EngineFailed(rc);
  rc = MDbAgentOpenDb(&db->env_, enginePath.c_str());
  if (rc != MDbErrNone) return db->EngineFailed(rc);
  db->opened_ = true;
  if (access == Access::kChange) {
    // Taken before anything is read for the change: positions, counts and
    // values then stay as read until the change is made.
    if ((rc = MDbBeginWriteBatch(&db->env_)) != MDbErrNone) return db->EngineFailed(rc);
    db->inBatch_ = true;
  }
  if (Status s = db->LoadFields(); !s.ok()) return s;
  rc = MDbAgentQuery(&db->env_, &db->recordSet_, nullptr);
  if (rc != MDbErrNone) return db->EngineFailed(rc);
  *database = std::move(db);
  return {};
}

Status Database::Commit() {
  if (!inBatch_) return {};
  inBatch_ = false;
  MDbClearFailureCause();
  // A find's found set goes within the change, so none outlives it.
  MDbRecsetDestroy(&env_, &recordSet_);
  if (std::int32_t rc = MDbEndWriteBatch(&env_, 1); rc != MDbErrNone) return EngineFailed(rc);
  return {};
}

Status OpenDatabase(const std::string& given, const Selection& selection, Access access,
                    std::unique_ptr<Database>* database) {
  DatabasePath path;
  if (Status s = ResolveDatabasePath(given, &path); !s.ok()) return s;
  if (Status s = Database::Open(path, access, database); !s.ok()) return s;
  return (*database)->Select(selection);
}

Status Database::EngineFailed(std::int32_t code) const {
  return Status::Error(EngineCodeInWords(code, path_.given));
}

Status Database::Failed(const std::string& what) const {
  return Status::Error(path_.given + ": " + what);
}

Status Database::LoadFields() {
  std::uint16_t count = 0;
  if (MDbSchemaTblGetCount(&env_, &env_.ref, &env_.schema, &count) != MDbErrNone) {
    return Failed("the fields could not be read");
  }
  fields_.clear();
  for (std::uint16_t f = 0; f < count; ++f) {
    const auto field = static_cast<std::int16_t>(f);
    FieldInfo info;
    char16_t name[256] = {};
    if (MDbSchemaTblReadFldType(&env_, &env_.ref, &env_.schema, field, &info.type) != MDbErrNone ||
        MDbSchemaTblReadFldName(&env_, &env_.ref, &env_.schema, field, name, sizeof(name)) !=
            MDbErrNone) {
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
  return Failed("there is no field '" + name + "'; the fields are " + names);
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
  std::int32_t rc = MDbRecsetDestroy(&env_, &recordSet_);
  if (rc == MDbErrNone) {
    findText_ = StoredText(Utf8ToUtf16(selection.findText));
    MDbFindRequest request{static_cast<std::int16_t>(findField), 0, findText_.c_str()};
    rc = MDbAgentQuery(&env_, &recordSet_, findField >= 0 ? &request : nullptr);
  }
  if (rc == MDbErrNone && sortField >= 0) {
    rc = MDbRecsetSort(&env_, &recordSet_, static_cast<std::int16_t>(sortField),
                       selection.descending ? 1 : 0);
  }
  if (rc != MDbErrNone) return EngineFailed(rc);
  return {};
}

std::uint32_t Database::count() {
  std::uint32_t n = 0;
  if (MDbRecsetGetRecCount(&env_, &recordSet_, &n) != MDbErrNone) return 0;
  return n;
}

Status Database::ReadRecord(std::uint32_t position, std::vector<std::u16string>* values,
                            std::uint8_t* state, std::uint8_t* identity) {
  std::int32_t rc = MDbRecsetSetInx(&env_, &recordSet_, static_cast<std::int16_t>(position));
  if (rc == MDbErrNone) rc = MDbRecsetOpenRec(&env_, &recordSet_);
  if (rc == MDbErrNone) rc = ReadOpenRecord(&recordSet_.rec, values, state, identity);
  MDbRecsetCloseRec(&env_, &recordSet_);
  if (rc != MDbErrNone) return Failed("record " + std::to_string(position + 1) + " cannot be read");
  return {};
}

Status Database::ReadDeletedRecord(std::uint32_t position, std::vector<std::u16string>* values,
                                   std::uint8_t* state, std::uint8_t* identity) {
  MDbDataRec record;
  MDbDataRecInitialize(&record);
  std::int32_t rc = MDbDeleteTblOpenRec(&env_, &env_.ref, &env_.data, &record,
                                        static_cast<std::int16_t>(position), nullptr);
  if (rc == MDbErrNone) {
    rc = ReadOpenRecord(&record, values, state, identity);
    MDbDataTblCloseRec(&env_, &env_.ref, &env_.data, &record);
  }
  if (rc != MDbErrNone) {
    return Failed("record " + std::to_string(position + 1) + " of the delete table cannot be read");
  }
  return {};
}

std::int32_t Database::ReadOpenRecord(MDbDataRec* record, std::vector<std::u16string>* values,
                                      std::uint8_t* state, std::uint8_t* identity) {
  values->assign(fields_.size(), std::u16string());
  std::int32_t rc = MDbErrNone;
  if (state) rc = MDbDataRecGetState(&env_, &env_.ref, &env_.data, record, state);
  if (identity && rc == MDbErrNone) {
    rc = MDbDataRecGetRecInfo(&env_, &env_.ref, &env_.data, record, identity);
  }
  for (std::size_t f = 0; f < fields_.size() && rc == MDbErrNone; ++f) {
    const char16_t* text = nullptr;
    rc = MDbDataRecGetFieldPtr(&env_, &env_.ref, &env_.data, &env_.schema, record,
                               static_cast<std::int16_t>(f), &text);
    if (rc == MDbErrNone) (*values)[f] = Utf16View(text);
  }
  return rc;
}

std::uint32_t Database::deletedCount() {
  std::uint32_t n = 0;
  if (MDbDeleteTblGetRecCount(&env_, &env_.ref, &env_.data, &n) != MDbErrNone) return 0;
  return n;
}

Status Database::CheckValue(int field, const std::u16string& value) {
  const FieldInfo& info = fields_[static_cast<std::size_t>(field)];
  return CheckFieldValue(&env_, info.type, info.maxChars, value,
                         path_.given + ": field '" + info.name + "'");
}

}  // namespace tbm::tbmdb
