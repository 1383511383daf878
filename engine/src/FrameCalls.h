// Where the frame's file calls, and the last error the table layer tests,
// are made. The handheld's engine makes them on the handheld itself (the
// file calls of platform/fs and the thread's last error). libTBMDBCE.so is
// the same sources built with TBM_ENGINE_DESKTOP: there the files are the
// handheld's, reached over the remote API, and the last error is the one the
// handheld kept (CeGetLastError). The store calls keep their names on both
// sides (CeDb.h on the handheld, RapiDb.h on the desktop), and so does
// CeCloseHandle, which on the desktop is the remote API's one (CeDb.h).
#pragma once

#include "WinTypes.h"

#if defined(TBM_ENGINE_DESKTOP)
#include "Rapi.h"
#else
#include "FileCalls.h"
#include "FindFile.h"
#endif

namespace tbm::engine {

#if defined(TBM_ENGINE_DESKTOP)
using FoundFile = CE_FIND_DATA;
inline BOOL DeleteVolumeFile(const char16_t* path) { return CeDeleteFile(path); }
inline BOOL MakeDirectory(const char16_t* path) { return CeCreateDirectory(path, nullptr); }
inline HANDLE FindFirst(const char16_t* pattern, FoundFile* found) {
  return CeFindFirstFile(pattern, found);
}
inline BOOL FindNext(HANDLE find, FoundFile* found) { return CeFindNextFile(find, found); }
inline BOOL FindEnd(HANDLE find) { return CeFindClose(find); }
inline DWORD LastStoreError() { return CeGetLastError(); }
#else
using FoundFile = WIN32_FIND_DATAW;
inline BOOL DeleteVolumeFile(const char16_t* path) { return DeleteFileW(path); }
inline BOOL MakeDirectory(const char16_t* path) { return CreateDirectoryW(path, nullptr); }
inline HANDLE FindFirst(const char16_t* pattern, FoundFile* found) {
  return FindFirstFileW(pattern, found);
}
inline BOOL FindNext(HANDLE find, FoundFile* found) { return FindNextFileW(find, found); }
inline BOOL FindEnd(HANDLE find) { return FindClose(find); }
inline DWORD LastStoreError() { return GetLastError(); }
#endif

}  // namespace tbm::engine
