// Opening, making and checking a database file, and the checks of what
// goes into one. Fields and settings are in DatabaseFields.cpp; records,
// the selection and plug-in data in DatabaseRecords.cpp.
#include "DesktopDatabase.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "TemporaryFile.h"
#include "Utf16.h"

namespace tbm::tabulonpro {

namespace {

namespace stdfs = std::filesystem;

// "TBPD" in the file header's application id marks a Tabulon Pro database;
// the user version is the layout's version.
constexpr std::int64_t kApplicationId = 0x54425044;
// Layout 2 keeps a record's texts in its own row.
constexpr std::int64_t kLayoutVersion = 2;

constexpr const char* kSchema = R"sql(
CREATE TABLE database_settings(
  id INTEGER PRIMARY KEY CHECK (id = 1),
  identity_stamp INTEGER NOT NULL,
  next_record INTEGER NOT NULL,
  next_field INTEGER NOT NULL,
  sync_flags INTEGER NOT NULL,
  date_separator TEXT NOT NULL,
  date_order INTEGER NOT NULL,
  two_digit_month INTEGER NOT NULL,
  two_digit_day INTEGER NOT NULL,
  typed_separator INTEGER NOT NULL,
  time_separator TEXT NOT NULL,
  leading_zero INTEGER NOT NULL,
  twelve_hour INTEGER NOT NULL,
  morning_suffix TEXT NOT NULL,
  afternoon_suffix TEXT NOT NULL,
  twenty_four_suffix TEXT NOT NULL);
CREATE TABLE fields(
  id INTEGER PRIMARY KEY,
  key TEXT NOT NULL UNIQUE,
  name TEXT NOT NULL,
  type INTEGER NOT NULL);
CREATE TABLE records(
  id INTEGER PRIMARY KEY,
  identity BLOB NOT NULL UNIQUE,
  modification INTEGER NOT NULL,
  texts BLOB NOT NULL DEFAULT x'');
CREATE TABLE value_lists(name TEXT PRIMARY KEY, items TEXT NOT NULL);
CREATE TABLE plugin_data(key INTEGER PRIMARY KEY, data BLOB NOT NULL);
CREATE TABLE selection(
  position INTEGER PRIMARY KEY,
  record INTEGER NOT NULL UNIQUE REFERENCES records(id) ON DELETE CASCADE);
)sql";

constexpr const char* kTables[] = {"database_settings", "fields",      "records",
                                   "value_lists",       "plugin_data", "selection"};

constexpr const char* kTypeNames[] = {"text", "number", "date", "time"};

bool IsDigit(const std::string& text) {
  return text.size() == 1 && text[0] >= '0' && text[0] <= '9';
}

Status CheckSeparator(std::string_view what, const std::string& separator) {
  if (!IsUtf8(separator) || Utf8ToUtf16(separator).size() != 1 ||
      static_cast<unsigned char>(separator[0]) < 0x20 || separator[0] == '\x7f') {
    return Status(StatusCode::kInvalidArgument,
                  std::string(what) + " is one character, not '" + separator + "'");
  }
  if (IsDigit(separator)) {
    return Status(StatusCode::kInvalidArgument,
                  std::string(what) + " cannot be a digit: it would run into the numbers");
  }
  return {};
}

Status CheckSuffix(std::string_view what, const std::string& suffix, std::size_t maxChars) {
  std::string stored;
  if (Status s = StoredText(suffix, what, &stored); !s.ok()) return s;
  if (Utf8ToUtf16(suffix).size() > maxChars || suffix.find('\n') != std::string::npos ||
      suffix.find('\r') != std::string::npos) {
    return Status(StatusCode::kInvalidArgument, std::string(what) + " is one line of at most " +
                                                    std::to_string(maxChars) +
                                                    " characters, not '" + suffix + "'");
  }
  return {};
}

std::string FileHeader(const std::string& path) {
  char header[16] = {};
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return {};
  const ssize_t got = ::read(fd, header, sizeof header);
  ::close(fd);
  return got > 0 ? std::string(header, static_cast<std::size_t>(got)) : std::string();
}

std::uint32_t RandomStamp() {
  std::random_device random;
  return static_cast<std::uint32_t>(random());
}

}  // namespace

