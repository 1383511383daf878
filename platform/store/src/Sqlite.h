// Thin owners for SQLite handles, used only inside the store.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace tbm::store {

// A prepared statement that resets itself when a scope is done with it, so a
// cached statement never keeps a read transaction open between calls.
class Statement {
 public:
  Statement() = default;
  Statement(sqlite3* db, std::string_view sql) { Prepare(db, sql); }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  Statement(Statement&& other) noexcept : stmt_(std::exchange(other.stmt_, nullptr)) {}

  // Returns the SQLite result code.
  int Prepare(sqlite3* db, std::string_view sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                              SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  }
  void Finalize() {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
  bool Valid() const { return stmt_ != nullptr; }
  sqlite3_stmt* get() const { return stmt_; }

  void BindInt(int i, std::int64_t v) { sqlite3_bind_int64(stmt_, i, v); }
  void BindBlob(int i, std::span<const std::uint8_t> v) {
    // A zero-length blob must still bind as a blob, not as NULL.
    static const std::uint8_t empty = 0;
    sqlite3_bind_blob(stmt_, i, v.empty() ? &empty : v.data(), static_cast<int>(v.size()),
                      SQLITE_STATIC);
  }
  void BindText(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
  }

  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step() { return sqlite3_step(stmt_); }
  void Reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }

  std::int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
  std::span<const std::uint8_t> Blob(int col) const {
    const void* p = sqlite3_column_blob(stmt_, col);
    const int n = sqlite3_column_bytes(stmt_, col);
    return {static_cast<const std::uint8_t*>(p), static_cast<std::size_t>(p ? n : 0)};
  }
  std::string Text(int col) const {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, col)))
             : std::string();
  }
  bool IsNull(int col) const { return sqlite3_column_type(stmt_, col) == SQLITE_NULL; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement at the end of a scope.
class StatementUse {
 public:
  explicit StatementUse(Statement& s) : s_(s) {}
  ~StatementUse() { s_.Reset(); }
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;

 private:
  Statement& s_;
};

}  // namespace tbm::store
