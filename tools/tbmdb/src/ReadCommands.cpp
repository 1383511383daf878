// The commands that read a database: list, export, schema, records,
// deleted and check.
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Commands.h"
#include "CreateDatabase.h"
#include "CsvFile.h"
#include "MDbBlocks.h"
#include "Progress.h"
#include "TemporaryFile.h"
#include "TextTable.h"
#include "Utf16.h"

namespace tbm::tbmdb {

using engine::Access;
using engine::Database;
using engine::DescribeDateFormat;
using engine::DescribeTimeFormat;
using engine::FieldInfo;
using engine::OpenDatabase;
using engine::Selection;
using engine::ShownText;
using engine::TypeName;

namespace {

// The columns to show: the fields named in lists (each names fields
// separated by commas), or all. A field whose name holds a comma is named
// as it is: the longest run of pieces that names a field is taken.
Status Columns(const Database& db, const std::vector<std::string>& lists,
               std::vector<int>* columns) {
  columns->clear();
  if (lists.empty()) {
    for (std::size_t f = 0; f < db.fields().size(); ++f) columns->push_back(static_cast<int>(f));
    return {};
  }
  for (const std::string& list : lists) {
    std::vector<std::string> pieces;
    for (std::size_t start = 0;;) {
      const std::size_t comma = list.find(',', start);
      pieces.push_back(list.substr(start, comma - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    for (std::size_t first = 0; first < pieces.size();) {
      int field = 0;
      std::size_t end = pieces.size();
      for (; end > first + 1; --end) {
        std::string joined = pieces[first];
        for (std::size_t p = first + 1; p < end; ++p) joined += "," + pieces[p];
        if (db.FindField(joined, &field).ok()) break;
      }
      if (end == first + 1) {
        if (Status s = db.FindField(pieces[first], &field); !s.ok()) return s;
      }
      columns->push_back(field);
      first = end;
    }
  }
  return {};
}

// State bits in words: "unchanged", or the bits set joined by '+'.
std::string StateWords(std::uint8_t state) {
  std::string words;
  auto add = [&](const char* word) { words += (words.empty() ? "" : "+") + std::string(word); };
  if (state & MDbRecModified) add("modified");
  if (state & MDbRecAdded) add("added");
  if (state & MDbRecDeleted) add("deleted");
  if (state & ~(MDbRecModified | MDbRecAdded | MDbRecDeleted)) add("other");
  return words.empty() ? "unchanged" : words;
}

std::string Hex(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

// A counted string (length byte, then bytes) as text when it is printable,
// else in hexadecimal.
std::string CountedText(const std::uint8_t* block, std::size_t slot) {
  const std::size_t length = std::min<std::size_t>(block[0], slot - 1);
  std::string text(reinterpret_cast<const char*>(block + 1), length);
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E) return "0x" + Hex(block + 1, length);
  }
  return text;
}

// The identity block as the desktop's record identity and modification
// count ("A001/3"), or "-" for a record the desktop has not seen.
std::string IdentityText(const std::uint8_t block[MDbIdentityBytes]) {
  const MDbIdentity identity = MDbDecodeIdentity(block);
  if (identity.empty()) return "-";
  return CountedText(identity.desktopId.data(), identity.desktopId.size()) + "/" +
         std::to_string(identity.modificationCount);
}

Status WriteOut(const std::string& text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
    return Status::Error("standard output: cannot be written (" +
                         std::string(std::strerror(errno)) + ")");
  }
  return {};
}

// Where an export writes, and how. A regular file, or a name not taken
// yet, is written under a temporary name and renamed into place, so that
// nobody sees half of it; through a symbolic link, the file the link names
// is the one replaced, and the link stays. Anything else (a FIFO, a device,
// a terminal, /dev/stdout, a process substitution) cannot be replaced and
// is written directly, appending to a regular file reached through /dev or
// /proc as a shell's redirection left it.
struct OutputPlace {
  std::string path;
  bool replace = false;
  mode_t mode = 0;  // of the file replaced; 0 for a new file
};

bool IsSpecialFolder(const std::string& path) {
  return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
}

// The path a chain of symbolic links ends at (which need not exist).
std::string EndOfLinks(std::string path) {
  for (int hops = 0; hops < 40; ++hops) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) break;
    std::string next(target, static_cast<std::size_t>(length));
    const std::size_t slash = path.rfind('/');
    if (next[0] != '/' && slash != std::string::npos) next = path.substr(0, slash + 1) + next;
    path = next;
  }
  return path;
}

OutputPlace PlaceOf(const std::string& file) {
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0) {
    const std::string end = EndOfLinks(file);
    if (IsSpecialFolder(file) || IsSpecialFolder(end)) return {file};
    return {end, true};
  }
  if (!S_ISREG(info.st_mode)) return {file};
  std::unique_ptr<char, void (*)(void*)> real(::realpath(file.c_str(), nullptr), std::free);
  if (!real || IsSpecialFolder(file) || IsSpecialFolder(real.get())) return {file};
  return {real.get(), true, static_cast<mode_t>(info.st_mode & 07777)};
}