// Whether text is valid UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::size_t length;
    char32_t minimum;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      length = 2;
      minimum = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      length = 3;
      minimum = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      length = 4;
      minimum = 0x10000;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    char32_t value = c & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

// A name: one line of 1 to kMaxNameChars characters without control
// characters.
Status CheckName(std::string_view what, const std::string& name) {
  if (!IsUtf8(name))
    return Status(StatusCode::kInvalidArgument, std::string(what) + " is not UTF-8 text");
  const std::u16string wide = Utf8ToUtf16(name);
  if (wide.empty()) return Status(StatusCode::kInvalidArgument, std::string(what) + " is empty");
  if (wide.size() > kMaxNameChars) {
    return Status(StatusCode::kInvalidArgument,
                  std::string(what) + " '" + name + "' is longer than the " +
                      std::to_string(kMaxNameChars) + " characters a name may have");
  }
  for (const char16_t c : wide) {
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
      return Status(
          StatusCode::kInvalidArgument,
          std::string(what) + " holds a line break or a control character; a name is one line");
    }
  }
  return {};
}

std::optional<FieldType> FieldTypeFromName(std::string_view name) {
  for (std::size_t t = 0; t < 4; ++t) {
    if (EqualsIgnoreCase(Utf8ToUtf16(name), Utf8ToUtf16(kTypeNames[t]))) {
      return static_cast<FieldType>(t + 1);
    }
  }
  return std::nullopt;
}

const char* FieldTypeName(FieldType type) {
  const auto index = static_cast<std::size_t>(type);
  return index >= 1 && index <= 4 ? kTypeNames[index - 1] : "unknown";
}

Status StoredText(std::string_view text, std::string_view what, std::string* stored) {
  if (!IsUtf8(text)) {
    return Status(StatusCode::kInvalidArgument, std::string(what) + " is not UTF-8 text");
  }
  if (text.find('\0') != std::string_view::npos) {
    return Status(StatusCode::kInvalidArgument,
                  std::string(what) + " holds a NUL character, which no text may hold");
  }
  stored->clear();
  stored->reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      *stored += '\n';
    } else {
      *stored += text[i];
    }
  }
  return {};
}

Status CheckFormats(const DateTimeFormats& f) {
  if (Status s = CheckSeparator("the date separator", f.dateSeparator); !s.ok()) return s;
  if (Status s = CheckSeparator("the time separator", f.timeSeparator); !s.ok()) return s;
  if (f.dateOrder > 5) {
    return Status(StatusCode::kInvalidArgument,
                  "the date order " + std::to_string(f.dateOrder) + " is not one of 0 to 5");
  }
  if (Status s = CheckSuffix("the morning suffix", f.morningSuffix, 5); !s.ok()) return s;
  if (Status s = CheckSuffix("the afternoon suffix", f.afternoonSuffix, 5); !s.ok()) return s;
  return CheckSuffix("the suffix of 24-hour times", f.twentyFourSuffix, 9);
}

std::string FlagsInWords(std::uint32_t flags) {
  std::string words;
  auto add = [&](std::uint32_t bit, const char* word) {
    if ((flags & bit) == 0) return;
    if (!words.empty()) words += ", ";
    words += word;
  };
  add(kFlagOffered, "offered to the handheld");
  add(kFlagMaySynchronise, "may be synchronised");
  add(kFlagSettingsChangeable, "settings may be changed");
  add(kFlagSettingsLocked, "settings locked");
  return words.empty() ? "not offered to the handheld" : words;
}

std::string IdentityHex(const RecordIdentity& identity) {
  char text[17];
  for (std::size_t i = 0; i < identity.size(); ++i) {
    std::snprintf(text + 2 * i, 3, "%02x", identity[i]);
  }
  return std::string(text, 16);
}

DesktopDatabase::DesktopDatabase(SqliteConnection db, std::string path, std::string name)
    : db_(std::move(db)), path_(std::move(path)), name_(std::move(name)) {}

DesktopDatabase::~DesktopDatabase() {
  // Statements go before the connection they belong to.
  statements_.clear();
}

Status DesktopDatabase::Fail(int rc, std::string_view doing) const {
  return SqliteFailure(db_.get(), rc, name_, doing);
}

