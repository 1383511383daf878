#include "Database.h"

#include <sys/stat.h>

#include "DevicePath.h"
#include "Explanations.h"
#include "Utf16.h"

namespace tbm::tbmdb {

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

std::string EngineCodeInWords(std::int32_t code, const std::string& file) {
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

Database::~Database() {
  if (opened_) {
    MDbRecsetDestroy(&env_, &recordSet_);
    MDbAgentCloseDb(&env_);
  }
  if (engineStarted_) MDbShutdown(&env_);
}

Status Database::Open(const DatabasePath& path, std::unique_ptr<Database>* database) {
  database->reset();
  std::unique_ptr<Database> db(new Database());
  db->path_ = path;
  struct stat info {};
  if (::stat(path.host.c_str(), &info) != 0) {
    return Status::Error(path.given + ": no such database file (" + path.host + ")");
  }
  if (S_ISDIR(info.st_mode)) {
    return Status::Error(path.given + ": is a folder, not a database file");
  }
  MDbEnvInitialize(&db->env_);
  MDbRecsetInitialize(&db->recordSet_);
  std::int32_t rc = MDbInit(&db->env_, 1);
  db->engineStarted_ = rc == MDbErrNone || rc == MDbErrWordBreak;
  if (rc != MDbErrNone) return Status::Error(EngineCodeInWords(rc, path.given));
  rc = MDbAgentOpenDb(&db->env_, path.engine.c_str());
  if (rc != MDbErrNone) return Status::Error(EngineCodeInWords(rc, path.given));
  db->opened_ = true;
  if (Status s = db->LoadFields(); !s.ok()) return s;
  rc = MDbAgentQuery(&db->env_, &db->recordSet_, nullptr);
  if (rc != MDbErrNone) return Status::Error(EngineCodeInWords(rc, path.given));
  *database = std::move(db);
  return {};
}

Status OpenDatabase(const std::string& given, const Selection& selection,
                    std::unique_ptr<Database>* database) {
  DatabasePath path;
  if (Status s = ResolveDatabasePath(given, &path); !s.ok()) return s;
  if (Status s = Database::Open(path, database); !s.ok()) return s;
  return (*database)->Select(selection);
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
  if (rc != MDbErrNone) return Status::Error(EngineCodeInWords(rc, path_.given));
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
