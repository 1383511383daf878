// The desktop's settings for its handhelds, as the connection service keeps
// them: one key per partnership in the desktop registry,
//   HKEY_CURRENT_USER\Software\Tabulon\Pro\Handheld\Devices\<partner id>
// holding, among others, the DWORD values kUpdateOnDocking and
// kContinuouslyUpdate. The calls keep the platform's names and LONG error
// numbers (ERROR_SUCCESS on success).
//
// Pairing writes the defaults (kUpdateOnDocking 1, kContinuouslyUpdate 0)
// for a new partnership when they are missing (EnsureDeviceSettings).
#pragma once

#include <string>

#include "Registry.h"
#include "Status.h"
#include "WinTypes.h"

struct HCESVC__;
using HCESVC = HCESVC__*;

// CeSvcOpen's services.
constexpr UINT CESVC_DEVICE_SELECTED = 8;  // the paired (selected) handheld's key

// Values of a handheld's key.
inline constexpr char16_t kUpdateOnDocking[] = u"Update on docking";
inline constexpr char16_t kContinuouslyUpdate[] = u"Continuously Update";

extern "C" {

// Opens path below the selected handheld's key (path null or empty: that
// key itself); create makes missing keys. ERROR_FILE_NOT_FOUND when the
// desktop has no partnership or (without create) the key is missing;
// ERROR_INVALID_PARAMETER for another service or a null result.
LONG CeSvcOpen(UINT service, const WCHAR* path, BOOL create, HCESVC* result);
LONG CeSvcClose(HCESVC key);
// ERROR_FILE_NOT_FOUND when the value is missing, ERROR_INVALID_DATA when
// it is not a DWORD, ERROR_INVALID_HANDLE for a null key.
LONG CeSvcGetDword(HCESVC key, const WCHAR* valueName, DWORD* value);
LONG CeSvcSetDword(HCESVC key, const WCHAR* valueName, DWORD value);

}  // extern "C"

namespace tbm::rapi {

// The key of partnerId's settings below HKEY_CURRENT_USER of the desktop.
std::u16string DeviceSettingsKey(const std::string& partnerId);

// Makes partnerId's key and sets each of kUpdateOnDocking (1) and
// kContinuouslyUpdate (0) that is missing or not a DWORD; values already
// there are kept. Fails in words when the desktop registry cannot be
// written.
Status EnsureDeviceSettings(const std::string& partnerId);

}  // namespace tbm::rapi