Status DesktopDatabase::Prepared(const char* sql, ScopedStatement* statement) {
  auto found = statements_.find(sql);
  if (found == statements_.end()) {
    Statement prepared;
    if (const int rc = prepared.Prepare(db_.get(), sql); rc != SQLITE_OK) {
      return Fail(rc, "reading the database");
    }
    found = statements_.emplace(sql, std::move(prepared)).first;
  }
  statement->Set(&found->second);
  return {};
}

Status DesktopDatabase::Create(const std::string& path, const NewDatabase& content) {
  const std::string name = stdfs::path(path).stem().string();
  std::error_code error;
  if (stdfs::exists(path, error)) {
    return Status(StatusCode::kInvalidArgument,
                  name + ": a database of that name exists already (" + path + ")");
  }
  for (const FieldDefinition& field : content.fields) {
    if (Status s = CheckName("the field name", field.name); !s.ok()) return s.WithContext(name);
  }
  if (Status s = CheckFormats(content.formats); !s.ok()) return s.WithContext(name);

  tools::RemoveStaleTemporaries(path, "creating");
  const std::string temporary = tools::TemporaryNameBeside(path, "creating");
  tools::RemovedOnSignal guard(
      {temporary, temporary + "-wal", temporary + "-shm", temporary + "-journal"});
  auto removeTemporary = [&] {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
      ::unlink((temporary + suffix).c_str());
    }
  };
  removeTemporary();

  Status status;
  {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(temporary.c_str(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    SqliteConnection db(raw);
    if (rc != SQLITE_OK) {
      status = SqliteFailure(raw, rc, name, "making the database file");
    } else {
      sqlite3_busy_timeout(raw, kBusyWaitMilliseconds);
      const std::string header = "PRAGMA application_id = " + std::to_string(kApplicationId) +
                                 "; PRAGMA user_version = " + std::to_string(kLayoutVersion) +
                                 "; PRAGMA journal_mode = WAL; PRAGMA foreign_keys = ON;";
      int step = Execute(raw, header.c_str());
      if (step == SQLITE_OK) step = Execute(raw, kSchema);
      if (step != SQLITE_OK) {
        status = SqliteFailure(raw, step, name, "making the database file");
      } else {
        Statement settings;
        settings.Prepare(raw,
                         "INSERT INTO database_settings VALUES(1, ?, 1, 1, ?, ?, ?, ?, ?, ?, ?, "
                         "?, ?, ?, ?, ?)");
        const DateTimeFormats& f = content.formats;
        settings.Bind(1, static_cast<std::int64_t>(RandomStamp()))
            .Bind(2, static_cast<std::int64_t>(content.flags))
            .Bind(3, f.dateSeparator)
            .Bind(4, static_cast<std::int64_t>(f.dateOrder))
            .Bind(5, std::int64_t{f.twoDigitMonth})
            .Bind(6, std::int64_t{f.twoDigitDay})
            .Bind(7, std::int64_t{f.preferTypedSeparator})
            .Bind(8, f.timeSeparator)
            .Bind(9, std::int64_t{f.leadingZero})
            .Bind(10, std::int64_t{f.twelveHourClock})
            .Bind(11, f.morningSuffix)
            .Bind(12, f.afternoonSuffix)
            .Bind(13, f.twentyFourSuffix);
        step = settings.Step();
        if (step != SQLITE_DONE) {
          status = SqliteFailure(raw, step, name, "making the database file");
        } else {
          DesktopDatabase made(std::move(db), path, name);
          status = made.Fill(content);
        }
      }
    }
    // Closing the last connection folds the journal into the file.
  }
  if (status.ok() && ::link(temporary.c_str(), path.c_str()) != 0) {
    const int e = errno;
    status = e == EEXIST
                 ? Status(StatusCode::kInvalidArgument,
                          name + ": a database of that name was made meanwhile (" + path + ")")
                 : Status(e == ENOSPC                               ? StatusCode::kNoSpace
                          : e == EACCES || e == EPERM || e == EROFS ? StatusCode::kNoPermission
                                                                    : StatusCode::kIoFailed,
                          name + ": the database file could not be put in place (" +
                              std::strerror(e) + ")",
                          static_cast<std::uint32_t>(e));
  }
  removeTemporary();
  return status;
}

Status DesktopDatabase::Open(const std::string& path, std::unique_ptr<DesktopDatabase>* out) {
  out->reset();
  const std::string name = stdfs::path(path).stem().string();
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    const int e = errno;
    if (e == ENOENT || e == ENOTDIR) {
      return Status(StatusCode::kNotFound, name + ": there is no such database (" + path + ")");
    }
    return Status(e == EACCES ? StatusCode::kNoPermission : StatusCode::kIoFailed,
                  name + ": the database file cannot be reached (" + std::strerror(e) + ")",
                  static_cast<std::uint32_t>(e));
  }
  if (S_ISDIR(info.st_mode)) {
    return Status(StatusCode::kInvalidArgument,
                  name + ": " + path + " is a folder, not a database");
  }
  if (::access(path.c_str(), R_OK | W_OK) != 0) {
    return Status(
        StatusCode::kNoPermission,
        name + ": this user may not read and change the database file " + path + " (no permission)",
        static_cast<std::uint32_t>(errno));
  }
  if (info.st_size == 0) {
    return Status(StatusCode::kInvalidArgument,
                  name + ": " + path + " is an empty file, not a Tabulon Pro database");
  }
  const std::string header = FileHeader(path);
  if (header != std::string("SQLite format 3\0", 16)) {
    return Status(
        StatusCode::kInvalidArgument,
        name + ": " + path + " is not a Tabulon Pro database (not a database file at all)");
  }
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
  SqliteConnection db(raw);
  if (rc != SQLITE_OK) return SqliteFailure(raw, rc, name, "opening the database");
  sqlite3_busy_timeout(raw, kBusyWaitMilliseconds);
  std::unique_ptr<DesktopDatabase> opened(new DesktopDatabase(std::move(db), path, name));
  if (Status s = opened->CheckFile(); !s.ok()) return s;
  *out = std::move(opened);
  return {};
}

