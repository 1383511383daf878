// A database's fields, its date and time formats, its flags and its value
// lists.
#include "DesktopDatabase.h"
#include "Utf16.h"

namespace tbm::tabulonpro {

// ---- fields ----

Status DesktopDatabase::Fields(std::vector<Field>* fields) {
  fields->clear();
  const std::vector<Field>* list = nullptr;
  if (Status s = FieldList(&list); !s.ok()) return s;
  *fields = *list;
  return {};
}

Status DesktopDatabase::FieldList(const std::vector<Field>** fields) {
  // The fields are asked for with nearly every call on a record; within a
  // snapshot or batch only this object changes them, so they are read
  // once and again after such a change.
  if (viewing() && fieldsSnapshot_ == snapshotSerial_) {
    *fields = &fieldsCache_;
    return {};
  }
  fieldsSnapshot_ = -1;
  fieldsCache_.clear();
  ScopedStatement s;
  if (Status status = Prepared("SELECT id, key, name, type FROM fields ORDER BY id", &s);
      !status.ok()) {
    return status;
  }
  int rc;
  while ((rc = s->Step()) == SQLITE_ROW) {
    const std::int64_t type = s->Integer(3);
    fieldsCache_.push_back(
        {s->Integer(0), s->Text(1), s->Text(2),
         type >= 1 && type <= 4 ? static_cast<FieldType>(type) : FieldType::kText});
  }
  if (rc != SQLITE_DONE) {
    fieldsCache_.clear();
    return Fail(rc, "reading the fields");
  }
  if (viewing()) fieldsSnapshot_ = snapshotSerial_;
  *fields = &fieldsCache_;
  return {};
}

Status DesktopDatabase::CheckFieldName(const std::string& name, std::int64_t except) {
  if (Status s = CheckName("the field name", name); !s.ok()) return s.WithContext(name_);
  std::vector<Field> fields;
  if (Status s = Fields(&fields); !s.ok()) return s;
  for (const Field& field : fields) {
    if (field.id != except && EqualsIgnoreCase(Utf8ToUtf16(field.name), Utf8ToUtf16(name))) {
      return Status(StatusCode::kInvalidArgument,
                    name_ + ": there is a field named '" + field.name + "' already");
    }
  }
  return {};
}

Status DesktopDatabase::AddField(const FieldDefinition& definition, Field* made) {
  ForgetFields();
  Transaction transaction(db_.get());
  if (transaction.began() != SQLITE_OK) return Fail(transaction.began(), "adding a field");
  if (Status s = InsertField(definition, made); !s.ok()) return s;
  const int rc = transaction.Commit();
  return rc == SQLITE_OK ? Status() : Fail(rc, "adding a field");
}

// Adds the field inside the caller's transaction, with the next key.
Status DesktopDatabase::InsertField(const FieldDefinition& definition, Field* made) {
  ForgetFields();
  if (Status s = CheckFieldName(definition.name, 0); !s.ok()) return s;
  std::vector<Field> fields;
  if (Status s = Fields(&fields); !s.ok()) return s;
  if (fields.size() >= kMaxFields) {
    return Status(StatusCode::kInvalidArgument, name_ + ": the database has " +
                                                    std::to_string(fields.size()) +
                                                    " fields, as many as a database may have");
  }
  ScopedStatement s;
  if (Status status = Prepared("UPDATE database_settings SET next_field = next_field + 1 "
                               "WHERE id = 1 RETURNING next_field - 1",
                               &s);
      !status.ok()) {
    return status;
  }
  if (const int rc = s->Step(); rc != SQLITE_ROW) return Fail(rc, "adding a field");
  const std::string key = "F" + std::to_string(s->Integer(0));
  s.Set(nullptr);
  if (Status status = Prepared("INSERT INTO fields(key, name, type) VALUES(?, ?, ?)", &s);
      !status.ok()) {
    return status;
  }
  s->Bind(1, key).Bind(2, definition.name).Bind(3, static_cast<std::int64_t>(definition.type));
  if (const int rc = s->Step(); rc != SQLITE_DONE) return Fail(rc, "adding a field");
  if (made != nullptr) {
    *made = {sqlite3_last_insert_rowid(db_.get()), key, definition.name, definition.type};
  }
  return {};
}

Status DesktopDatabase::RemoveField(std::int64_t field) {
  ForgetFields();
  Transaction transaction(db_.get());
  if (transaction.began() != SQLITE_OK) return Fail(transaction.began(), "removing a field");
  ScopedStatement s;
  if (Status status = Prepared("DELETE FROM fields WHERE id = ?", &s); !status.ok()) return status;
  s->Bind(1, field);
  if (const int rc = s->Step(); rc != SQLITE_DONE) return Fail(rc, "removing a field");
  if (sqlite3_changes(db_.get()) == 0) {
    return Status(StatusCode::kNotFound, name_ + ": the field no longer exists");
  }
  // Its texts go from every record that has one.
  std::vector<std::int64_t> rows;
  if (Status status = Prepared("SELECT id FROM records ORDER BY id", &s); !status.ok()) {
    return status;
  }
  int rc;
  while ((rc = s->Step()) == SQLITE_ROW) rows.push_back(s->Integer(0));
  if (rc != SQLITE_DONE) return Fail(rc, "removing a field");
  s.Set(nullptr);
  for (const std::int64_t row : rows) {
    FieldTexts texts;
    if (Status status = LoadTexts(row, &texts); !status.ok()) return status;
    if (texts.erase(field) == 0) continue;
    if (Status status = StoreTexts(row, texts, "removing a field"); !status.ok()) return status;
  }
  rc = transaction.Commit();
  return rc == SQLITE_OK ? Status() : Fail(rc, "removing a field");
}

void DesktopDatabase::ForgetFields() {
  EndSnapshot();
  fieldsSnapshot_ = -1;
}

Status DesktopDatabase::RenameField(std::int64_t field, const std::string& name) {
  ForgetFields();
  Transaction transaction(db_.get());
  if (transaction.began() != SQLITE_OK) return Fail(transaction.began(), "renaming a field");
  if (Status s = CheckFieldName(name, field); !s.ok()) return s;
  ScopedStatement s;
  if (Status status = Prepared("UPDATE fields SET name = ? WHERE id = ?", &s); !status.ok()) {
    return status;
  }
  s->Bind(1, name).Bind(2, field);
  if (const int rc = s->Step(); rc != SQLITE_DONE) return Fail(rc, "renaming a field");
  if (sqlite3_changes(db_.get()) == 0) {
    return Status(StatusCode::kNotFound, name_ + ": the field no longer exists");
  }
  const int rc = transaction.Commit();
  return rc == SQLITE_OK ? Status() : Fail(rc, "renaming a field");
}

Status DesktopDatabase::ChangeFieldType(std::int64_t field, FieldType type) {
  ForgetFields();
  ScopedStatement s;
  if (Status status = Prepared("UPDATE fields SET type = ? WHERE id = ?", &s); !status.ok()) {
    return status;
  }
  s->Bind(1, static_cast<std::int64_t>(type)).Bind(2, field);
  if (const int rc = s->Step(); rc != SQLITE_DONE) return Fail(rc, "changing a field's type");
  if (sqlite3_changes(db_.get()) == 0) {
    return Status(StatusCode::kNotFound, name_ + ": the field no longer exists");
  }
  return {};
}

// ---- settings ----

Status DesktopDatabase::Formats(DateTimeFormats* f) {
  ScopedStatement s;
  if (Status status = Prepared(
          "SELECT date_separator, date_order, two_digit_month, two_digit_day, typed_separator, "
          "time_separator, leading_zero, twelve_hour, morning_suffix, afternoon_suffix, "
          "twenty_four_suffix FROM database_settings WHERE id = 1",
          &s);
      !status.ok()) {
    return status;
  }
  if (const int rc = s->Step(); rc != SQLITE_ROW) {
    return rc == SQLITE_DONE ? Fail(SQLITE_CORRUPT, "reading the formats")
                             : Fail(rc, "reading the formats");
  }
  f->dateSeparator = s->Text(0);
  f->dateOrder =
      static_cast<std::uint8_t>(s->Integer(1) >= 0 && s->Integer(1) <= 5 ? s->Integer(1) : 0);
  f->twoDigitMonth = s->Integer(2) != 0;
  f->twoDigitDay = s->Integer(3) != 0;
  f->preferTypedSeparator = s->Integer(4) != 0;
  f->timeSeparator = s->Text(5);
  f->leadingZero = s->Integer(6) != 0;
  f->twelveHourClock = s->Integer(7) != 0;
  f->morningSuffix = s->Text(8);
  f->afternoonSuffix = s->Text(9);
  f->twentyFourSuffix = s->Text(10);
  return {};
}

Status DesktopDatabase::SetFormats(const DateTimeFormats& f) {
  EndSnapshot();
  if (Status s = CheckFormats(f); !s.ok()) return s.WithContext(name_);
  ScopedStatement s;
  if (Status status = Prepared(
          "UPDATE database_settings SET date_separator = ?, date_order = ?, two_digit_month = ?, "
          "two_digit_day = ?, typed_separator = ?, time_separator = ?, leading_zero = ?, "
          "twelve_hour = ?, morning_suffix = ?, afternoon_suffix = ?, twenty_four_suffix = ? "
          "WHERE id = 1",
          &s);
      !status.ok()) {
    return status;
  }
  s->Bind(1, f.dateSeparator)
      .Bind(2, static_cast<std::int64_t>(f.dateOrder))
      .Bind(3, std::int64_t{f.twoDigitMonth})
      .Bind(4, std::int64_t{f.twoDigitDay})
      .Bind(5, std::int64_t{f.preferTypedSeparator})
      .Bind(6, f.timeSeparator)
      .Bind(7, std::int64_t{f.leadingZero})
      .Bind(8, std::int64_t{f.twelveHourClock})
      .Bind(9, f.morningSuffix)
      .Bind(10, f.afternoonSuffix)
      .Bind(11, f.twentyFourSuffix);
  const int rc = s->Step();
  return rc == SQLITE_DONE ? Status() : Fail(rc, "changing the formats");
}

Status DesktopDatabase::Flags(std::uint32_t* flags) {
  ScopedStatement s;
  if (Status status = Prepared("SELECT sync_flags FROM database_settings WHERE id = 1", &s);
      !status.ok()) {
    return status;
  }
  const int rc = s->Step();
  if (rc != SQLITE_ROW) return Fail(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc, "reading the flags");
  *flags = static_cast<std::uint32_t>(s->Integer(0));
  return {};
}

Status DesktopDatabase::SetFlags(std::uint32_t flags) {
  EndSnapshot();
  ScopedStatement s;
  if (Status status = Prepared("UPDATE database_settings SET sync_flags = ? WHERE id = 1", &s);
      !status.ok()) {
    return status;
  }
  s->Bind(1, static_cast<std::int64_t>(flags));
  const int rc = s->Step();
  return rc == SQLITE_DONE ? Status() : Fail(rc, "changing the flags");
}

// ---- value lists ----

namespace {

std::vector<std::string> SplitItems(const std::string& stored) {
  std::vector<std::string> items;
  std::size_t start = 0;
  while (start < stored.size()) {
    const std::size_t end = stored.find('\n', start);
    items.push_back(stored.substr(start, end == std::string::npos ? end : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return items;
}

}  // namespace

Status DesktopDatabase::ValueLists(std::vector<ValueList>* lists) {
  lists->clear();
  ScopedStatement s;
  if (Status status = Prepared("SELECT name, items FROM value_lists ORDER BY name", &s);
      !status.ok()) {
    return status;
  }
  int rc;
  while ((rc = s->Step()) == SQLITE_ROW) lists->push_back({s->Text(0), SplitItems(s->Text(1))});
  return rc == SQLITE_DONE ? Status() : Fail(rc, "reading the value lists");
}

Status DesktopDatabase::FindValueList(const std::string& name, ValueList* list) {
  ScopedStatement s;
  if (Status status = Prepared("SELECT items FROM value_lists WHERE name = ?", &s); !status.ok()) {
    return status;
  }
  s->Bind(1, name);
  const int rc = s->Step();
  if (rc == SQLITE_DONE) {
    return Status(StatusCode::kNotFound, name_ + ": there is no value list named '" + name + "'");
  }
  if (rc != SQLITE_ROW) return Fail(rc, "reading a value list");
  *list = {name, SplitItems(s->Text(0))};
  return {};
}

Status DesktopDatabase::SetValueList(const ValueList& list) {
  EndSnapshot();
  if (Status s = CheckName("the value list's name", list.name); !s.ok())
    return s.WithContext(name_);
  std::string items;
  for (const std::string& item : list.items) {
    std::string stored;
    if (Status s = StoredText(item, "an item of the list '" + list.name + "'", &stored); !s.ok()) {
      return s.WithContext(name_);
    }
    if (stored.find('\n') != std::string::npos) {
      return Status(StatusCode::kInvalidArgument,
                    name_ + ": an item of the list '" + list.name +
                        "' holds a line break; each item is one line");
    }
    items += stored + '\n';
  }
  ScopedStatement s;
  if (Status status = Prepared("INSERT INTO value_lists(name, items) VALUES(?, ?) "
                               "ON CONFLICT(name) DO UPDATE SET items = excluded.items",
                               &s);
      !status.ok()) {
    return status;
  }
  s->Bind(1, list.name).Bind(2, items);
  const int rc = s->Step();
  return rc == SQLITE_DONE ? Status() : Fail(rc, "writing a value list");
}

Status DesktopDatabase::RemoveValueList(const std::string& name) {
  EndSnapshot();
  ScopedStatement s;
  if (Status status = Prepared("DELETE FROM value_lists WHERE name = ?", &s); !status.ok()) {
    return status;
  }
  s->Bind(1, name);
  if (const int rc = s->Step(); rc != SQLITE_DONE) return Fail(rc, "removing a value list");
  if (sqlite3_changes(db_.get()) == 0) {
    return Status(StatusCode::kNotFound, name_ + ": there is no value list named '" + name + "'");
  }
  return {};
}

}  // namespace tbm::tabulonpro
