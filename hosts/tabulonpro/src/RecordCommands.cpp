// The commands on records: list, add, set, delete and select.
#include <unicode/uchar.h>
#include <unicode/ustring.h>

#include <cstdio>
#include <set>

#include "Commands.h"
#include "CsvFile.h"
#include "TextTable.h"
#include "Utf16.h"

namespace tbm::tabulonpro {

namespace {

std::u16string Folded(const std::string& text) {
  const std::u16string wide = Utf8ToUtf16(text);
  std::u16string folded(wide.size() * 3 + 1, u'\0');
  UErrorCode error = U_ZERO_ERROR;
  const int32_t length =
      u_strFoldCase(folded.data(), static_cast<int32_t>(folded.size()), wide.data(),
                    static_cast<int32_t>(wide.size()), U_FOLD_CASE_DEFAULT, &error);
  if (U_FAILURE(error)) return wide;
  folded.resize(static_cast<std::size_t>(length));
  return folded;
}

// "1,3,5" as positions from 1.
Status ParsePositions(const std::string& text, std::vector<std::int64_t>* positions) {
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? comma : comma - start);
    if (item.empty() || item.size() > 9 ||
        item.find_first_not_of("0123456789") != std::string::npos || std::stoll(item) < 1) {
      return Status(StatusCode::kInvalidArgument,
                    "--positions takes record positions from 1 separated by commas, as 1,3,5; "
                    "not '" +
                        Shown(text) + "'");
    }
    positions->push_back(std::stoll(item));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return {};
}

}  // namespace

Status ListRecords(const std::string& database, bool selected, bool csv) {
  std::unique_ptr<DesktopDatabase> db;
  if (Status s = OpenForCommand(database, &db); !s.ok()) return s;
  std::vector<Field> fields;
  std::vector<RecordInfo> records;
  std::vector<std::int64_t> chosen;
  if (Status s = db->Fields(&fields); !s.ok()) return s;
  if (Status s = db->Records(&records); !s.ok()) return s;
  if (selected) {
    if (Status s = db->Selection(&chosen); !s.ok()) return s;
  }
  const std::set<std::int64_t> wanted(chosen.begin(), chosen.end());

  std::vector<std::string> headings = {"#", "Identity", "Changes"};
  for (const Field& f : fields) headings.push_back(f.name);
  tools::TextTable table(headings);
  table.AlignRight(0);
  table.AlignRight(2);
  std::string out = csv ? tools::CsvRow(headings) : std::string();
  std::size_t shown = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    const RecordInfo& record = records[i];
    if (selected && wanted.count(record.row) == 0) continue;
    FieldTexts texts;
    if (Status s = db->ReadTexts(record.row, &texts); !s.ok()) return s;
    std::vector<std::string> cells = {std::to_string(i + 1), IdentityHex(record.identity),
                                      std::to_string(record.modification)};
    for (const Field& f : fields) cells.push_back(texts.count(f.id) ? texts[f.id] : "");
    if (csv) {
      out += tools::CsvRow(cells);
    } else {
      table.AddRow(std::move(cells));
    }
    ++shown;
  }
  if (!csv) {
    out = table.Render();
    out += std::to_string(shown) + (shown == 1 ? " record" : " records") +
           (selected ? " selected.\n" : ".\n");
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
  return {};
}

Status AddRecord(const std::string& database, const std::vector<std::string>& values) {
  std::unique_ptr<DesktopDatabase> db;
  if (Status s = OpenForCommand(database, &db); !s.ok()) return s;
  FieldTexts texts;
  if (Status s = ParseAssignments(*db, values, &texts); !s.ok()) return s;
  RecordInfo made;
  if (Status s = db->AddRecord(texts, &made); !s.ok()) return s;
  std::int64_t count = 0;
  if (Status s = db->RecordCount(&count); !s.ok()) return s;
  std::printf("Added record %lld (identity %s).\n", static_cast<long long>(count),
              IdentityHex(made.identity).c_str());
  return {};
}

Status SetRecord(const std::string& database, std::int64_t position,
                 const std::vector<std::string>& values) {
  std::unique_ptr<DesktopDatabase> db;
  if (Status s = OpenForCommand(database, &db); !s.ok()) return s;
  FieldTexts texts;
  if (Status s = ParseAssignments(*db, values, &texts); !s.ok()) return s;
  RecordInfo record;
  if (Status s = RecordAtPosition(*db, position, &record); !s.ok()) return s;
  if (Status s = db->ChangeRecord(record.row, texts); !s.ok()) return s;
  if (Status s = db->Record(record.row, &record); !s.ok()) return s;
  std::printf("Changed record %lld (modification count %u).\n", static_cast<long long>(position),
              static_cast<unsigned>(record.modification));
  return {};
}

Status DeleteRecord(const std::string& database, std::int64_t position) {
  std::unique_ptr<DesktopDatabase> db;
  if (Status s = OpenForCommand(database, &db); !s.ok()) return s;
  RecordInfo record;
  if (Status s = RecordAtPosition(*db, position, &record); !s.ok()) return s;
  if (Status s = db->DeleteRecord(record.row); !s.ok()) return s;
  std::printf("Deleted record %lld (identity %s).\n", static_cast<long long>(position),
              IdentityHex(record.identity).c_str());
  return {};
}

Status SelectRecords(const std::string& database, const SelectArguments& a) {
  const int ways = (a.find.size() == 2) + !a.positions.empty() + a.all + a.none;
  if (ways != 1) {
    return Status(StatusCode::kInvalidArgument,
                  "say which records to select with one of --find FIELD TEXT, --positions, "
                  "--all and --none");
  }
  std::unique_ptr<DesktopDatabase> db;
  if (Status s = OpenForCommand(database, &db); !s.ok()) return s;
  std::vector<RecordInfo> records;
  if (Status s = db->Records(&records); !s.ok()) return s;
  std::vector<std::int64_t> rows;
  if (a.all) {
    for (const RecordInfo& r : records) rows.push_back(r.row);
  } else if (!a.positions.empty()) {
    std::vector<std::int64_t> positions;
    if (Status s = ParsePositions(a.positions, &positions); !s.ok()) return s;
    for (const std::int64_t p : positions) {
      RecordInfo record;
      if (Status s = RecordAtPosition(*db, p, &record); !s.ok()) return s;
      rows.push_back(record.row);
    }
  } else if (a.find.size() == 2) {
    Field field;
    if (Status s = FindField(*db, a.find[0], &field); !s.ok()) return s;
    const std::u16string wanted = Folded(a.find[1]);
    for (const RecordInfo& r : records) {
      std::string text;
      if (Status s = db->ReadText(r.row, field.id, &text); !s.ok()) return s;
      if (Folded(text).find(wanted) != std::u16string::npos) rows.push_back(r.row);
    }
  }
  if (Status s = db->SetSelection(rows); !s.ok()) return s;
  std::printf("%zu %s selected in %s.\n", rows.size(), rows.size() == 1 ? "record" : "records",
              db->name().c_str());
  return {};
}

}  // namespace tbm::tabulonpro
