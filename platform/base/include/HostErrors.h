// Turning the host's errno values into the platform's error numbers, and the
// guard that keeps exceptions from leaving the stand-ins' C-callable calls.
#pragma once

#include <string>

#include "CallGuard.h"
#include "Status.h"
#include "WinTypes.h"

namespace tbm {

// The platform error for an errno from an operation on hostPath. ENOENT
// becomes ERROR_FILE_NOT_FOUND when the folder hostPath would be in exists,
// and ERROR_PATH_NOT_FOUND when it does not, as the platform tells the two
// apart. existsError is what EEXIST becomes (ERROR_FILE_EXISTS or
// ERROR_ALREADY_EXISTS, depending on the call).
DWORD ErrorFromErrno(int error, const std::string& hostPath,
                     DWORD existsError = ERROR_ALREADY_EXISTS);

// A failure the platform reported as error, with its sentence: the status's
// kind follows the error (busy, no space, no permission, damaged, not found,
// no memory), and the error number travels with it.
Status PlatformFailure(DWORD error, std::string message);

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
