// The commands that change records: add, set and delete, each through the
// record set as the handheld program changes records, so states and the
// delete table come out as they would on the handheld.
#include <cstdio>

#include "Commands.h"
#include "NumberRule.h"
#include "Utf16.h"

namespace tbm::tbmdb {

using engine::Access;
using engine::Database;
using engine::FieldInfo;
using engine::OpenDatabase;
using engine::Selection;
using engine::StoredText;

namespace {

struct FieldValue {
  int field;
  std::u16string text;
};

// Resolves and checks every "Field=value" before anything is written, and
// notes the numbers that will not sort or find as they look.
Status Prepare(Database& db, const std::vector<std::string>& assignments,
               std::vector<FieldValue>* values, NumberSurprises* surprises) {
  for (const std::string& text : assignments) {
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) {
      return Status::Error("'" + text + "' is not a field's value; write Field=value");
    }
    FieldValue value;
    if (Status s = db.FindField(text.substr(0, equals), &value.field); !s.ok()) return s;
    for (const FieldValue& earlier : *values) {
      if (earlier.field == value.field) {
        return db.Failed("the field '" + db.fields()[static_cast<std::size_t>(value.field)].name +
                         "' is given twice");
      }
    }
    value.text = StoredText(Utf8ToUtf16(text.substr(equals + 1)));
    if (Status s = db.CheckValue(value.field, value.text); !s.ok()) return s;
    const FieldInfo& info = db.fields()[static_cast<std::size_t>(value.field)];
    if (info.type == MDbFieldNumber)
      surprises->Note(static_cast<std::size_t>(value.field), info.name, value.text, "");
    values->push_back(std::move(value));
  }
  return {};
}

Status CheckPosition(Database& db, std::uint32_t position) {
  const std::uint32_t count = db.count();
  if (position < 1 || position > count) {
    return db.Failed("there is no record " + std::to_string(position) + "; the records are " +
                     (count == 0 ? std::string("none") : "1 to " + std::to_string(count)));
  }
  return {};
}

// Writes the values into the record at position (from 0) of the set.
std::int32_t WriteFields(Database& db, std::uint32_t position,
                         const std::vector<FieldValue>& values) {
  MDbEnv* env = db.env();
  MDbRecset* rs = db.records();
  std::int32_t rc = MDbRecsetSetInx(env, rs, static_cast<std::int16_t>(position));
  if (rc == MDbErrNone) rc = MDbRecsetOpenRec(env, rs);
  if (rc != MDbErrNone) return rc;
  for (const FieldValue& value : values) {
    rc = MDbRecsetSetField(env, rs, static_cast<std::uint16_t>(value.field), value.text.c_str());
    if (rc != MDbErrNone) break;
  }
  MDbRecsetCloseRec(env, rs);
  return rc;
}

}  // namespace

Status AddRecord(const std::string& database, const std::vector<std::string>& assignments,
                 std::uint32_t* position) {
  std::unique_ptr<Database> db;
  if (Status s = OpenDatabase(database, {}, Access::kChange, &db); !s.ok()) return s;
  std::vector<FieldValue> values;
  NumberSurprises surprises;
  if (Status s = Prepare(*db, assignments, &values, &surprises); !s.ok()) return s;
  // The new record and its values are one change: a failure or a kill on
  // the way leaves no record at all.
  std::uint16_t added = 0;
  std::int32_t rc = MDbRecsetNewRec(db->env(), db->records(), &added);
  if (rc == MDbErrNone) rc = WriteFields(*db, added, values);
  if (rc != MDbErrNone) return db->EngineFailed(rc);
  if (Status s = db->Commit(); !s.ok()) return s;
  // The change held the database from before its records were counted, so
  // the position is the record's place among them all.
  *position = added + 1u;
  PrintWarnings(surprises.Warnings());
  return {};
}

Status SetRecord(const std::string& database, const Selection& selection, std::uint32_t position,
                 const std::vector<std::string>& assignments) {
  std::unique_ptr<Database> db;
  if (Status s = OpenDatabase(database, selection, Access::kChange, &db); !s.ok()) return s;
  if (Status s = CheckPosition(*db, position); !s.ok()) return s;
  std::vector<FieldValue> values;
  NumberSurprises surprises;
  if (Status s = Prepare(*db, assignments, &values, &surprises); !s.ok()) return s;
  if (std::int32_t rc = WriteFields(*db, position - 1, values); rc != MDbErrNone) {
    return db->EngineFailed(rc);
  }
  if (Status s = db->Commit(); !s.ok()) return s;
  PrintWarnings(surprises.Warnings());
  return {};
}

Status DeleteRecord(const std::string& database, const Selection& selection, std::uint32_t position,
                    bool tracked) {
  std::unique_ptr<Database> db;
  if (Status s = OpenDatabase(database, selection, Access::kChange, &db); !s.ok()) return s;
  if (Status s = CheckPosition(*db, position); !s.ok()) return s;
  const std::int32_t rc = MDbRecsetDelRec(db->env(), db->records(),
                                          static_cast<std::int16_t>(position - 1), tracked ? 0 : 1);
  if (rc != MDbErrNone) return db->EngineFailed(rc);
  return db->Commit();
}

}  // namespace tbm::tbmdb
