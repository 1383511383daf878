// A database's records, its current selection and its plug-in data, and
// filling a new database.
#include <algorithm>
#include <cstdint>
#include <optional>

#include "DesktopDatabase.h"

namespace tbm::tabulonpro {

namespace {

RecordIdentity IdentityFromBlob(const std::string& blob) {
  RecordIdentity identity{};
  std::copy_n(blob.begin(), std::min(blob.size(), identity.size()), identity.begin());
  return identity;
}

std::string_view BlobOf(const RecordIdentity& identity) {
  return std::string_view(reinterpret_cast<const char*>(identity.data()), identity.size());
}

std::string KeyName(std::uint32_t key) {
  std::string name;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((key >> shift) & 0xFF);
    name += c >= 0x20 && c < 0x7F ? c : '?';
  }
  return name;
}

// A record's texts in its row: for each field with a text, in the order of
// the fields' ids, the id and the text's length in bytes, each as an
// unsigned LEB128 number, then the text.
void AppendNumber(std::uint64_t number, std::string* out) {
  do {
    const auto low = static_cast<char>(number & 0x7F);
    number >>= 7;
    out->push_back(static_cast<char>(low | (number != 0 ? 0x80 : 0)));
  } while (number != 0);
}

bool TakeNumber(std::string_view* in, std::uint64_t* number) {
  *number = 0;
  for (int shift = 0; shift < 64; shift += 7) {
    if (in->empty()) return false;
    const auto byte = static_cast<std::uint8_t>(in->front());
    in->remove_prefix(1);
    *number |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) return true;
  }
  return false;
}

std::string EncodeTexts(const FieldTexts& texts) {
  std::string out;
  for (const auto& [field, text] : texts) {
    AppendNumber(static_cast<std::uint64_t>(field), &out);
    AppendNumber(text.size(), &out);
    out += text;
  }
  return out;
}

// Decodes into texts, reusing what it holds for the fields it has already.
bool DecodeTexts(std::string_view in, FieldTexts* texts) {
  auto kept = texts->begin();
  while (!in.empty()) {
    std::uint64_t number = 0;
    std::uint64_t length = 0;
    if (!TakeNumber(&in, &number) || !TakeNumber(&in, &length) || length > in.size() ||
        number > static_cast<std::uint64_t>(INT64_MAX)) {
      texts->clear();
      return false;
    }
    const auto field = static_cast<std::int64_t>(number);
    while (kept != texts->end() && kept->first < field) kept = texts->erase(kept);
    if (kept != texts->end() && kept->first == field) {
      kept->second.assign(in.substr(0, length));
      ++kept;
    } else {
      texts->emplace_hint(kept, field, std::string(in.substr(0, length)));
    }
    in.remove_prefix(length);
  }
  texts->erase(kept, texts->end());
  return true;
}

}  // namespace

void DesktopDatabase::BeginSnapshot() {
  if (snapshot_ || sqlite3_get_autocommit(db_.get()) == 0) return;
  if (Execute(db_.get(), "BEGIN") == SQLITE_OK) {
    snapshot_ = true;
    ++snapshotSerial_;
  }
}

void DesktopDatabase::EndSnapshot() {
  cached_.info.row = 0;
  if (!snapshot_) return;
  snapshot_ = false;
  // A read transaction has nothing to keep; should COMMIT fail, ROLLBACK
  // ends it as well.
  if (Execute(db_.get(), "COMMIT") != SQLITE_OK) Execute(db_.get(), "ROLLBACK");
}

Status DesktopDatabase::BeginBatch() {
  if (batch_) return {};
  EndSnapshot();
  if (const int rc = Execute(db_.get(), "BEGIN IMMEDIATE"); rc != SQLITE_OK) {
    return Fail(rc, "beginning a batch of changes");
  }
  batch_ = true;
  ++snapshotSerial_;
  return {};
}

Status DesktopDatabase::EndBatch() {
  if (!batch_) return {};
  batch_ = false;
  cached_.info.row = 0;
  fieldsSnapshot_ = -1;
  const int rc = Execute(db_.get(), "COMMIT");
  if (rc == SQLITE_OK) return {};
  Execute(db_.get(), "ROLLBACK");
  return Fail(rc, "saving a batch of changes (none of them was kept)");
}

