// Turning the host's errno values into the platform's error numbers, and the
// guard that keeps exceptions from leaving the C-callable file calls.
#pragma once

#include <string>

#include "CallGuard.h"
#include "WinTypes.h"

namespace tbm::fs {

// The platform error for an errno from an operation on hostPath. ENOENT
// becomes ERROR_FILE_NOT_FOUND when the folder hostPath would be in exists,
// and ERROR_PATH_NOT_FOUND when it does not, as the platform tells the two
// apart. existsError is what EEXIST becomes (ERROR_FILE_EXISTS or
// ERROR_ALREADY_EXISTS, depending on the call).
DWORD ErrorFromErrno(int error, const std::string& hostPath,
                     DWORD existsError = ERROR_ALREADY_EXISTS);

// The failure exits and the exception guard of the file calls.
using tbm::Fail;
using tbm::Guarded;

}  // namespace tbm::fs
