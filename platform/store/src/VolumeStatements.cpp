// The connection's prepared statements, running them, and turning what
// SQLite reports into the store's errors.
#include "HostErrors.h"
#include "Volume.h"

namespace tbm::store {

bool Volume::Fail(Status* failure, DWORD error, std::string message) const {
  if (failure) *failure = PlatformFailure(error, std::move(message));
  return false;
}

bool Volume::SqlFail(Status* failure, const char* what) const {
  const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_ERROR;
  std::string message = std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "no connection");
  DWORD error = ERROR_INTERNAL_ERROR;
  switch (code & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      error = ERROR_BUSY;
      message = std::string(what) + ": another program holds the database volume '" + path_ +
                "'; try again when it is done";
      break;
    case SQLITE_FULL:
      error = ERROR_DISK_FULL;
      break;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      error = ERROR_FILE_CORRUPT;
      break;
    case SQLITE_IOERR:
      error = ERROR_WRITE_FAULT;
      break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
      error = ERROR_ACCESS_DENIED;
      break;
    case SQLITE_NOMEM:
      error = ERROR_NOT_ENOUGH_MEMORY;
      break;
    default:
      break;
  }
  if (failure) *failure = PlatformFailure(error, std::move(message));
  return false;
}

bool Volume::Exec(const char* sql, Status* failure) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return SqlFail(failure, "volume");
  }
  return true;
}

bool Volume::PrepareStatements(Status* failure) {
  // Keyed orders bind ?1 database, ?2 slot, ?3 key, ?4 object id, ?5 skip;
  // natural order uses the same numbers and ignores ?2 and ?3.
  struct Item {
    Statement* s;
    const char* sql;
  };
  const Item items[] = {
      {&keyed_.atStart,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 ORDER BY k.key, k.oid LIMIT 1 OFFSET ?5"},
      {&keyed_.atEnd,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 ORDER BY k.key DESC, k.oid DESC LIMIT 1 OFFSET ?5"},
      {&keyed_.after,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 AND (k.key, k.oid) > (?3, ?4) "
       "ORDER BY k.key, k.oid LIMIT ?6 OFFSET ?5"},
      {&keyed_.before,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 AND (k.key, k.oid) < (?3, ?4) "
       "ORDER BY k.key DESC, k.oid DESC LIMIT ?6 OFFSET ?5"},
      {&keyed_.countBefore,
       "SELECT count(*) FROM keys WHERE db = ?1 AND slot = ?2 AND (key, oid) < (?3, ?4)"},
      {&natural_.atStart,
       "SELECT oid, NULL, image FROM rec WHERE db = ?1 ORDER BY oid LIMIT 1 OFFSET ?5"},
      {&natural_.atEnd,
       "SELECT oid, NULL, image FROM rec WHERE db = ?1 ORDER BY oid DESC LIMIT 1 OFFSET ?5"},
      {&natural_.after,
       "SELECT oid, NULL, image FROM rec WHERE db = ?1 AND oid > ?4 "
       "ORDER BY oid LIMIT ?6 OFFSET ?5"},
      {&natural_.before,
       "SELECT oid, NULL, image FROM rec WHERE db = ?1 AND oid < ?4 "
       "ORDER BY oid DESC LIMIT ?6 OFFSET ?5"},
      {&natural_.countBefore, "SELECT count(*) FROM rec WHERE db = ?1 AND oid < ?4"},
      {&keyEqual_,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 AND k.key = ?3 ORDER BY k.oid LIMIT 1"},
      {&keyBelow_,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 AND k.key < ?3 ORDER BY k.key DESC, k.oid DESC LIMIT 1"},
      {&keyAbove_,
       "SELECT k.oid, k.key, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2 AND k.key > ?3 ORDER BY k.key, k.oid LIMIT 1"},
      {&dataVersion_s_, "PRAGMA data_version"},
      {&recordByOid_, "SELECT db, image FROM rec WHERE oid = ?1"},
      {&insertRecord_, "INSERT INTO rec(oid, db, image) VALUES(?1, ?2, ?3)"},
      {&updateRecord_, "UPDATE rec SET image = ?2 WHERE oid = ?1"},
      {&deleteRecord_, "DELETE FROM rec WHERE oid = ?1"},
      {&insertKey_, "INSERT INTO keys(db, slot, key, oid) VALUES(?1, ?2, ?3, ?4)"},
      {&deleteKey_, "DELETE FROM keys WHERE db = ?1 AND slot = ?2 AND key = ?3 AND oid = ?4"},
      {&countInSlot_, "SELECT count(*) FROM keys WHERE db = ?1 AND slot = ?2"},
      {&savepoint_, "SAVEPOINT store_call"},
      {&release_, "RELEASE store_call"},
      {&rollbackTo_, "ROLLBACK TO store_call"},
      {&imagesOfDb_,
       "SELECT k.oid, r.image FROM keys k JOIN rec r ON r.oid = k.oid "
       "WHERE k.db = ?1 AND k.slot = ?2"},
      {&begin_, "BEGIN"},
      {&beginImmediate_, "BEGIN IMMEDIATE"},
      {&commit_, "COMMIT"},
      {&rollback_, "ROLLBACK"},
      {&readNextOid_, "SELECT value FROM volume WHERE key = 'next_oid'"},
      {&writeNextOid_, "UPDATE volume SET value = ?1 WHERE key = 'next_oid'"},
  };
  for (const auto& item : items) {
    if (item.s->Prepare(db_, item.sql) != SQLITE_OK) {
      return SqlFail(failure, "cannot prepare the volume's statements");
    }
  }
  StatementUse use(dataVersion_s_);
  if (dataVersion_s_.Step() != SQLITE_ROW) return SqlFail(failure, "mount");
  dataVersion_ = dataVersion_s_.Int(0);
  return true;
}

std::vector<Statement*> Volume::AllStatements() {
  return {
      &keyed_.atStart,   &keyed_.atEnd,    &keyed_.after,   &keyed_.before,   &keyed_.countBefore,
      &natural_.atStart, &natural_.atEnd,  &natural_.after, &natural_.before, &natural_.countBefore,
      &dataVersion_s_,   &keyEqual_,       &keyBelow_,      &keyAbove_,       &recordByOid_,
      &insertRecord_,    &updateRecord_,   &deleteRecord_,  &insertKey_,      &deleteKey_,
      &countInSlot_,     &savepoint_,      &release_,       &rollbackTo_,     &imagesOfDb_,
      &begin_,           &beginImmediate_, &commit_,        &rollback_,       &readNextOid_,
      &writeNextOid_};
}

int Volume::Run(Statement& s) {
  StatementUse use(s);
  return s.Step();
}

}  // namespace tbm::store
