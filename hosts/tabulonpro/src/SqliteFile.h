// The few SQLite pieces the desktop databases are built from: an owned
// connection, a prepared statement with its bindings, a transaction that
// rolls back unless committed, and SQLite's result codes as a Status in
// words (busy, no space, no permission and damaged each say so).
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "Status.h"

namespace tbm::tabulonpro {

// How long a statement waits for another process's write to finish before
// it reports the database busy.
inline constexpr int kBusyWaitMilliseconds = 5000;

// A failure of SQLite on db (result rc) as a Status for a person: what
// names the database ("Sales"), doing says what was being done ("adding
// the record").
Status SqliteFailure(sqlite3* db, int rc, std::string_view what, std::string_view doing);

struct SqliteCloser {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using SqliteConnection = std::unique_ptr<sqlite3, SqliteCloser>;

// One prepared statement. Bindings count from 1, columns from 0.
class Statement {
 public:
  Statement() = default;
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept : db_(other.db_), statement_(other.statement_) {
    other.statement_ = nullptr;
  }

  // Prepares sql on db; the result code of sqlite3_prepare_v2.
  int Prepare(sqlite3* db, std::string_view sql);

  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, std::string_view text);
  Statement& BindBlob(int index, std::string_view bytes);

  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return sqlite3_step(statement_); }
  // Clears the bindings and makes the statement ready to run again.
  void Reset();

  std::int64_t Integer(int column) const { return sqlite3_column_int64(statement_, column); }
  std::string Text(int column) const;
  std::string Blob(int column) const;
  // The blob in place: valid until the statement steps or resets.
  std::string_view BlobView(int column) const;

 private:
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
};

// A cached statement in use: reset (its read ended, its bindings cleared)
// when the use ends or another statement takes its place, so that no
// statement keeps a read transaction open between calls.
class ScopedStatement {
 public:
  ScopedStatement() = default;
  ~ScopedStatement() { Set(nullptr); }
  ScopedStatement(const ScopedStatement&) = delete;
  ScopedStatement& operator=(const ScopedStatement&) = delete;

  void Set(Statement* statement) {
    if (statement_ != nullptr) statement_->Reset();
    statement_ = statement;
  }
  Statement* operator->() const { return statement_; }

 private:
  Statement* statement_ = nullptr;
};

// Runs statements that return no rows (several, separated by ';').
int Execute(sqlite3* db, const char* sql);

// BEGIN IMMEDIATE on construction (so a transaction that writes takes the
// write lock before it reads), ROLLBACK on destruction unless Commit ran.
// Inside a transaction already open on db (a batch of changes) it is a
// savepoint instead: its changes are undone alone when it is not
// committed, and committed with the enclosing transaction.
class Transaction {
 public:
  explicit Transaction(sqlite3* db) : db_(db), nested_(sqlite3_get_autocommit(db) == 0) {
    rc_ = Execute(db, nested_ ? "SAVEPOINT change" : "BEGIN IMMEDIATE");
  }
  ~Transaction() {
    if (rc_ == SQLITE_OK && !done_) Execute(db_, nested_ ? kUndoChange : "ROLLBACK");
  }
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // The result of BEGIN: SQLITE_OK or why it could not start.
  int began() const { return rc_; }
  int Commit() {
    done_ = true;
    const int rc = Execute(db_, nested_ ? "RELEASE change" : "COMMIT");
    if (rc != SQLITE_OK) Execute(db_, nested_ ? kUndoChange : "ROLLBACK");
    return rc;
  }

 private:
  static constexpr const char* kUndoChange = "ROLLBACK TO change; RELEASE change";
  sqlite3* db_;
  bool nested_;
  int rc_;
  bool done_ = false;
};

}  // namespace tbm::tabulonpro
