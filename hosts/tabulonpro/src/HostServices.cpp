// The host services a plug-in calls (TBExtern.h), over the databases of the
// session that handed the table out. Each call checks its handle and
// arguments, turns texts into and out of the host's byte form, and returns
// a TB_ code; a failure leaves its reason for lastError. No exception
// leaves a call.
#include <algorithm>
#include <cstring>
#include <new>

#include "HostSession.h"
#include "ProgramLog.h"

namespace tbm::tabulonpro {

namespace {

HostSession* gSession = nullptr;
thread_local std::string tLastError;

using Cursor = HostSession::Cursor;

std::int32_t Refuse(std::int32_t code, std::string message) {
  tLastError = std::move(message);
  return code;
}

std::int32_t Refuse(const Status& status) {
  switch (status.code()) {
    case StatusCode::kNotFound:
      return Refuse(TB_ERR_NOT_FOUND, status.message());
    case StatusCode::kUnconvertibleText:
    case StatusCode::kInvalidText:
      return Refuse(TB_ERR_UNCONVERTIBLE, status.message());
    case StatusCode::kInvalidArgument:
      return Refuse(TB_ERR_BAD_ARGUMENT, status.message());
    default:
      WriteLog("TabulonPro", LogLevel::kError, "a plug-in's call failed: " + status.message());
      return Refuse(TB_ERR_FAILED, status.message());
  }
}

// Runs one service call: clears the last error, keeps exceptions in.
template <typename Result, typename Body>
Result Serve(Result failure, Body&& body) noexcept {
  try {
    tLastError.clear();
    if (gSession == nullptr) {
      tLastError = "Tabulon Pro has no databases open for plug-ins now";
      return failure;
    }
    return body();
  } catch (const std::bad_alloc&) {
    tLastError = "the memory ran out";
  } catch (...) {
    tLastError = "an unexpected failure inside Tabulon Pro";
  }
  return failure;
}

// A call on a database: finds it and its cursor, or refuses the handle.
template <typename Body>
std::int32_t OnDatabase(TBDatabase handle, Body&& body) noexcept {
  return Serve(TB_ERR_FAILED, [&]() -> std::int32_t {
    DesktopDatabase* db = gSession->DatabaseOf(handle);
    if (db == nullptr) {
      return Refuse(TB_ERR_BAD_ARGUMENT,
                    "the database handle is not a database open in Tabulon Pro");
    }
    // The plug-in's calls read from one snapshot until the host's event
    // loop has control again (HostSession::EndPluginCalls).
    db->BeginSnapshot();
    return body(*db, *gSession->CursorOf(handle));
  });
}

// Copies bytes with a terminator as the services promise: up to size - 1
// bytes and a zero; returns the whole length.
std::int32_t CopyText(const std::string& bytes, char* buffer, std::int32_t size) {
  if (size < 0 || (size > 0 && buffer == nullptr)) {
    return Refuse(TB_ERR_BAD_ARGUMENT, "the buffer is null or its size negative");
  }
  if (size > 0) {
    const std::size_t copied = std::min(bytes.size(), static_cast<std::size_t>(size - 1));
    std::memcpy(buffer, bytes.data(), copied);
    buffer[copied] = '\0';
  }
  return static_cast<std::int32_t>(bytes.size());
}

// A Unicode text in host form, copied out; what names it in a refusal.
std::int32_t CopyHostText(const std::string& utf8, const std::string& what, char* buffer,
                          std::int32_t size) {
  std::string bytes;
  if (Status s = gSession->textForm().ToHost(utf8, &bytes); !s.ok())
    return Refuse(s.WithContext(what));
  return CopyText(bytes, buffer, size);
}

// The field at index, or a refusal in *refusal.
bool FieldAt(DesktopDatabase& db, std::int32_t index, Field* field, std::int32_t* refusal) {
  const std::vector<Field>* fields = nullptr;
  if (Status s = db.FieldList(&fields); !s.ok()) {
    *refusal = Refuse(s);
    return false;
  }
  if (index < 0 || static_cast<std::size_t>(index) >= fields->size()) {
    *refusal = Refuse(TB_ERR_BAD_ARGUMENT, db.name() + ": there is no field " +
                                               std::to_string(index) + " (the database has " +
                                               std::to_string(fields->size()) + " fields)");
    return false;
  }
  *field = (*fields)[static_cast<std::size_t>(index)];
  return true;
}

// The current record's row, or a refusal in *refusal.
bool CurrentRecord(DesktopDatabase& db, const Cursor& cursor, std::int64_t* row,
                   std::int32_t* refusal) {
  if (!cursor.record) {
    *refusal = Refuse(TB_ERR_NO_RECORD, db.name() + ": no record is current");
    return false;
  }
  *row = *cursor.record;
  return true;
}

// Calls that move away from the current record while an edit of it is
// open would lose the edit: they are refused.
bool NotEditing(DesktopDatabase& db, const Cursor& cursor, std::int32_t* refusal) {
  if (cursor.editing) {
    *refusal = Refuse(TB_ERR_FAILED, db.name() +
                                         ": an edit of the current record is open; commit it "
                                         "first");
    return false;
  }
  return true;
}

std::string Quoted(const std::string& name) { return "'" + name + "'"; }

// Record changes join the database's batch, saved when the plug-in next
// chooses a selection or its call is over (HostSession::EndPluginCalls).
bool InBatch(DesktopDatabase& db, std::int32_t* refusal) {
  if (Status s = db.BeginBatch(); !s.ok()) {
    *refusal = Refuse(s);
    return false;
  }
  return true;
}

// ---- the calls ----

const char* LastError() { return tLastError.c_str(); }

std::int32_t CountDatabases() {
  return Serve(TB_ERR_FAILED, [] { return static_cast<std::int32_t>(gSession->count()); });
}

TBDatabase Database(std::int32_t index) {
  return Serve(static_cast<TBDatabase>(nullptr), [&]() -> TBDatabase {
    if (index < 0 || static_cast<std::size_t>(index) >= gSession->count()) {
      Refuse(TB_ERR_BAD_ARGUMENT, "there is no database " + std::to_string(index) + " (" +
                                      std::to_string(gSession->count()) + " are open)");
      return nullptr;
    }
    return reinterpret_cast<TBDatabase>(gSession->database(static_cast<std::size_t>(index)));
  });
}

TBDatabase CurrentDatabase() {
  return Serve(static_cast<TBDatabase>(nullptr),
               [] { return reinterpret_cast<TBDatabase>(gSession->current()); });
}

std::uint32_t QueryFlags(TBDatabase handle, std::uint32_t query) {
  std::uint32_t flags = 0;
  OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    if (query != TB_QUERY_SYNC_FLAGS) return TB_OK;
    if (Status s = db.Flags(&flags); !s.ok()) return Refuse(s);
    return TB_OK;
  });
  return flags;
}