// Writes rows to a file (see OutputPlace) or to standard output. A
// temporary file is removed on failure and on the signals that end a
// process; one left by an export that was killed goes on the next export
// to the same file.
class CsvOutput {
 public:
  explicit CsvOutput(const std::string& file) : file_(file) {
    if (file == "-") {
      out_ = stdout;
      return;
    }
    place_ = PlaceOf(file);
    if (!place_.replace) {
      out_ = std::fopen(file.c_str(), "ab");
      return;
    }
    tools::RemoveStaleTemporaries(place_.path, "writing");
    temporary_ = tools::TemporaryNameBeside(place_.path, "writing");
    guard_ = std::make_unique<tools::RemovedOnSignal>(std::vector<std::string>{temporary_});
    out_ = std::fopen(temporary_.c_str(), "wb");
    if (out_ && place_.mode != 0) ::fchmod(::fileno(out_), place_.mode);
  }
  ~CsvOutput() {
    if (out_ && out_ != stdout) std::fclose(out_);
    if (!temporary_.empty()) std::remove(temporary_.c_str());
  }
  Status opened() const {
    if (out_) return {};
    return Status::Error(file_ + ": cannot be written (" + std::strerror(errno) + ")");
  }
  bool Write(const std::string& row) {
    return std::fwrite(row.data(), 1, row.size(), out_) == row.size();
  }
  Status Finish() {
    if (out_ == stdout) {
      if (std::fflush(stdout) != 0) return Failed();
      return {};
    }
    const bool closed = std::fclose(out_) == 0;
    out_ = nullptr;
    if (!closed) return Failed();
    if (temporary_.empty()) return {};
    if (std::rename(temporary_.c_str(), place_.path.c_str()) != 0) return Failed();
    temporary_.clear();
    return {};
  }
  Status Failed() const {
    return Status::Error((file_ == "-" ? std::string("standard output") : file_) +
                         ": cannot be written (" + std::strerror(errno) + ")");
  }

 private:
  std::string file_;
  OutputPlace place_;
  std::string temporary_;
  std::unique_ptr<tools::RemovedOnSignal> guard_;
  std::FILE* out_ = nullptr;
};

// Rows written out as CSV, or as an aligned table whose first column (the
// position) is right-aligned and which a footer line follows.
class Rows {
 public:
  Rows(const std::vector<std::string>& headings, bool csv) : csv_(csv), table_(headings) {
    table_.AlignRight(0);
    if (csv) text_ = tools::CsvRow(headings);
  }
  void Add(std::vector<std::string> row) {
    if (csv_) {
      text_ += tools::CsvRow(row);
    } else {
      table_.AddRow(std::move(row));
    }
  }
  Status Write(const std::string& footer) {
    return WriteOut(csv_ ? text_ : table_.Render() + footer + "\n");
  }

 private:
  bool csv_;
  tools::TextTable table_;
  std::string text_;
};

std::string RecordCount(std::uint32_t count) {
  return std::to_string(count) + (count == 1 ? " record" : " records");
}

}  // namespace

