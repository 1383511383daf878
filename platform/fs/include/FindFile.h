// Listing the handheld's folders with a name pattern.
//
// A pattern is a path whose last component may hold the handheld's
// wildcards: '*' matches any run of characters (none included), '?' exactly
// one character, and a pattern ending in ".*" also matches names without a
// dot ("*.*" matches everything). Matching is case-blind. The folder part is
// mapped like any path (DevicePath.h), so "\My Documents\Tabulon\*.tbm",
// "\my documents\TABULON\*.TBM" and a bare "*.tbm" (the root) all work, and
// so does a host path such as "/tmp/backup/*.tbm".
//
// The folder is read when FindFirstFileW is called: entries added or removed
// later are not seen by that search. Entries come in case-blind name order;
// "." and ".." are never reported.
#pragma once

#include "FileTypes.h"
#include "WinTypes.h"

// What the find calls report about one entry.
struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;     // as GetFileAttributesW reports them
  FILETIME ftCreationTime;    // birth time where the host keeps one, else last write
  FILETIME ftLastAccessTime;  //
  FILETIME ftLastWriteTime;   //
  DWORD nFileSizeHigh;        // 0 for folders
  DWORD nFileSizeLow;         //
  WCHAR cFileName[MAX_PATH];  // the name alone, cut by the buffer rule, terminated
};

extern "C" {

// Starts a search and reports its first entry in *findData.
// Returns a find handle for FindNextFileW and FindClose, or
// INVALID_HANDLE_VALUE with:
//   ERROR_FILE_NOT_FOUND     nothing in the folder matches;
//   ERROR_PATH_NOT_FOUND     the folder is missing (or is a file), or the
//                            pattern is null or empty;
//   ERROR_INVALID_NAME       the name part holds a character a name cannot;
//   ERROR_INVALID_PARAMETER  findData is null;
//   the mapping errors of HostPathFromDevicePath for the folder part.
HANDLE FindFirstFileW(const WCHAR* pattern, WIN32_FIND_DATAW* findData);

// Reports the search's next entry in *findData. Once the entries are used
// up it returns FALSE with ERROR_NO_MORE_FILES (18), on that call and every
// later one, until FindClose. Fails with ERROR_INVALID_HANDLE for a handle
// that is not a live find handle, and ERROR_INVALID_PARAMETER for a null
// findData.
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* findData);

// Ends a search. Fails with ERROR_INVALID_HANDLE for a handle that is not a
// live find handle (one closed already, or a file handle).
BOOL FindClose(HANDLE find);

}  // extern "C"
