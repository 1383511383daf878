// What the handheld tells a program about itself: the operating system's
// version and the platform type. The program's start-up checks both before
// it does anything else.
//
// The answers are those of a Pocket PC running Windows CE 3.0 unless the
// device's registry says otherwise, so that a test (or a person) can make
// a device of another kind: under HKEY_LOCAL_MACHINE\Platform the REG_DWORD
// values "OSMajor", "OSMinor", "OSBuild" and "PlatformId" replace the
// version's numbers, and the REG_SZ value "Type" replaces the platform
// type. A value of another type is ignored. The registry is read on every
// call; nothing is cached.
#pragma once

#include "WinTypes.h"

using UINT = std::uint32_t;

// The platform identifier of Windows CE.
constexpr DWORD VER_PLATFORM_WIN32_CE = 3;

struct OSVERSIONINFOW {
  DWORD dwOSVersionInfoSize;  // the caller sets it to sizeof(OSVERSIONINFOW)
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];  // service-pack text; empty
};

// The system-parameters action that asks for the platform type.
constexpr UINT SPI_GETPLATFORMTYPE = 257;

extern "C" {

// Fills *info with the operating system's version (default 3.0, platform
// VER_PLATFORM_WIN32_CE). FALSE with ERROR_INVALID_PARAMETER for a null
// info or one whose dwOSVersionInfoSize is not sizeof(OSVERSIONINFOW);
// *info is then left as it was.
BOOL GetVersionExW(OSVERSIONINFOW* info);

// action SPI_GETPLATFORMTYPE: copies the platform type ("PocketPC" by
// default) into buffer, param being the buffer's size in characters. Text
// that does not fit is cut to param - 1 characters and terminated; the call
// still succeeds and sets the last error to ERROR_INSUFFICIENT_BUFFER.
// FALSE with ERROR_INVALID_PARAMETER for any other action, a null buffer or
// a size of 0 (buffer untouched). winIni is ignored.
BOOL SystemParametersInfoW(UINT action, UINT param, void* buffer, UINT winIni);

}  // extern "C"
