// Folders the system asks the platform for: the temporary folder and the
// file a running program or loaded library came from.
//
// Both answer with host paths (they contain '/'), which every file call
// takes as they are. The program and its libraries live outside the device
// root, so a handheld path could not name them; the temporary folder is
// given the same way so that both calls hand back one kind of path.
// DevicePathFromHostPath (DevicePath.h) turns the temporary folder into
// "\Temp" when a handheld spelling is wanted.
//
// Sizes here count characters (UTF-16 code units), terminator included, as
// these two calls always have. Text that does not fit is cut by the buffer
// rule: at most size - 1 characters, always terminated.
#pragma once

#include "WinTypes.h"

// A loaded module: a handle from dlopen, or any address inside a loaded
// program or library (a function's address, or the base address the
// platform used as a module handle). Null means the running program.
using HMODULE = void*;

extern "C" {

// Copies the handheld's temporary folder, "<device root>/Temp/" (with the
// trailing '/' the system appends file names to), into buffer, creating the
// folder when missing. Returns the number of characters copied, terminator
// not counted. When the path does not fit in bufferLength characters the
// copy is cut, the last error is ERROR_INSUFFICIENT_BUFFER, and the return
// value is the size needed, terminator included (so always above
// bufferLength). Returns 0 on failure: ERROR_INVALID_PARAMETER for a null
// buffer with a non-zero length, or the error that kept the folder from being
// created.
DWORD GetTempPathW(DWORD bufferLength, WCHAR* buffer);

// Copies the absolute host path of a module's file into fileName:
// the running program's for a null module, otherwise the program or library
// that module was loaded from or that the address lies in. Returns the
// number of characters copied, terminator not counted. When the path does
// not fit in size characters it is cut to size - 1 characters and
// terminated, the return value is size, and the last error is
// ERROR_INSUFFICIENT_BUFFER. Returns 0 on failure: ERROR_MOD_NOT_FOUND when
// the module is neither a dlopen handle nor inside a loaded object,
// ERROR_INVALID_PARAMETER for a null buffer or a size of 0.
DWORD GetModuleFileNameW(HMODULE module, WCHAR* fileName, DWORD size);

}  // extern "C"