Status DesktopDatabase::Fill(const NewDatabase& content) {
  Transaction transaction(db_.get());
  if (transaction.began() != SQLITE_OK) return Fail(transaction.began(), "making the database");
  std::vector<std::int64_t> ids;
  for (const FieldDefinition& definition : content.fields) {
    Field made;
    if (Status s = InsertField(definition, &made); !s.ok()) return s;
    ids.push_back(made.id);
  }
  for (const ValueList& list : content.valueLists) {
    if (Status s = SetValueList(list); !s.ok()) return s;
  }
  std::size_t number = 0;
  for (const std::vector<std::string>& texts : content.records) {
    ++number;
    if (texts.size() > ids.size()) {
      return Status(StatusCode::kInvalidArgument, name_ + ": record " + std::to_string(number) +
                                                      " has " + std::to_string(texts.size()) +
                                                      " values for " + std::to_string(ids.size()) +
                                                      " fields");
    }
    FieldTexts byField;
    for (std::size_t f = 0; f < texts.size(); ++f) byField[ids[f]] = texts[f];
    RecordInfo made;
    if (Status s = InsertRecord(byField, &made); !s.ok()) {
      return s.WithContext("record " + std::to_string(number));
    }
  }
  const int rc = transaction.Commit();
  return rc == SQLITE_OK ? Status() : Fail(rc, "making the database");
}

// The next identity, inside the caller's transaction: a counted string of
// 7 bytes, 3 of the database's stamp, then 4 of its record counter, which
// only grows.
Status DesktopDatabase::NextIdentity(RecordIdentity* identity) {
  ScopedStatement s;
  if (Status status = Prepared("UPDATE database_settings SET next_record = next_record + 1 "
                               "WHERE id = 1 RETURNING identity_stamp, next_record - 1",
                               &s);
      !status.ok()) {
    return status;
  }
  if (const int rc = s->Step(); rc != SQLITE_ROW) return Fail(rc, "making a record");
  const auto stamp = static_cast<std::uint32_t>(s->Integer(0));
  const std::int64_t counter = s->Integer(1);
  if (counter < 1 || counter > 0xFFFFFFFFLL) {
    return Status(StatusCode::kFailed,
                  name_ +
                      ": the database has made all the record identities it can; copy its "
                      "records into a new database");
  }
  (*identity)[0] = kIdentityLength;
  for (int i = 0; i < 3; ++i) {
    (*identity)[1 + i] = static_cast<std::uint8_t>(stamp >> (16 - 8 * i));
  }
  for (int i = 0; i < 4; ++i) {
    (*identity)[4 + i] =
        static_cast<std::uint8_t>(static_cast<std::uint32_t>(counter) >> (24 - 8 * i));
  }
  return {};
}

Status DesktopDatabase::InsertRecord(const FieldTexts& texts, RecordInfo* made) {
  RecordIdentity identity{};
  if (Status s = NextIdentity(&identity); !s.ok()) return s;
  ScopedStatement s;
  if (Status status = Prepared("INSERT INTO records(identity, modification) VALUES(?, 0)", &s);
      !status.ok()) {
    return status;
  }
  s->BindBlob(1, BlobOf(identity));
  if (const int rc = s->Step(); rc != SQLITE_DONE) return Fail(rc, "making a record");
  *made = {sqlite3_last_insert_rowid(db_.get()), identity, 0};
  return WriteTexts(made->row, texts);
}

Status DesktopDatabase::LoadRecord(std::int64_t row, StoredRecord* record) {
  ScopedStatement s;
  if (Status status =
          Prepared("SELECT identity, modification, texts FROM records WHERE id = ?", &s);
      !status.ok()) {
    return status;
  }
  s->Bind(1, row);
  const int rc = s->Step();
  if (rc == SQLITE_DONE) {
    return Status(StatusCode::kNotFound, name_ + ": the record no longer exists");
  }
  if (rc != SQLITE_ROW) return Fail(rc, "reading a record");
  if (!DecodeTexts(s->BlobView(2), &record->texts)) {
    return Status(StatusCode::kDamaged, name_ + ": the texts of record " + std::to_string(row) +
                                            " are damaged in the database file; restore it "
                                            "from a copy");
  }
  record->info = {row, IdentityFromBlob(s->Blob(0)), static_cast<std::uint16_t>(s->Integer(1))};
  return {};
}