std::int32_t DatabaseName(TBDatabase handle, char* buffer, std::int32_t size) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) {
    return CopyHostText(db.name(), "the database name " + Quoted(db.name()), buffer, size);
  });
}

// One character of the formats as one host byte.
bool FormatCharacter(const std::string& text, const std::string& what, std::uint8_t* out,
                     std::int32_t* refusal) {
  std::string bytes;
  if (Status s = gSession->textForm().ToHost(text, &bytes); !s.ok()) {
    *refusal = Refuse(s.WithContext(what));
    return false;
  }
  if (bytes.size() != 1) {
    *refusal = Refuse(TB_ERR_UNCONVERTIBLE,
                      what + " " + Quoted(text) + " takes " + std::to_string(bytes.size()) +
                          " bytes in " + gSession->textForm().name() + "; a separator is one byte");
    return false;
  }
  *out = static_cast<std::uint8_t>(bytes[0]);
  return true;
}

// A suffix into its zero-terminated slot.
bool FormatSuffix(const std::string& text, const std::string& what, char* slot,
                  std::size_t slotSize, std::int32_t* refusal) {
  std::string bytes;
  if (Status s = gSession->textForm().ToHost(text, &bytes); !s.ok()) {
    *refusal = Refuse(s.WithContext(what));
    return false;
  }
  if (bytes.size() >= slotSize) {
    *refusal = Refuse(TB_ERR_UNCONVERTIBLE, what + " " + Quoted(text) + " takes " +
                                                std::to_string(bytes.size()) + " bytes in " +
                                                gSession->textForm().name() + "; at most " +
                                                std::to_string(slotSize - 1) + " fit");
    return false;
  }
  std::memset(slot, 0, slotSize);
  std::memcpy(slot, bytes.data(), bytes.size());
  return true;
}