Status ListRecords(const std::string& database, const ListOptions& options) {
  std::unique_ptr<Database> db;
  if (Status s = OpenDatabase(database, options.selection, Access::kRead, &db); !s.ok()) return s;
  std::vector<int> columns;
  if (Status s = Columns(*db, options.fields, &columns); !s.ok()) return s;

  std::vector<std::string> headings;
  if (!options.csv) headings.push_back("#");
  for (const int f : columns) headings.push_back(db->fields()[static_cast<std::size_t>(f)].name);
  Rows rows(headings, options.csv);

  std::vector<std::u16string> values;
  const std::uint32_t count = db->count();
  const std::uint32_t shown = options.limit > 0 && options.limit < count ? options.limit : count;
  for (std::uint32_t p = 0; p < shown; ++p) {
    if (Status s = db->ReadRecord(p, &values); !s.ok()) return s;
    std::vector<std::string> row;
    if (!options.csv) row.push_back(std::to_string(p + 1));
    for (const int f : columns) row.push_back(ShownText(values[static_cast<std::size_t>(f)]));
    rows.Add(std::move(row));
  }
  return rows.Write(shown < count ? std::to_string(shown) + " of " + RecordCount(count)
                                  : RecordCount(count));
}

Status ExportRecords(const std::string& database, const Selection& selection,
                     const std::string& file) {
  std::unique_ptr<Database> db;
  if (Status s = OpenDatabase(database, selection, Access::kRead, &db); !s.ok()) return s;
  CsvOutput out(file);
  if (Status s = out.opened(); !s.ok()) return s;
  std::vector<std::string> header;
  for (const FieldInfo& f : db->fields()) header.push_back(f.name + ":" + TypeName(f.type));
  if (!out.Write(tools::CsvRow(header))) return out.Failed();
  tools::Progress progress("Exporting " + database);
  std::vector<std::u16string> values;
  const std::uint32_t count = db->count();
  for (std::uint32_t p = 0; p < count; ++p) {
    if (Status s = db->ReadRecord(p, &values); !s.ok()) return s;
    std::vector<std::string> row;
    for (const std::u16string& value : values) row.push_back(ShownText(value));
    if (!out.Write(tools::CsvRow(row))) return out.Failed();
    progress.Update(p + 1, static_cast<double>(p + 1) / count);
  }
  progress.Finish();
  return out.Finish();
}

