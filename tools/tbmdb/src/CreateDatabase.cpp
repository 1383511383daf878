#include "CreateDatabase.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "CsvFile.h"
#include "DatabasePath.h"
#include "EngineEnvironment.h"
#include "EngineFailure.h"
#include "FieldValues.h"
#include "MDbBlocks.h"
#include "NumberRule.h"
#include "Progress.h"
#include "TemporaryFile.h"
#include "Utf16.h"

namespace tbm::tbmdb {

using engine::CheckFieldValue;
using engine::DatabasePath;
using engine::EngineCodeInWords;
using engine::EngineEnvironment;
using engine::EngineFailure;
using engine::ResolveDatabasePath;
using engine::StoredText;
using engine::TypeFromName;

namespace {

namespace stdfs = std::filesystem;

constexpr std::size_t kMaxFields = 50;
// Names travel to the desktop in slots of 63 and 255 bytes.
constexpr std::size_t kMaxFieldNameChars = 63;
constexpr std::size_t kMaxDatabaseNameChars = 255;
// A value list is stored as one text (items joined by a line break) of at
// most 65472 bytes with its terminator.
constexpr std::size_t kMaxValueListChars = 65472 / 2 - 1;

struct StyleWord {
  const char* name;
  DisplayStyle style;
};
constexpr StyleWord kStyles[] = {{"edit", DisplayStyle::kEditBox},
                                 {"list", DisplayStyle::kDropDownList},
                                 {"combo", DisplayStyle::kDropDownCombo},
                                 {"checkbox", DisplayStyle::kCheckBox},
                                 {"zoom", DisplayStyle::kZoomBox}};

std::string Where(const std::string& file, tools::CsvPosition p) {
  return file + ": line " + std::to_string(p.line) + ", column " + std::to_string(p.column);
}

std::string Trimmed(std::string text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const std::size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// A name is one line of at most maxChars characters, with nothing in it
// that breaks the line or hides: no control character (C0 or C1, U+0085
// among them), no line or paragraph separator, no byte order mark.
Status CheckName(const std::string& what, const std::string& name, std::size_t maxChars) {
  const std::u16string wide = Utf8ToUtf16(name);
  if (wide.size() > maxChars) {
    return Status::Error(what + " is longer than the " + std::to_string(maxChars) +
                         " characters a name may have");
  }
  for (const char16_t c : wide) {
    if (c == 0xFEFF) {
      return Status::Error(what +
                           " holds a byte order mark (U+FEFF); a file that starts with two keeps "
                           "the second in its first name: remove it");
    }
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029) {
      return Status::Error(what +
                           " holds a line break, a line or paragraph separator or a control "
                           "character; a name is one line");
    }
  }
  return {};
}

bool SameName(const std::string& a, const std::string& b) {
  return EqualsIgnoreCase(Utf8ToUtf16(a), Utf8ToUtf16(b));
}

// The file being built and its journal files, removed unless kept, and on
// the signals that end a process.
class TemporaryVolume {
 public:
  explicit TemporaryVolume(std::string path)
      : path_(std::move(path)), guard_({path_, path_ + "-wal", path_ + "-shm"}) {}
  ~TemporaryVolume() {
    if (keep_) return;
    for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path_ + suffix).c_str());
  }
  const std::string& path() const { return path_; }
  void Keep() { keep_ = true; }

 private:
  std::string path_;
  tools::RemovedOnSignal guard_;
  bool keep_ = false;
};

// Whether the file at host is a database, a damaged one included (so that
// --replace never destroys anything else); when it cannot tell (the file is
// busy, or may not be read), *problem says why.
bool IsDatabase(const DatabasePath& path, std::string* problem) {
  EngineEnvironment engine;
  if (engine.Start(/*wordBreak=*/false) != MDbErrNone) return false;
  MDbClearFailureCause();
  const std::int32_t rc = engine.OpenVolume(Utf8ToUtf16(path.host).c_str());
  if (rc == MDbErrNone || rc == MDbErrBadFormat) return true;
  const std::uint32_t cause = MDbGetFailureCause(nullptr);
  if (cause == ERROR_FILE_CORRUPT) return true;
  if (cause != ERROR_SUCCESS && cause != ERROR_BAD_FORMAT) {
    *problem = EngineCodeInWords(rc, path.given) + "; it is not replaced";
  }
  return false;
}

class Creation {
 public:
  Creation(const std::string& csvPath, const CreateOptions& options)
      : csvName_(csvPath == "-" ? "standard input" : csvPath),
        csvPath_(csvPath),
        options_(options) {}

  // The number values met that will not sort or find as they look.
  const NumberSurprises& surprises() const { return surprises_; }