Status DesktopDatabase::CachedRecord(std::int64_t row, const StoredRecord** record) {
  // A plug-in reads a record field by field: within a snapshot or batch
  // the record is read once.
  if (!viewing() || cached_.info.row != row) {
    cached_.info.row = 0;
    if (Status s = LoadRecord(row, &cached_); !s.ok()) {
      cached_.info.row = 0;
      return s;
    }
    if (!viewing()) cached_.info.row = 0;
  }
  *record = &cached_;
  return {};
}

Status DesktopDatabase::LoadTexts(std::int64_t row, FieldTexts* texts) {
  StoredRecord record;
  if (Status s = LoadRecord(row, &record); !s.ok()) return s;
  *texts = std::move(record.texts);
  return {};
}

Status DesktopDatabase::StoreTexts(std::int64_t row, const FieldTexts& texts,
                                   std::string_view doing) {
  ScopedStatement s;
  if (Status status = Prepared("UPDATE records SET texts = ? WHERE id = ?", &s); !status.ok()) {
    return status;
  }
  s->BindBlob(1, EncodeTexts(texts)).Bind(2, row);
  if (const int rc = s->Step(); rc != SQLITE_DONE) return Fail(rc, doing);
  return {};
}

Status DesktopDatabase::MergeTexts(const FieldTexts& texts, FieldTexts* stored) {
  const std::vector<Field>* fields = nullptr;
  if (Status s = FieldList(&fields); !s.ok()) return s;
  for (const auto& [field, text] : texts) {
    const std::int64_t id = field;
    if (std::none_of(fields->begin(), fields->end(), [id](const Field& f) { return f.id == id; })) {
      return Status(StatusCode::kNotFound, name_ + ": a field written to no longer exists");
    }
    if (Status status = StoredText(text, "a field's text", &(*stored)[field]); !status.ok()) {
      return status.WithContext(name_);
    }
  }
  return {};
}

Status DesktopDatabase::WriteTexts(std::int64_t row, const FieldTexts& texts) {
  FieldTexts stored;
  if (Status s = LoadTexts(row, &stored); !s.ok()) return s;
  if (Status s = MergeTexts(texts, &stored); !s.ok()) return s;
  return StoreTexts(row, stored, "writing a record");
}

Status DesktopDatabase::RecordCount(std::int64_t* count) {
  ScopedStatement s;
  if (Status status = Prepared("SELECT count(*) FROM records", &s); !status.ok()) return status;
  const int rc = s->Step();
  if (rc != SQLITE_ROW) return Fail(rc, "counting the records");
  *count = s->Integer(0);
  return {};
}

Status DesktopDatabase::Records(std::vector<RecordInfo>* records) {
  records->clear();
  ScopedStatement s;
  if (Status status = Prepared("SELECT id, identity, modification FROM records ORDER BY id", &s);
      !status.ok()) {
    return status;
  }
  int rc;
  while ((rc = s->Step()) == SQLITE_ROW) {
    records->push_back(
        {s->Integer(0), IdentityFromBlob(s->Blob(1)), static_cast<std::uint16_t>(s->Integer(2))});
  }
  return rc == SQLITE_DONE ? Status() : Fail(rc, "reading the records");
}

Status DesktopDatabase::Record(std::int64_t row, RecordInfo* record) {
  const StoredRecord* stored = nullptr;
  if (Status s = CachedRecord(row, &stored); !s.ok()) return s;
  *record = stored->info;
  return {};
}

Status DesktopDatabase::FindRecord(const RecordIdentity& identity, std::int64_t* row) {
  ScopedStatement s;
  if (Status status = Prepared("SELECT id FROM records WHERE identity = ?", &s); !status.ok()) {
    return status;
  }
  s->BindBlob(1, BlobOf(identity));
  const int rc = s->Step();
  if (rc == SQLITE_DONE) {
    return Status(StatusCode::kNotFound,
                  name_ + ": no record has the identity " + IdentityHex(identity));
  }
  if (rc != SQLITE_ROW) return Fail(rc, "finding a record");
  *row = s->Integer(0);
  return {};
}

