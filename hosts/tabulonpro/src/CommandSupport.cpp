// What the commands share: finding databases, fields and records as a
// person names them, and the date and time format options.
#include "Commands.h"
#include "DatabaseFolder.h"
#include "TextTable.h"
#include "Utf16.h"

namespace tbm::tabulonpro {

namespace {

struct OrderName {
  const char* name;
  std::uint8_t order;
};
constexpr OrderName kOrders[] = {{"none", 0}, {"mdy", 1}, {"dmy", 2},
                                 {"ymd", 3},  {"dym", 4}, {"myd", 5}};

}  // namespace

std::string Shown(const std::string& text) { return tools::EscapeControls(text); }

Status OpenForCommand(const std::string& database, std::unique_ptr<DesktopDatabase>* db) {
  Status s = OpenDatabase(database, db);
  if (s.code() == StatusCode::kNotFound && database.find('/') == std::string::npos) {
    return Status(s.code(), database + ": there is no such database in " + DatabaseFolder() +
                                " ('databases' lists them)");
  }
  return s;
}

Status FindField(DesktopDatabase& db, const std::string& given, Field* field) {
  std::vector<Field> fields;
  if (Status s = db.Fields(&fields); !s.ok()) return s;
  for (const Field& f : fields) {
    if (EqualsIgnoreCase(Utf8ToUtf16(f.name), Utf8ToUtf16(given))) {
      *field = f;
      return {};
    }
  }
  for (const Field& f : fields) {
    if (f.key == given) {
      *field = f;
      return {};
    }
  }
  std::string names;
  for (const Field& f : fields) names += (names.empty() ? "" : ", ") + f.name;
  return Status(StatusCode::kNotFound, db.name() + ": there is no field '" + Shown(given) +
                                           "'; the fields are " + (names.empty() ? "none" : names));
}

Status ParseAssignments(DesktopDatabase& db, const std::vector<std::string>& values,
                        FieldTexts* texts) {
  std::vector<Field> fields;
  if (Status s = db.Fields(&fields); !s.ok()) return s;
  for (const std::string& assignment : values) {
    const Field* best = nullptr;
    for (const Field& f : fields) {
      const std::size_t length = f.name.size();
      if (assignment.size() > length && assignment[length] == '=' &&
          EqualsIgnoreCase(Utf8ToUtf16(assignment.substr(0, length)), Utf8ToUtf16(f.name)) &&
          (best == nullptr || length > best->name.size())) {
        best = &f;
      }
    }
    if (best == nullptr) {
      const std::size_t equals = assignment.find('=');
      if (equals == std::string::npos) {
        return Status(StatusCode::kInvalidArgument,
                      "'" + Shown(assignment) + "' is not FIELD=VALUE");
      }
      Field unused;
      return FindField(db, assignment.substr(0, equals), &unused);
    }
    if (texts->count(best->id) != 0) {
      return Status(StatusCode::kInvalidArgument, "the field '" + best->name + "' is given twice");
    }
    (*texts)[best->id] = assignment.substr(best->name.size() + 1);
  }
  return {};
}

Status RecordAtPosition(DesktopDatabase& db, std::int64_t position, RecordInfo* record) {
  std::vector<RecordInfo> records;
  if (Status s = db.Records(&records); !s.ok()) return s;
  if (position < 1 || static_cast<std::size_t>(position) > records.size()) {
    return Status(StatusCode::kNotFound, db.name() + ": there is no record " +
                                             std::to_string(position) + "; the database has " +
                                             std::to_string(records.size()) + " records");
  }
  *record = records[static_cast<std::size_t>(position - 1)];
  return {};
}

bool FormatOptions::any() const {
  return dateOrder || dateSeparator || twoDigitMonth || twoDigitDay || typedSeparator ||
         timeSeparator || clock || morning || afternoon || twentyFour || leadingZero;
}

Status FormatOptions::ApplyTo(DateTimeFormats* f) const {
  if (dateOrder) {
    bool known = false;
    for (const OrderName& o : kOrders) {
      if (*dateOrder == o.name) {
        f->dateOrder = o.order;
        known = true;
      }
    }
    if (!known) {
      return Status(
          StatusCode::kInvalidArgument,
          "--date-order takes mdy, dmy, ymd, dym, myd or none, not '" + Shown(*dateOrder) + "'");
    }
  }
  if (dateSeparator) f->dateSeparator = *dateSeparator;
  if (twoDigitMonth) f->twoDigitMonth = *twoDigitMonth;
  if (twoDigitDay) f->twoDigitDay = *twoDigitDay;
  if (typedSeparator) f->preferTypedSeparator = *typedSeparator;
  if (timeSeparator) f->timeSeparator = *timeSeparator;
  if (clock) f->twelveHourClock = *clock == 12;
  if (morning) f->morningSuffix = *morning;
  if (afternoon) f->afternoonSuffix = *afternoon;
  if (twentyFour) f->twentyFourSuffix = *twentyFour;
  if (leadingZero) f->leadingZero = *leadingZero;
  if (Status s = CheckFormats(*f); !s.ok()) return s;
  if (f->twelveHourClock &&
      EqualsIgnoreCase(Utf8ToUtf16(f->morningSuffix), Utf8ToUtf16(f->afternoonSuffix))) {
    return Status(StatusCode::kInvalidArgument,
                  "the morning and afternoon suffixes must differ on a 12-hour clock, or a "
                  "time could not say which half of the day it is");
  }
  return {};
}

}  // namespace tbm::tabulonpro
