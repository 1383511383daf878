// Turning the host's errno values into the platform's error numbers, and the
// guard that keeps exceptions from leaving the stand-ins' C-callable calls.
#pragma once

#include <new>
#include <string>

#include "WinTypes.h"

namespace tbm {

// The platform error for an errno from an operation on hostPath. ENOENT
// becomes ERROR_FILE_NOT_FOUND when the folder hostPath would be in exists,
// and ERROR_PATH_NOT_FOUND when it does not, as the platform tells the two
// apart. existsError is what EEXIST becomes (ERROR_FILE_EXISTS or
// ERROR_ALREADY_EXISTS, depending on the call).
DWORD ErrorFromErrno(int error, const std::string& hostPath,
                     DWORD existsError = ERROR_ALREADY_EXISTS);

// Sets the last error and returns failure, for the many "fail with this
// error" exits of the calls that report through the last error.
template <typename Result>
Result Fail(DWORD error, Result failure) {
  SetLastError(error);
  return failure;
}

// Runs body and returns its result; an exception (only allocation failure is
// possible here) becomes ERROR_NOT_ENOUGH_MEMORY and the failure value, so
// nothing is thrown across the C-callable interface.
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY, failure);
  } catch (...) {
    return Fail(ERROR_INTERNAL_ERROR, failure);
  }
}

// The same guard for calls that return their error number instead of
// setting the last error (the registry calls): body returns an error number,
// an exception becomes ERROR_NOT_ENOUGH_MEMORY or ERROR_INTERNAL_ERROR.
template <typename Body>
LONG GuardedStatus(Body&& body) noexcept {
  try {
    return static_cast<LONG>(body());
  } catch (const std::bad_alloc&) {
    return static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY);
  } catch (...) {
    return static_cast<LONG>(ERROR_INTERNAL_ERROR);
  }
}

}  // namespace tbm