std::int32_t DateTimeFormat(TBDatabase handle, TBDateTimeFormat* format) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    if (format == nullptr) return Refuse(TB_ERR_BAD_ARGUMENT, "the format is null");
    DateTimeFormats f;
    if (Status s = db.Formats(&f); !s.ok()) return Refuse(s);
    TBDateTimeFormat out{};
    std::int32_t refusal = TB_OK;
    const std::string of = " of " + Quoted(db.name());
    if (!FormatCharacter(f.dateSeparator, "the date separator" + of, &out.dateSeparator,
                         &refusal) ||
        !FormatCharacter(f.timeSeparator, "the time separator" + of, &out.timeSeparator,
                         &refusal) ||
        !FormatSuffix(f.morningSuffix, "the morning suffix" + of, out.morningSuffix,
                      sizeof out.morningSuffix, &refusal) ||
        !FormatSuffix(f.afternoonSuffix, "the afternoon suffix" + of, out.afternoonSuffix,
                      sizeof out.afternoonSuffix, &refusal) ||
        !FormatSuffix(f.twentyFourSuffix, "the suffix of 24-hour times" + of, out.twentyFourSuffix,
                      sizeof out.twentyFourSuffix, &refusal)) {
      return refusal;
    }
    out.dateOrder = f.dateOrder;
    out.twoDigitMonth = f.twoDigitMonth;
    out.twoDigitDay = f.twoDigitDay;
    out.preferTypedSeparator = f.preferTypedSeparator;
    out.leadingZero = f.leadingZero;
    out.twelveHourClock = f.twelveHourClock;
    *format = out;
    return TB_OK;
  });
}

std::int32_t RecordCount(TBDatabase handle) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    std::int64_t count = 0;
    if (Status s = db.RecordCount(&count); !s.ok()) return Refuse(s);
    return static_cast<std::int32_t>(count);
  });
}

std::int32_t ReadPluginData(TBDatabase handle, std::uint32_t key, void* buffer, std::int32_t size) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    if (size < 0 || (size > 0 && buffer == nullptr)) {
      return Refuse(TB_ERR_BAD_ARGUMENT, "the buffer is null or its size negative");
    }
    std::string data;
    if (Status s = db.ReadPluginData(key, &data); !s.ok()) return Refuse(s);
    std::memcpy(buffer, data.data(), std::min(data.size(), static_cast<std::size_t>(size)));
    return static_cast<std::int32_t>(data.size());
  });
}

std::int32_t WritePluginData(TBDatabase handle, std::uint32_t key, const void* data,
                             std::int32_t size) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    if (size < 0 || (size > 0 && data == nullptr)) {
      return Refuse(TB_ERR_BAD_ARGUMENT, "the data is null or its size negative");
    }
    const std::string_view bytes(static_cast<const char*>(size > 0 ? data : ""),
                                 static_cast<std::size_t>(size));
    if (Status s = db.WritePluginData(key, bytes); !s.ok()) return Refuse(s);
    return TB_OK;
  });
}

std::int32_t ChooseSelection(TBDatabase handle, std::int32_t selection) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    // The records changed before are saved first: a selection is chosen
    // from what the file holds.
    if (Status s = db.EndBatch(); !s.ok()) return Refuse(s);
    std::vector<std::int64_t> rows;
    if (selection == TB_SELECTION_ALL) {
      std::vector<RecordInfo> records;
      if (Status s = db.Records(&records); !s.ok()) return Refuse(s);
      for (const RecordInfo& record : records) rows.push_back(record.row);
    } else if (selection == TB_SELECTION_CURRENT) {
      if (Status s = db.Selection(&rows); !s.ok()) return Refuse(s);
    } else {
      return Refuse(TB_ERR_BAD_ARGUMENT, "the selection " + std::to_string(selection) +
                                             " is neither the current one (0) nor all (1)");
    }
    cursor.chosen = std::move(rows);
    return static_cast<std::int32_t>(cursor.chosen.size());
  });
}