Status DesktopDatabase::ReadText(std::int64_t row, std::int64_t field, std::string* text) {
  std::string_view peeked;
  if (Status s = PeekText(row, field, &peeked); !s.ok()) return s;
  *text = peeked;
  return {};
}

Status DesktopDatabase::PeekText(std::int64_t row, std::int64_t field, std::string_view* text) {
  const StoredRecord* stored = nullptr;
  if (Status s = CachedRecord(row, &stored); !s.ok()) return s;
  const auto found = stored->texts.find(field);
  *text = found != stored->texts.end() ? std::string_view(found->second) : std::string_view();
  return {};
}

Status DesktopDatabase::ReadTexts(std::int64_t row, FieldTexts* texts) {
  return LoadTexts(row, texts);
}

Status DesktopDatabase::AddRecord(const FieldTexts& texts, RecordInfo* made) {
  EndSnapshot();
  Transaction transaction(db_.get());
  if (transaction.began() != SQLITE_OK) return Fail(transaction.began(), "adding a record");
  if (Status s = InsertRecord(texts, made); !s.ok()) return s;
  const int rc = transaction.Commit();
  return rc == SQLITE_OK ? Status() : Fail(rc, "adding a record");
}

Status DesktopDatabase::DuplicateRecord(std::int64_t row, RecordInfo* made) {
  EndSnapshot();
  Transaction transaction(db_.get());
  if (transaction.began() != SQLITE_OK) return Fail(transaction.began(), "copying a record");
  FieldTexts texts;
  if (Status s = ReadTexts(row, &texts); !s.ok()) return s;
  if (Status s = InsertRecord(texts, made); !s.ok()) return s;
  const int rc = transaction.Commit();
  return rc == SQLITE_OK ? Status() : Fail(rc, "copying a record");
}

Status DesktopDatabase::ChangeRecord(std::int64_t row, const FieldTexts& texts) {
  // In a batch the write lock is held and the record read last is what the
  // file holds; the change is one statement, whole or not at all.
  const bool batched = batch_;
  StoredRecord record;
  if (batched && cached_.info.row == row) record = std::move(cached_);
  EndSnapshot();
  std::optional<Transaction> transaction;
  if (!batched) {
    transaction.emplace(db_.get());
    if (transaction->began() != SQLITE_OK) return Fail(transaction->began(), "changing a record");
  }
  if (record.info.row != row) {
    if (Status s = LoadRecord(row, &record); !s.ok()) return s;
  }
  if (Status s = MergeTexts(texts, &record.texts); !s.ok()) return s;
  record.info.modification = static_cast<std::uint16_t>((record.info.modification + 1) % 65536);
  {
    ScopedStatement s;
    if (Status status = Prepared("UPDATE records SET modification = ?, texts = ? WHERE id = ?", &s);
        !status.ok()) {
      return status;
    }
    s->Bind(1, std::int64_t{record.info.modification})
        .BindBlob(2, EncodeTexts(record.texts))
        .Bind(3, row);
    if (const int rc = s->Step(); rc != SQLITE_DONE) return Fail(rc, "changing a record");
  }
  if (transaction) {
    const int rc = transaction->Commit();
    return rc == SQLITE_OK ? Status() : Fail(rc, "changing a record");
  }
  cached_ = std::move(record);
  return {};
}

Status DesktopDatabase::DeleteRecord(std::int64_t row) {
  EndSnapshot();
  ScopedStatement s;
  if (Status status = Prepared("DELETE FROM records WHERE id = ?", &s); !status.ok()) {
    return status;
  }
  s->Bind(1, row);
  if (const int rc = s->Step(); rc != SQLITE_DONE) return Fail(rc, "deleting a record");
  if (sqlite3_changes(db_.get()) == 0) {
    return Status(StatusCode::kNotFound, name_ + ": the record no longer exists");
  }
  return {};
}

// ---- the current selection ----