// The file's header marks and tables, before anything else is read from it.
Status DesktopDatabase::CheckFile() {
  Statement pragma;
  std::int64_t application = 0;
  std::int64_t version = 0;
  for (const auto& [sql, value] : {std::pair{"PRAGMA application_id", &application},
                                   std::pair{"PRAGMA user_version", &version}}) {
    int rc = pragma.Prepare(db_.get(), sql);
    if (rc == SQLITE_OK) rc = pragma.Step();
    if (rc != SQLITE_ROW) return Fail(rc, "opening the database");
    *value = pragma.Integer(0);
  }
  if (application != kApplicationId) {
    return Status(StatusCode::kInvalidArgument,
                  name_ + ": " + path_ +
                      " is not a Tabulon Pro database (a database file of another program)");
  }
  if (version != kLayoutVersion) {
    return Status(StatusCode::kInvalidArgument,
                  name_ + ": the database was made by " +
                      (version > kLayoutVersion ? "a newer" : "another") +
                      " version of Tabulon Pro (its layout is version " + std::to_string(version) +
                      "; this version reads version " + std::to_string(kLayoutVersion) +
                      "); open it with that version");
  }
  int rc = pragma.Prepare(db_.get(),
                          "SELECT count(*) FROM sqlite_schema WHERE type = 'table' AND name IN "
                          "('database_settings', 'fields', 'records', 'value_lists', "
                          "'plugin_data', 'selection')");
  if (rc == SQLITE_OK) rc = pragma.Step();
  if (rc != SQLITE_ROW) return Fail(rc, "opening the database");
  const std::int64_t tables = pragma.Integer(0);
  rc = pragma.Prepare(db_.get(), "SELECT count(*) FROM database_settings WHERE id = 1");
  if (rc == SQLITE_OK) rc = pragma.Step();
  if (tables != static_cast<std::int64_t>(std::size(kTables)) || rc != SQLITE_ROW ||
      pragma.Integer(0) != 1) {
    return Status(StatusCode::kDamaged,
                  name_ +
                      ": the database file is damaged (parts of it are missing); restore it "
                      "from a copy");
  }
  // In WAL mode a commit at NORMAL survives the program's end without a
  // flush to the disk each time (only a power cut can lose the last ones,
  // and the file stays whole).
  rc = Execute(db_.get(), "PRAGMA foreign_keys = ON; PRAGMA synchronous = NORMAL");
  return rc == SQLITE_OK ? Status() : Fail(rc, "opening the database");
}

}  // namespace tbm::tabulonpro
