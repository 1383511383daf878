// "create NAME CSV": a new database from a CSV file whose header row names
// the fields with their types ("Name:text,Born:date,Qty:number,Start:time";
// a name without a type is a text field).
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "Commands.h"
#include "CsvFile.h"
#include "DatabaseFolder.h"
#include "Utf16.h"

namespace tbm::tabulonpro {

namespace {

namespace stdfs = std::filesystem;

std::string Where(const std::string& file, tools::CsvPosition p) {
  return file + ": line " + std::to_string(p.line) + ", column " + std::to_string(p.column);
}

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") + 1 - first);
}

Status ReadHeader(tools::CsvReader& reader, const std::string& file,
                  std::vector<FieldDefinition>* fields) {
  std::vector<tools::CsvValue> row;
  if (!reader.Next(&row)) {
    if (reader.failed())
      return Status::Error(Where(file, reader.errorAt()) + ": " + reader.error());
    return Status(StatusCode::kInvalidArgument,
                  file +
                      ": the file is empty; its first row names the fields with their types, "
                      "as Name:text,Born:date,Qty:number,Start:time");
  }
  if (row.size() > kMaxFields) {
    return Status(StatusCode::kInvalidArgument,
                  Where(file, row[kMaxFields].where) + ": the header names " +
                      std::to_string(row.size()) + " fields; a database has at most " +
                      std::to_string(kMaxFields));
  }
  for (const tools::CsvValue& cell : row) {
    const std::string text = Utf16ToUtf8(cell.text);
    const std::size_t colon = text.rfind(':');
    FieldDefinition field;
    field.name = Trimmed(colon == std::string::npos ? text : text.substr(0, colon));
    const std::string type = colon == std::string::npos ? "text" : Trimmed(text.substr(colon + 1));
    const std::optional<FieldType> known = FieldTypeFromName(type);
    if (!known) {
      return Status(StatusCode::kInvalidArgument,
                    Where(file, cell.where) + ": unknown type '" + Shown(type) + "' for field '" +
                        Shown(field.name) + "'; the types are text, number, date and time");
    }
    field.type = *known;
    for (const FieldDefinition& earlier : *fields) {
      if (EqualsIgnoreCase(Utf8ToUtf16(earlier.name), Utf8ToUtf16(field.name))) {
        return Status(StatusCode::kInvalidArgument, Where(file, cell.where) + ": the field name '" +
                                                        Shown(field.name) + "' is used twice");
      }
    }
    if (field.name.empty()) {
      return Status(StatusCode::kInvalidArgument,
                    Where(file, cell.where) + ": a field has no name");
    }
    fields->push_back(std::move(field));
  }
  return {};
}

Status ReadRecords(tools::CsvReader& reader, const std::string& file, std::size_t fieldCount,
                   std::vector<std::vector<std::string>>* records) {
  std::vector<tools::CsvValue> row;
  while (reader.Next(&row)) {
    if (row.size() > fieldCount) {
      return Status(StatusCode::kInvalidArgument,
                    Where(file, row[fieldCount].where) + ": the row has " +
                        std::to_string(row.size()) + " values; the header names " +
                        std::to_string(fieldCount) + " fields");
    }
    std::vector<std::string> texts;
    for (const tools::CsvValue& value : row) texts.push_back(Utf16ToUtf8(value.text));
    records->push_back(std::move(texts));
  }
  if (reader.failed()) return Status::Error(Where(file, reader.errorAt()) + ": " + reader.error());
  return {};
}

// "LIST=ITEM|ITEM|..." as a value list.
Status ParseValueList(const std::string& text, ValueList* list) {
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos || equals == 0) {
    return Status(StatusCode::kInvalidArgument,
                  "--values takes LIST=ITEM|ITEM|..., not '" + Shown(text) + "'");
  }
  list->name = text.substr(0, equals);
  const std::string items = text.substr(equals + 1);
  for (std::size_t start = 0;;) {
    const std::size_t bar = items.find('|', start);
    list->items.push_back(items.substr(start, bar == std::string::npos ? bar : bar - start));
    if (bar == std::string::npos) break;
    start = bar + 1;
  }
  return {};
}

}  // namespace

Status CreateFromCsv(const CreateArguments& a) {
  if (a.database.find('/') == std::string::npos) {
    if (Status s = CheckDatabaseName(a.database); !s.ok()) return s;
  }
  std::string path;
  if (Status s = DatabasePath(a.database, &path); !s.ok()) return s;
  std::error_code error;
  if (stdfs::exists(path, error)) {
    return Status(StatusCode::kInvalidArgument,
                  a.database + ": a database of that name exists already (" + path + ")");
  }
  NewDatabase content;
  if (Status s = a.formats.ApplyTo(&content.formats); !s.ok()) return s;
  for (const std::string& text : a.valueLists) {
    ValueList list;
    if (Status s = ParseValueList(text, &list); !s.ok()) return s;
    for (const ValueList& earlier : content.valueLists) {
      if (earlier.name == list.name) {
        return Status(StatusCode::kInvalidArgument,
                      "--values: the list '" + Shown(list.name) + "' is given twice");
      }
    }
    content.valueLists.push_back(std::move(list));
  }

  const std::string file = a.csv == "-" ? "standard input" : a.csv;
  std::FILE* in = a.csv == "-" ? stdin : std::fopen(a.csv.c_str(), "rb");
  if (in == nullptr) {
    return Status(errno == ENOENT ? StatusCode::kNotFound : StatusCode::kIoFailed,
                  file + ": cannot be opened (" + std::strerror(errno) + ")");
  }
  struct stat info {};
  const std::uint64_t size =
      ::fstat(::fileno(in), &info) == 0 && S_ISREG(info.st_mode) ? info.st_size : 0;
  Status status;
  {
    tools::CsvReader reader(in, size);
    status = ReadHeader(reader, file, &content.fields);
    if (status.ok()) status = ReadRecords(reader, file, content.fields.size(), &content.records);
  }
  if (in != stdin) std::fclose(in);
  if (!status.ok()) return status;

  if (a.database.find('/') == std::string::npos) {
    stdfs::create_directories(DatabaseFolder(), error);
    if (error) {
      return Status(StatusCode::kIoFailed, "the database folder " + DatabaseFolder() +
                                               " cannot be made (" + error.message() + ")");
    }
  }
  if (Status s = DesktopDatabase::Create(path, content); !s.ok()) return s;
  std::printf("Created %s with %zu fields and %zu records.\n", a.database.c_str(),
              content.fields.size(), content.records.size());
  return {};
}

}  // namespace tbm::tabulonpro