  Status Run(const std::string& target, std::uint32_t* records) {
    DatabasePath path;
    if (Status s = ResolveDatabasePath(target, &path); !s.ok()) return s;
    if (Status s = CheckTarget(path); !s.ok()) return s;

    std::FILE* file = csvPath_ == "-" ? stdin : std::fopen(csvPath_.c_str(), "rb");
    if (file == nullptr) {
      return Status::Error(csvName_ + ": cannot be opened (" + std::strerror(errno) + ")");
    }
    struct stat info {};
    const std::uint64_t size =
        ::fstat(::fileno(file), &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : 0;
    tools::CsvReader reader(file, size);
    Status status = Build(reader, path, records);
    if (file != stdin) std::fclose(file);
    return status;
  }

 private:
  Status CheckTarget(const DatabasePath& path) {
    stdfs::path host(path.host);
    std::error_code error;
    const bool handheld = path.given.find('/') == std::string::npos;
    if (handheld && host.has_parent_path()) {
      stdfs::create_directories(host.parent_path(), error);
      if (error) {
        return Status::Error(path.given + ": the folder " + host.parent_path().string() +
                             " cannot be made (" + error.message() + ")");
      }
    }
    const stdfs::path folder = host.has_parent_path() ? host.parent_path() : stdfs::path(".");
    if (!stdfs::is_directory(folder, error)) {
      return Status::Error(path.given + ": the folder " + folder.string() + " does not exist");
    }
    // The database needs room beside its name for its journal ("-wal").
    const std::size_t nameBytes = host.filename().string().size();
    const std::size_t limit = tools::NameLimit(folder.string()) - tools::kJournalSuffixBytes;
    if (nameBytes > limit) {
      return Status::Error(path.given + ": the file name has " + std::to_string(nameBytes) +
                           " bytes; in the folder " + folder.string() +
                           " a database's file name may have at most " + std::to_string(limit) +
                           " (the folder's limit on names, less 4 for the journal beside it)");
    }
    if (stdfs::is_directory(host, error)) {
      return Status::Error(path.given + ": is a folder, not a database file");
    }
    if (stdfs::exists(host, error)) {
      if (!options_.replace) {
        return Status::Error(path.given +
                             ": a file of that name exists already; use --replace "
                             "to replace a database");
      }
      std::string problem;
      if (!IsDatabase(path, &problem)) {
        if (!problem.empty()) return Status::Error(problem);
        return Status::Error(path.given +
                             ": exists and is not a Tabulon Mobile database; it is not replaced");
      }
    }
    return {};
  }

  Status ReadHeader(tools::CsvReader& reader) {
    std::vector<tools::CsvValue> row;
    if (!reader.Next(&row)) {
      if (reader.failed()) return ReaderFailed(reader);
      return Status::Error(csvName_ +
                           ": the file is empty; its first row must name the fields with their "
                           "types, as Name:text,Born:date,Qty:number,Start:time");
    }
    if (row.size() > kMaxFields) {
      return Status::Error(Where(csvName_, row[kMaxFields].where) + ": the header names " +
                           std::to_string(row.size()) + " fields; a database has at most " +
                           std::to_string(kMaxFields));
    }
    for (std::size_t i = 0; i < row.size(); ++i) {
      const std::string cell = Utf16ToUtf8(row[i].text);
      const std::size_t colon = cell.rfind(':');
      std::string name = Trimmed(colon == std::string::npos ? cell : cell.substr(0, colon));
      const std::string type =
          colon == std::string::npos ? "text" : Trimmed(cell.substr(colon + 1));
      const std::string where = Where(csvName_, row[i].where);
      if (name.empty()) {
        return Status::Error(where + ": field " + std::to_string(i + 1) + " has no name");
      }
      if (Status s = CheckName("the field name '" + name + "'", name, kMaxFieldNameChars);
          !s.ok()) {
        return Status::Error(where + ": " + s.message());
      }
      const std::optional<std::uint8_t> typeCode = TypeFromName(type);
      if (!typeCode) {
        return Status::Error(where + ": unknown type '" + type + "' for field '" + name +
                             "'; the types are text, number, date and time");
      }
      for (const sync::FieldSpec& earlier : specs_) {
        if (SameName(Utf16ToUtf8(earlier.name), name)) {
          return Status::Error(where + ": the field name '" + name + "' is used twice");
        }
      }
      sync::FieldSpec spec;
      spec.type = *typeCode;
      spec.name = Utf8ToUtf16(name);
      spec.key = sync::FieldKey(std::to_string(i + 1));
      specs_.push_back(std::move(spec));
      names_.push_back(std::move(name));
    }
    return ApplySettings();
  }

  // Field settings become option words and value lists; lists are
  // numbered in the order of the fields they belong to.
  Status ApplySettings() {
    for (const auto& entry : options_.fields) {
      const std::string& name = entry.first;
      if (std::none_of(names_.begin(), names_.end(),
                       [&](const std::string& field) { return SameName(field, name); })) {
        return Status::Error(csvName_ + ": the header has no field '" + name +
                             "' for the field settings given");
      }
    }
    for (std::size_t f = 0; f < names_.size(); ++f) {
      sync::FieldSpec& spec = specs_[f];
      for (const auto& [name, settings] : options_.fields) {
        if (!SameName(names_[f], name)) continue;
        if (settings.style) spec.optionWord2 = static_cast<std::uint16_t>(*settings.style);
        if (settings.locked) spec.optionWord1 |= MDbFieldLocked;
        if (settings.capitalise) spec.optionWord1 |= MDbFieldCapitalise;
        if (settings.values && spec.valueList < 0) {
          std::u16string list;
          for (const std::string& item : *settings.values) {
            if (!list.empty()) list += u"\r\n";
            list += Utf8ToUtf16(item);
          }
          if (list.size() > kMaxValueListChars) {
            return Status::Error("--values " + name + ": the value list takes " +
                                 std::to_string(list.size()) +
                                 " characters (counting 2 for each break between items); a value "
                                 "list holds at most " +
                                 std::to_string(kMaxValueListChars));
          }
          spec.valueList = static_cast<std::int16_t>(lists_.size());
          lists_.push_back(std::move(list));
        }
      }
    }
    return {};
  }

  Status ReaderFailed(const tools::CsvReader& reader) {
    return Status::Error(Where(csvName_, reader.errorAt()) + ": " + reader.error());
  }

  Status EngineFailed(std::int32_t rc) { return EngineFailure(rc, target_.given); }

  Status Build(tools::CsvReader& reader, const DatabasePath& path, std::uint32_t* records) {
    target_ = path;
    MDbClearFailureCause();
    if (Status s = ReadHeader(reader); !s.ok()) return s;

    const stdfs::path host(path.host);
    std::string name = options_.name;
    if (name.empty()) name = host.stem().string();
    if (Status s = CheckName("the database name '" + name + "'", name, kMaxDatabaseNameChars);
        !s.ok()) {
      return Status::Error(path.given + ": " + s.message() + " (choose one with --name)");
    }
    tools::RemoveStaleTemporaries(path.host, "creating");
    TemporaryVolume temporary(tools::TemporaryNameBeside(path.host, "creating"));
    if (Status s = CheckWritable(temporary.path()); !s.ok()) return s;
    // Started without the word-break library; the new volume is closed and
    // the engine stopped whatever happens, before the temporary goes.
    EngineEnvironment engine;
    if (engine.Start(/*wordBreak=*/false) != MDbErrNone) {
      return Status::Error(path.given + ": the engine could not start");
    }
    MDbEnv* env = engine.env();
    std::int32_t rc = engine.CreateVolume(Utf8ToUtf16(temporary.path()).c_str());
    if (rc != MDbErrNone) return EngineFailed(rc);
    rc = sync::MarkConsistent(env, false);
    if (rc == MDbErrNone) rc = sync::ReplaceSchema(env, specs_, false, nullptr);
    if (rc == MDbErrNone) {
      rc = sync::ReplaceAttributes(
          env,
          options_.attributes ? *options_.attributes : sync::NewAttributeBlock(options_.formats),
          Utf8ToUtf16(name));
    }
    if (rc == MDbErrNone && !lists_.empty()) rc = sync::ReplaceValueLists(env, lists_);
    if (rc == MDbErrNone) rc = MDbAttrTblOpen(env, &env->ref, &env->attributes);
    if (rc != MDbErrNone) return EngineFailed(rc);

    if (Status s = LoadRecords(reader, env, records); !s.ok()) return s;

    rc = sync::MarkConsistent(env, true);
    if (rc == MDbErrNone) rc = engine.Close();
    if (rc != MDbErrNone) return EngineFailed(rc);
    return PutInPlace(temporary, path);
  }

  // Whether a file can be made at path: the folder's own answer (permission,
  // read-only file system, no space), before the engine is asked.
  Status CheckWritable(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      const stdfs::path folder = stdfs::path(path).parent_path();
      return Status::Error(target_.given + ": the database cannot be created in " +
                           (folder.empty() ? std::string(".") : folder.string()) + " (" +
                           std::strerror(errno) + ")");
    }
    ::close(fd);
    ::unlink(path.c_str());
    return {};
  }

