// Kept only while this branch is built without the remote API's file calls:
// each fails as a call the handheld does not offer.
#include "HandheldFileCalls.h"

namespace {
constexpr DWORD kNotOffered = 50;  // ERROR_NOT_SUPPORTED
}

extern "C" {
BOOL CeDeleteFile(const WCHAR*) { return SetLastError(kNotOffered), FALSE; }
BOOL CeCreateDirectory(const WCHAR*, void*) { return SetLastError(kNotOffered), FALSE; }
HANDLE CeFindFirstFile(const WCHAR*, CE_FIND_DATA*) {
  return SetLastError(kNotOffered), INVALID_HANDLE_VALUE;
}
BOOL CeFindNextFile(HANDLE, CE_FIND_DATA*) { return SetLastError(kNotOffered), FALSE; }
BOOL CeFindClose(HANDLE) { return SetLastError(kNotOffered), FALSE; }
}
