// The remote API's file calls the frame uses, as the desktop's Rapi.h
// declares them. Kept here only while this branch is built without them.
#pragma once

#include "WinTypes.h"

struct CE_FIND_DATA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwOID;
  WCHAR cFileName[260];
};

extern "C" {
BOOL CeDeleteFile(const WCHAR* fileName);
BOOL CeCreateDirectory(const WCHAR* pathName, void* security);
HANDLE CeFindFirstFile(const WCHAR* pattern, CE_FIND_DATA* found);
BOOL CeFindNextFile(HANDLE find, CE_FIND_DATA* found);
BOOL CeFindClose(HANDLE find);
}