  Status LoadRecords(tools::CsvReader& reader, MDbEnv* env, std::uint32_t* records) {
    sync::RecordLoader loader(env);
    if (std::int32_t rc = loader.Start(); rc != MDbErrNone) return EngineFailed(rc);
    tools::Progress progress("Creating " + target_.given);
    const std::uint8_t identity[MDbIdentityBytes] = {};
    std::vector<tools::CsvValue> row;
    std::vector<std::u16string> values(specs_.size());
    std::vector<const char16_t*> pointers(specs_.size());
    while (reader.Next(&row)) {
      const std::string rowWhere = Where(csvName_, reader.rowStart());
      if (row.size() != specs_.size()) {
        return Status::Error(rowWhere + ": the row has " + std::to_string(row.size()) +
                             " values; the header names " + std::to_string(specs_.size()) +
                             " fields");
      }
      if (loader.added() == MDbMaxRecords) {
        return Status::Error(rowWhere + ": more than " + std::to_string(MDbMaxRecords) +
                             " records; a database holds at most " + std::to_string(MDbMaxRecords));
      }
      for (std::size_t f = 0; f < specs_.size(); ++f) {
        values[f] = StoredText(row[f].text);
        const std::string fieldText = Where(csvName_, row[f].where) + ": field '" + names_[f] + "'";
        if (Status s = CheckFieldValue(env, specs_[f].type, loader.MaxChars(static_cast<int>(f)),
                                       values[f], fieldText);
            !s.ok()) {
          return s;
        }
        pointers[f] = values[f].c_str();
        if (specs_[f].type == MDbFieldNumber) {
          surprises_.Note(f, names_[f], values[f], "line " + std::to_string(row[f].where.line));
        }
      }
      if (std::int32_t rc = loader.Add(identity, pointers); rc != MDbErrNone) {
        return EngineFailed(rc);
      }
      progress.Update(loader.added(), reader.fractionRead() > 0 ? reader.fractionRead() : -1);
    }
    if (reader.failed()) return ReaderFailed(reader);
    if (std::int32_t rc = loader.Finish(); rc != MDbErrNone) return EngineFailed(rc);
    *records = loader.added();
    return {};
  }