std::int32_t GoToRecord(TBDatabase handle, std::int32_t n) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    std::int32_t refusal = TB_OK;
    if (!NotEditing(db, cursor, &refusal)) return refusal;
    if (n < 1 || static_cast<std::size_t>(n) > cursor.chosen.size()) {
      return Refuse(TB_ERR_BAD_ARGUMENT, db.name() + ": there is no record " + std::to_string(n) +
                                             " in a selection of " +
                                             std::to_string(cursor.chosen.size()));
    }
    const std::int64_t row = cursor.chosen[static_cast<std::size_t>(n - 1)];
    RecordInfo record;
    if (Status s = db.Record(row, &record); !s.ok()) return Refuse(s);
    cursor.record = row;
    return TB_OK;
  });
}

std::int32_t RecordIdentityOf(TBDatabase handle, TBRecordIdentity* identity) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    if (identity == nullptr) return Refuse(TB_ERR_BAD_ARGUMENT, "the identity is null");
    std::int64_t row = 0;
    std::int32_t refusal = TB_OK;
    if (!CurrentRecord(db, cursor, &row, &refusal)) return refusal;
    RecordInfo record;
    if (Status s = db.Record(row, &record); !s.ok()) return Refuse(s);
    std::copy(record.identity.begin(), record.identity.end(), identity->bytes);
    return TB_OK;
  });
}

std::int32_t ModificationCount(TBDatabase handle) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    std::int64_t row = 0;
    std::int32_t refusal = TB_OK;
    if (!CurrentRecord(db, cursor, &row, &refusal)) return refusal;
    RecordInfo record;
    if (Status s = db.Record(row, &record); !s.ok()) return Refuse(s);
    return record.modification;
  });
}

std::int32_t FindRecord(TBDatabase handle, const TBRecordIdentity* identity) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    if (identity == nullptr) return Refuse(TB_ERR_BAD_ARGUMENT, "the identity is null");
    std::int32_t refusal = TB_OK;
    if (!NotEditing(db, cursor, &refusal)) return refusal;
    RecordIdentity wanted{};
    std::copy(identity->bytes, identity->bytes + wanted.size(), wanted.begin());
    std::int64_t row = 0;
    if (Status s = db.FindRecord(wanted, &row); !s.ok()) return Refuse(s);
    cursor.record = row;
    return TB_OK;
  });
}

std::int32_t CreateRecord(TBDatabase handle) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    std::int32_t refusal = TB_OK;
    if (!NotEditing(db, cursor, &refusal)) return refusal;
    if (!InBatch(db, &refusal)) return refusal;
    RecordInfo made;
    if (Status s = db.AddRecord({}, &made); !s.ok()) return Refuse(s);
    cursor.record = made.row;
    return TB_OK;
  });
}

std::int32_t DuplicateRecord(TBDatabase handle) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    std::int64_t row = 0;
    std::int32_t refusal = TB_OK;
    if (!CurrentRecord(db, cursor, &row, &refusal) || !NotEditing(db, cursor, &refusal)) {
      return refusal;
    }
    if (!InBatch(db, &refusal)) return refusal;
    RecordInfo made;
    if (Status s = db.DuplicateRecord(row, &made); !s.ok()) return Refuse(s);
    cursor.record = made.row;
    return TB_OK;
  });
}

std::int32_t DeleteRecord(TBDatabase handle) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    std::int64_t row = 0;
    std::int32_t refusal = TB_OK;
    if (!CurrentRecord(db, cursor, &row, &refusal) || !NotEditing(db, cursor, &refusal)) {
      return refusal;
    }
    if (!InBatch(db, &refusal)) return refusal;
    if (Status s = db.DeleteRecord(row); !s.ok()) return Refuse(s);
    cursor.record.reset();
    return TB_OK;
  });
}

