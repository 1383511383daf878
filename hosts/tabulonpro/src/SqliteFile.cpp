#include "SqliteFile.h"

#include <cerrno>
#include <cstring>

namespace tbm::tabulonpro {

namespace {

Status FromErrno(int error, const std::string& what, std::string_view doing) {
  const std::string during = " while " + std::string(doing);
  switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
      return Status(StatusCode::kNoPermission,
                    what + ": this user may not change the database file (no permission)" + during,
                    static_cast<std::uint32_t>(error));
    case ENOSPC:
    case EDQUOT:
      return Status(StatusCode::kNoSpace,
                    what + ": the disk is full" + during + "; make room and try again",
                    static_cast<std::uint32_t>(error));
    default:
      return Status(StatusCode::kIoFailed,
                    what + ": reading or writing the database file failed" + during + " (" +
                        std::strerror(error) + ")",
                    static_cast<std::uint32_t>(error));
  }
}

}  // namespace

Status SqliteFailure(sqlite3* db, int rc, std::string_view what, std::string_view doing) {
  const std::string name(what);
  const std::string during = " while " + std::string(doing);
  switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return Status(StatusCode::kBusy,
                    name +
                        ": the database is busy: another program (a running Tabulon Pro or "
                        "another command) is changing it; try again when it has finished");
    case SQLITE_FULL:
      return Status(StatusCode::kNoSpace,
                    name + ": the disk is full" + during + "; make room and try again");
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return Status(StatusCode::kNoPermission,
                    name +
                        ": this user may not change the database file or its folder (no "
                        "permission)" +
                        during);
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return Status(StatusCode::kDamaged, name + ": the database file is damaged (found" + during +
                                              "); restore it from a copy");
    case SQLITE_NOMEM:
      return Status(StatusCode::kNoMemory, name + ": the memory ran out" + during);
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR: {
      const int error = db != nullptr ? sqlite3_system_errno(db) : 0;
      if (error != 0) return FromErrno(error, name, doing);
      return Status(StatusCode::kIoFailed,
                    name + ": the database file could not be read or written" + during);
    }
    default:
      return Status(StatusCode::kFailed,
                    name + ": " + std::string(doing) + " failed (" +
                        (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)) + ")");
  }
}

int Statement::Prepare(sqlite3* db, std::string_view sql) {
  sqlite3_finalize(statement_);
  statement_ = nullptr;
  db_ = db;
  return sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr);
}

Statement& Statement::Bind(int index, std::int64_t value) {
  sqlite3_bind_int64(statement_, index, value);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view text) {
  sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
  // A blob of no bytes is still a blob, not NULL.
  sqlite3_bind_blob64(statement_, index, bytes.empty() ? "" : bytes.data(), bytes.size(),
                      SQLITE_TRANSIENT);
  return *this;
}

void Statement::Reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

std::string Statement::Text(int column) const {
  const unsigned char* text = sqlite3_column_text(statement_, column);
  const int bytes = sqlite3_column_bytes(statement_, column);
  if (text == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(text), static_cast<std::size_t>(bytes));
}

std::string Statement::Blob(int column) const { return std::string(BlobView(column)); }

std::string_view Statement::BlobView(int column) const {
  const void* data = sqlite3_column_blob(statement_, column);
  const int bytes = sqlite3_column_bytes(statement_, column);
  if (data == nullptr) return {};
  return std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(bytes));
}

int Execute(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

}  // namespace tbm::tabulonpro