  Status PutInPlace(TemporaryVolume& temporary, const DatabasePath& path) {
    std::error_code error;
    if (stdfs::exists(temporary.path() + "-wal", error)) {
      return Status::Error(path.given + ": the new database was not closed cleanly");
    }
    if (options_.replace) {
      // Through the store, which waits for every other user of the old
      // database to let go and keeps them out until the new one is there.
      MDbClearFailureCause();
      if (!StoreReplaceVolume(Utf8ToUtf16(path.host).c_str(),
                              Utf8ToUtf16(temporary.path()).c_str())) {
        if (GetLastError() == ERROR_SHARING_VIOLATION) {
          return Status::Error(path.given +
                               ": the database is in use by another program (the handheld "
                               "program, a synchronisation or another tbmdb); it was not "
                               "replaced: try again when that program has closed it");
        }
        return Status::Error(path.given + ": the new database could not be put in place (" +
                             StoreLastMessage() + ")");
      }
      temporary.Keep();
      return {};
    }
    if (::renameat2(AT_FDCWD, temporary.path().c_str(), AT_FDCWD, path.host.c_str(),
                    RENAME_NOREPLACE) != 0) {
      return Status::Error(path.given + ": the new database could not be put in place (" +
                           std::strerror(errno) + ")");
    }
    temporary.Keep();
    return {};
  }

  std::string csvName_;
  std::string csvPath_;
  const CreateOptions& options_;
  DatabasePath target_;
  std::vector<sync::FieldSpec> specs_;
  std::vector<std::string> names_;
  std::vector<std::u16string> lists_;
  NumberSurprises surprises_;
};

}  // namespace

std::optional<DisplayStyle> StyleFromName(const std::string& name) {
  for (const StyleWord& s : kStyles) {
    if (SameName(s.name, name)) return s.style;
  }
  return std::nullopt;
}

std::string StyleName(std::uint8_t style) {
  for (const StyleWord& s : kStyles) {
    if (static_cast<std::uint8_t>(s.style) == style) return s.name;
  }
  return "edit (" + std::to_string(style) + ")";
}

Status CreateDatabase(const std::string& csvPath, const std::string& target,
                      const CreateOptions& options, std::uint32_t* records) {
  *records = 0;
  Creation creation(csvPath, options);
  if (Status s = creation.Run(target, records); !s.ok()) return s;
  PrintWarnings(creation.surprises().Warnings());
  return {};
}

}  // namespace tbm::tbmdb