std::int32_t BeginEdit(TBDatabase handle) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    std::int64_t row = 0;
    std::int32_t refusal = TB_OK;
    if (!CurrentRecord(db, cursor, &row, &refusal) || !NotEditing(db, cursor, &refusal)) {
      return refusal;
    }
    RecordInfo record;
    if (Status s = db.Record(row, &record); !s.ok()) return Refuse(s);
    cursor.editing = true;
    cursor.edits.clear();
    return TB_OK;
  });
}

// Keeps the edit's texts and raises the count once, in one transaction; the
// edit ends either way (a failed one leaves the record as it was).
std::int32_t CommitEdit(TBDatabase handle) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    if (!cursor.editing) return Refuse(TB_ERR_NOT_EDITING, db.name() + ": no edit is open");
    cursor.editing = false;
    FieldTexts edits = std::move(cursor.edits);
    cursor.edits.clear();
    if (edits.empty()) return TB_OK;
    std::int32_t refusal = TB_OK;
    if (!InBatch(db, &refusal)) return refusal;
    if (Status s = db.ChangeRecord(*cursor.record, edits); !s.ok()) {
      return Refuse(s.WithContext("the record was left as it was"));
    }
    return TB_OK;
  });
}

std::int32_t CountFields(TBDatabase handle) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    std::vector<Field> fields;
    if (Status s = db.Fields(&fields); !s.ok()) return Refuse(s);
    return static_cast<std::int32_t>(fields.size());
  });
}

std::int32_t FieldByKey(TBDatabase handle, const TBFieldKey* key) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    if (key == nullptr || key->bytes[0] > 15) {
      return Refuse(TB_ERR_BAD_ARGUMENT, "the field key is null or longer than 15 bytes");
    }
    const std::string wanted(reinterpret_cast<const char*>(key->bytes + 1), key->bytes[0]);
    std::vector<Field> fields;
    if (Status s = db.Fields(&fields); !s.ok()) return Refuse(s);
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i].key == wanted) return static_cast<std::int32_t>(i);
    }
    return Refuse(TB_ERR_NOT_FOUND, db.name() + ": no field has the key " + Quoted(wanted));
  });
}

std::int32_t FieldKey(TBDatabase handle, std::int32_t index, TBFieldKey* key) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    if (key == nullptr) return Refuse(TB_ERR_BAD_ARGUMENT, "the key is null");
    Field field;
    std::int32_t refusal = TB_OK;
    if (!FieldAt(db, index, &field, &refusal)) return refusal;
    TBFieldKey out{};
    out.bytes[0] = static_cast<std::uint8_t>(field.key.size());
    std::memcpy(out.bytes + 1, field.key.data(), field.key.size());
    *key = out;
    return TB_OK;
  });
}

std::int32_t FieldTypeOf(TBDatabase handle, std::int32_t index) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    Field field;
    std::int32_t refusal = TB_OK;
    if (!FieldAt(db, index, &field, &refusal)) return refusal;
    return static_cast<std::int32_t>(field.type);
  });
}

std::int32_t FieldName(TBDatabase handle, std::int32_t index, char* buffer, std::int32_t size) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    Field field;
    std::int32_t refusal = TB_OK;
    if (!FieldAt(db, index, &field, &refusal)) return refusal;
    return CopyHostText(field.name, db.name() + ": the field name " + Quoted(field.name), buffer,
                        size);
  });
}

std::int32_t ReadFieldText(TBDatabase handle, std::int32_t index, char* buffer, std::int32_t size) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    Field field;
    std::int64_t row = 0;
    std::int32_t refusal = TB_OK;
    if (!FieldAt(db, index, &field, &refusal) || !CurrentRecord(db, cursor, &row, &refusal)) {
      return refusal;
    }
    std::string_view text;
    if (const auto edited = cursor.edits.find(field.id);
        cursor.editing && edited != cursor.edits.end()) {
      text = edited->second;
    } else if (Status s = db.PeekText(row, field.id, &text); !s.ok()) {
      return Refuse(s);
    }
    std::string bytes;
    if (Status s = gSession->textForm().ToHost(text, &bytes); !s.ok()) {
      RecordInfo record;
      const std::string which =
          db.Record(row, &record).ok() ? " in the record " + IdentityHex(record.identity) : "";
      return Refuse(
          s.WithContext(db.name() + ": the text of the field " + Quoted(field.name) + which));
    }
    return CopyText(bytes, buffer, size);
  });
}