Status ShowSchema(const std::string& database) {
  std::unique_ptr<Database> db;
  if (Status s = OpenDatabase(database, {}, Access::kRead, &db); !s.ok()) return s;
  MDbEnv* env = db->env();
  MDbRecset* rs = db->records();
  std::string out;
  char16_t name[261] = {};
  MDbAgentGetDbName(env, name, sizeof(name));
  out += "Database:     " + tools::EscapeControls(Utf16ToUtf8(name)) + "\n";
  out += "File:         " + db->path().host + "\n";
  out += "Records:      " + std::to_string(db->count()) +
         " (in the delete table: " + std::to_string(db->deletedCount()) + ")\n";
  out += "Date format:  " + DescribeDateFormat(env) + "\n";
  out += "Time format:  " + DescribeTimeFormat(env) + "\n";
  std::string words;
  for (std::uint8_t w = 0; w < 4; ++w) {
    std::uint32_t value = 0;
    MDbAgentGetAttr(env, w, &value);
    words += (w ? ", " : "") + std::to_string(value);
  }
  out += "Attributes:   " + words + "\n\n";

  tools::TextTable table(
      {"#", "Name", "Type", "Key", "Style", "Value list", "Flags", "Width", "Most characters"});
  table.AlignRight(0);
  const auto fieldCount = static_cast<std::int16_t>(db->fields().size());
  for (std::int16_t f = 0; f < fieldCount; ++f) {
    const FieldInfo& field = db->fields()[static_cast<std::size_t>(f)];
    std::uint8_t infoBlock[MDbFieldInfoBytes] = {};
    std::uint8_t optionBlock[MDbOptionBytes] = {};
    std::uint8_t exBlock[MDbOptionExBytes] = {};
    MDbSchemaTblReadFldInfo(env, &env->ref, &env->schema, f, infoBlock);
    const bool hasOption = MDbRecsetGetFldOption(env, rs, f, optionBlock) == MDbErrNone;
    const bool hasEx = MDbRecsetGetFldOptionEx(env, rs, f, exBlock) == MDbErrNone;
    const MDbFieldInfo info = MDbDecodeFieldInfo(infoBlock);
    const MDbFieldOption option = MDbDecodeFieldOption(optionBlock);
    std::string flagText;
    if (option.flags & MDbFieldLocked) flagText += "locked";
    if (option.flags & MDbFieldCapitalise) {
      flagText += std::string(flagText.empty() ? "" : ", ") + "capitalise";
    }
    const bool hasList = hasOption && option.valueListNumber() != MDbNoValueList;
    table.AddRow({std::to_string(f + 1), field.name, TypeName(field.type),
                  CountedText(info.key.data(), info.key.size()),
                  hasOption ? StyleName(option.displayStyle()) : "edit",
                  hasList ? std::to_string(option.valueListNumber() + 1) : "-",
                  flagText.empty() ? "-" : flagText,
                  hasEx ? std::to_string(MDbDecodeFieldOptionEx(exBlock).width) : "-",
                  std::to_string(field.maxChars)});
  }
  out += table.Render();

  std::vector<std::uint16_t> orders(db->fields().size());
  if (!orders.empty() &&
      MDbRecsetGetDisplayOrders(env, rs, orders.data(), fieldCount) == MDbErrNone) {
    std::string shown;
    for (const std::uint16_t f : orders) {
      shown += shown.empty() ? "" : ", ";
      shown += f < db->fields().size() ? db->fields()[f].name : "field " + std::to_string(f + 1);
    }
    out += "\nDisplay order: " + shown + "\n";
  }
  for (std::int16_t list = 0;; ++list) {
    std::uint32_t bytes = 0;
    if (MDbAgentGetValListSize(env, list, &bytes) != MDbErrNone || bytes < 2) break;
    std::u16string text(bytes / 2, u'\0');
    if (MDbAgentGetValList(env, list, text.data(), bytes) != MDbErrNone) break;
    text.resize(Utf16Length(text.c_str()));
    const std::string shown = ShownText(text);
    std::string items;
    for (std::size_t start = 0;;) {
      const std::size_t end = shown.find('\n', start);
      items += (start == 0 ? "" : " | ") + tools::EscapeControls(shown.substr(start, end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    out += (list == 0 ? "\n" : "") + std::string("Value list ") + std::to_string(list + 1) + ": " +
           items + "\n";
  }
  return WriteOut(out);
}

Status ShowRecordStates(const std::string& database, const Selection& selection, bool csv,
                        bool deletedTable) {
  std::unique_ptr<Database> db;
  if (Status s = OpenDatabase(database, selection, Access::kRead, &db); !s.ok()) return s;
  std::vector<std::string> headings = {"#", "State", "Identity"};
  for (const FieldInfo& f : db->fields()) {
    headings.push_back(f.name);
    if (!csv) break;  // the table shows the first field as a reminder
  }
  Rows rows(headings, csv);
  const std::uint32_t count = deletedTable ? db->deletedCount() : db->count();
  std::vector<std::u16string> values;
  for (std::uint32_t p = 0; p < count; ++p) {
    std::uint8_t state = 0;
    std::uint8_t identity[MDbIdentityBytes] = {};
    Status s = deletedTable ? db->ReadDeletedRecord(p, &values, &state, identity)
                            : db->ReadRecord(p, &values, &state, identity);
    if (!s.ok()) return s;
    std::vector<std::string> row = {std::to_string(p + 1),
                                    csv ? std::to_string(state) : StateWords(state),
                                    csv ? Hex(identity, MDbIdentityBytes) : IdentityText(identity)};
    for (std::size_t f = 0; f < values.size() && (csv || f == 0); ++f) {
      row.push_back(ShownText(values[f]));
    }
    rows.Add(std::move(row));
  }
  return rows.Write(RecordCount(count) + (deletedTable ? " in the delete table" : ""));
}

Status CheckDatabase(const std::string& database) {
  std::unique_ptr<Database> db;
  if (Status s = OpenDatabase(database, {}, Access::kRead, &db); !s.ok()) return s;
  std::vector<std::u16string> values;
  std::uint8_t state = 0;
  std::uint8_t identity[MDbIdentityBytes];
  const std::uint32_t count = db->count();
  for (std::uint32_t p = 0; p < count; ++p) {
    if (Status s = db->ReadRecord(p, &values, &state, identity); !s.ok()) return s;
  }
  for (std::uint32_t p = 0; p < db->deletedCount(); ++p) {
    if (Status s = db->ReadDeletedRecord(p, &values, &state, identity); !s.ok()) return s;
  }
  return WriteOut(database + ": the database opens as on the handheld: " +
                  std::to_string(db->fields().size()) + " fields, " + std::to_string(count) +
                  " records, " + std::to_string(db->deletedCount()) + " in the delete table\n");
}

}  // namespace tbm::tbmdb