Status DesktopDatabase::Selection(std::vector<std::int64_t>* rows) {
  rows->clear();
  ScopedStatement s;
  if (Status status = Prepared("SELECT record FROM selection ORDER BY position", &s);
      !status.ok()) {
    return status;
  }
  int rc;
  while ((rc = s->Step()) == SQLITE_ROW) rows->push_back(s->Integer(0));
  return rc == SQLITE_DONE ? Status() : Fail(rc, "reading the selection");
}

Status DesktopDatabase::SetSelection(const std::vector<std::int64_t>& rows) {
  EndSnapshot();
  Transaction transaction(db_.get());
  if (transaction.began() != SQLITE_OK) return Fail(transaction.began(), "selecting records");
  if (const int rc = Execute(db_.get(), "DELETE FROM selection"); rc != SQLITE_OK) {
    return Fail(rc, "selecting records");
  }
  ScopedStatement s;
  if (Status status = Prepared("INSERT OR IGNORE INTO selection(record) VALUES(?)", &s);
      !status.ok()) {
    return status;
  }
  for (const std::int64_t row : rows) {
    s->Bind(1, row);
    const int rc = s->Step();
    if ((rc & 0xFF) == SQLITE_CONSTRAINT) {
      return Status(StatusCode::kNotFound, name_ + ": a record selected no longer exists");
    }
    if (rc != SQLITE_DONE) return Fail(rc, "selecting records");
    s->Reset();
  }
  s.Set(nullptr);
  const int rc = transaction.Commit();
  return rc == SQLITE_OK ? Status() : Fail(rc, "selecting records");
}

// ---- plug-in data ----

Status DesktopDatabase::ReadPluginData(std::uint32_t key, std::string* data) {
  ScopedStatement s;
  if (Status status = Prepared("SELECT data FROM plugin_data WHERE key = ?", &s); !status.ok()) {
    return status;
  }
  s->Bind(1, static_cast<std::int64_t>(key));
  const int rc = s->Step();
  if (rc == SQLITE_DONE) {
    return Status(StatusCode::kNotFound,
                  name_ + ": there is no plug-in data under \"" + KeyName(key) + "\"");
  }
  if (rc != SQLITE_ROW) return Fail(rc, "reading plug-in data");
  *data = s->Blob(0);
  return {};
}

Status DesktopDatabase::WritePluginData(std::uint32_t key, std::string_view data) {
  EndSnapshot();
  ScopedStatement s;
  if (Status status = Prepared("INSERT INTO plugin_data(key, data) VALUES(?, ?) "
                               "ON CONFLICT(key) DO UPDATE SET data = excluded.data",
                               &s);
      !status.ok()) {
    return status;
  }
  s->Bind(1, static_cast<std::int64_t>(key)).BindBlob(2, data);
  const int rc = s->Step();
  return rc == SQLITE_DONE ? Status() : Fail(rc, "writing plug-in data");
}

Status DesktopDatabase::WritePluginData(
    const std::vector<std::pair<std::uint32_t, std::string>>& entries) {
  EndSnapshot();
  Transaction transaction(db_.get());
  if (transaction.began() != SQLITE_OK) return Fail(transaction.began(), "writing plug-in data");
  for (const auto& [key, data] : entries) {
    if (Status s = WritePluginData(key, data); !s.ok()) return s;
  }
  const int rc = transaction.Commit();
  return rc == SQLITE_OK ? Status() : Fail(rc, "writing plug-in data");
}

Status DesktopDatabase::PluginDataSizes(std::vector<std::pair<std::uint32_t, std::size_t>>* sizes) {
  sizes->clear();
  ScopedStatement s;
  if (Status status = Prepared("SELECT key, length(data) FROM plugin_data ORDER BY key", &s);
      !status.ok()) {
    return status;
  }
  int rc;
  while ((rc = s->Step()) == SQLITE_ROW) {
    sizes->emplace_back(static_cast<std::uint32_t>(s->Integer(0)),
                        static_cast<std::size_t>(s->Integer(1)));
  }
  return rc == SQLITE_DONE ? Status() : Fail(rc, "reading plug-in data");
}

}  // namespace tbm::tabulonpro