std::int32_t WriteFieldText(TBDatabase handle, std::int32_t index, const char* text,
                            std::int32_t length) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor& cursor) -> std::int32_t {
    if (!cursor.editing) {
      return Refuse(TB_ERR_NOT_EDITING, db.name() +
                                            ": a field is written only between "
                                            "beginEdit and commitEdit");
    }
    if (length < 0 || (length > 0 && text == nullptr)) {
      return Refuse(TB_ERR_BAD_ARGUMENT, "the text is null or its length negative");
    }
    Field field;
    std::int32_t refusal = TB_OK;
    if (!FieldAt(db, index, &field, &refusal)) return refusal;
    const std::string_view bytes(length > 0 ? text : "", static_cast<std::size_t>(length));
    auto what = [&] { return db.name() + ": the text for the field " + Quoted(field.name); };
    if (bytes.find('\0') != std::string_view::npos) {
      return Refuse(TB_ERR_BAD_ARGUMENT, what() + " holds a zero byte, which no text may hold");
    }
    std::string utf8;
    if (Status s = gSession->textForm().FromHost(bytes, &utf8); !s.ok()) {
      return Refuse(s.WithContext(what()));
    }
    cursor.edits[field.id] = std::move(utf8);
    return TB_OK;
  });
}

std::int32_t CountValueLists(TBDatabase handle) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    std::vector<ValueList> lists;
    if (Status s = db.ValueLists(&lists); !s.ok()) return Refuse(s);
    return static_cast<std::int32_t>(lists.size());
  });
}

std::int32_t ValueListName(TBDatabase handle, std::int32_t index, char* buffer, std::int32_t size) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    std::vector<ValueList> lists;
    if (Status s = db.ValueLists(&lists); !s.ok()) return Refuse(s);
    if (index < 0 || static_cast<std::size_t>(index) >= lists.size()) {
      return Refuse(TB_ERR_BAD_ARGUMENT, db.name() + ": there is no value list " +
                                             std::to_string(index) + " (the database has " +
                                             std::to_string(lists.size()) + ")");
    }
    const std::string& name = lists[static_cast<std::size_t>(index)].name;
    return CopyHostText(name, db.name() + ": the value list name " + Quoted(name), buffer, size);
  });
}

std::int32_t ValueListText(TBDatabase handle, const char* name, char* buffer, std::int32_t size) {
  return OnDatabase(handle, [&](DesktopDatabase& db, Cursor&) -> std::int32_t {
    if (name == nullptr) return Refuse(TB_ERR_BAD_ARGUMENT, "the list's name is null");
    std::string utf8;
    if (Status s = gSession->textForm().FromHost(name, &utf8); !s.ok()) {
      return Refuse(s.WithContext(db.name() + ": the value list name asked for"));
    }
    ValueList list;
    if (Status s = db.FindValueList(utf8, &list); !s.ok()) return Refuse(s);
    std::string text;
    for (const std::string& item : list.items) text += item + '\n';
    return CopyHostText(text, db.name() + ": the value list " + Quoted(list.name), buffer, size);
  });
}

constexpr TBHostServices kServices = {
    sizeof(TBHostServices),
    TB_INTERFACE_VERSION,
    kHostEdition,
    LastError,
    CountDatabases,
    Database,
    CurrentDatabase,
    QueryFlags,
    DatabaseName,
    DateTimeFormat,
    RecordCount,
    ReadPluginData,
    WritePluginData,
    ChooseSelection,
    GoToRecord,
    RecordIdentityOf,
    ModificationCount,
    FindRecord,
    CreateRecord,
    DuplicateRecord,
    DeleteRecord,
    BeginEdit,
    CommitEdit,
    CountFields,
    FieldByKey,
    FieldKey,
    FieldTypeOf,
    FieldName,
    ReadFieldText,
    WriteFieldText,
    CountValueLists,
    ValueListName,
    ValueListText,
};

}  // namespace

const TBHostServices* ServicesOver(HostSession* session) {
  gSession = session;
  return &kServices;
}

}  // namespace tbm::tabulonpro
