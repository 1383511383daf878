#include "EngineFailure.h"

#include <optional>

#include "HostErrors.h"
#include "MDb.h"

namespace tbm::engine {

namespace {

// Whether the engine's code can stand for a failure of the store, whose
// cause then says better what happened.
bool StoreMayBeBehind(std::int32_t code) {
  return code == MDbErrFailed || code == MDbErrCannotOpen;
}

// The store's cause of a failure in words, or nothing when it reported
// none (or one the engine's own code says better).
std::optional<std::string> CauseInWords(std::uint32_t cause, const char* detail,
                                        const std::string& file) {
  switch (cause) {
    case ERROR_BUSY:
    case ERROR_SHARING_VIOLATION:
      return file +
             ": the database is busy: another program is changing it or replacing it (the "
             "handheld program, a synchronisation, another tbmdb, or one stopped in the middle "
             "of a change); try again when it has finished";
    case ERROR_DISK_FULL:
      return file +
             ": there is no space left on the disk for the change; free some space and try "
             "again (the database is as it was)";
    case ERROR_ACCESS_DENIED:
      return file + ": permission denied (" + detail +
             "); the database or its folder may not be written by you";
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
      return file + ": the disk failed to read or write the database (" + detail + ")";
    case ERROR_NOT_ENOUGH_MEMORY:
      return file + ": there is not enough memory to work on the database";
    default:
      return std::nullopt;
  }
}

}  // namespace

std::string EngineCodeInWords(std::int32_t code, const std::string& file) {
  if (StoreMayBeBehind(code)) {
    const char* detail = nullptr;
    const std::uint32_t cause = MDbGetFailureCause(&detail);
    if (auto words = CauseInWords(cause, detail, file)) return *words;
  }
  switch (code) {
    case MDbErrNone:
      return file + ": no error";
    case MDbErrBadFormat:
      return file +
             ": the database was written by another version of Tabulon Mobile and cannot "
             "be read by this one";
    case MDbErrCannotOpen:
      return file + ": not a Tabulon Mobile database, or damaged: it cannot be opened";
    case MDbErrWordBreak:
      return file +
             ": the word-break data (tbmres/ beside the program) could not be loaded; "
             "reinstall Tabulon Mobile";
    case MDbErrTooManyRecords:
      return file + ": the database already holds the most records it can (5000)";
    case MDbErrInconsistent:
      return file +
             ": the database is marked inconsistent because a synchronisation did not "
             "finish rebuilding it; synchronise again to repair it";
    case MDbErrNoFields:
      return file + ": the database has no fields; synchronise it again from Tabulon Pro";
    case MDbErrBadDate:
      return file + ": a date does not fit the database's date format";
    case MDbErrBadTime:
      return file + ": a time does not fit the database's time format";
    default:
      return file + ": the database could not be read or written (the engine reported failure " +
             std::to_string(code) + ")";
  }
}

Status EngineFailure(std::int32_t code, const std::string& file) {
  std::string message = EngineCodeInWords(code, file);
  if (StoreMayBeBehind(code)) {
    if (const std::uint32_t cause = MDbGetFailureCause(nullptr); cause != ERROR_SUCCESS) {
      return PlatformFailure(cause, std::move(message));
    }
  }
  switch (code) {
    case MDbErrCannotOpen:
      return Status(StatusCode::kDamaged, std::move(message));
    case MDbErrBadDate:
    case MDbErrBadTime:
      return Status(StatusCode::kInvalidArgument, std::move(message));
    default:
      return Status::Error(std::move(message));
  }
}

}  // namespace tbm::engine
