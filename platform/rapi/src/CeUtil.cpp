// The desktop's per-handheld settings: keys below the partnership's own key
// in the desktop registry, whichever machine this process stands on.
#include "CeUtil.h"

#include <optional>
#include <string>

namespace {

constexpr char16_t kDevicesKey[] = u"Software\\Tabulon\\Pro\\Handheld\\Devices\\";
constexpr char16_t kPartnershipKey[] = u"Software\\Tabulon\\Pro\\Handheld";
constexpr char16_t kPartnerValue[] = u"Partner";

HKEY KeyOf(HCESVC key) { return reinterpret_cast<HKEY>(key); }

}  // namespace

extern "C" {

LONG CeSvcOpen(UINT service, const WCHAR* path, BOOL create, HCESVC* result) {
  if (result == nullptr || service != CESVC_DEVICE_SELECTED) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  HKEY user = nullptr;
  if (const LONG rc = tbm::RegConnectMachine(tbm::Machine::Desktop, HKEY_CURRENT_USER, &user);
      rc != ERROR_SUCCESS) {
    return rc;
  }
  const std::optional<std::u16string> partner =
      tbm::RegGetString(user, kPartnershipKey, kPartnerValue);
  if (!partner || partner->empty()) {
    RegCloseKey(user);
    return ERROR_FILE_NOT_FOUND;
  }
  std::u16string subKey = kDevicesKey + *partner;
  if (path != nullptr && path[0] != u'\0') subKey += u"\\" + std::u16string(path);
  HKEY key = nullptr;
  const LONG rc = create ? RegCreateKeyExW(user, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                           nullptr, &key, nullptr)
                         : RegOpenKeyExW(user, subKey.c_str(), 0, KEY_ALL_ACCESS, &key);
  RegCloseKey(user);
  if (rc == ERROR_SUCCESS) *result = reinterpret_cast<HCESVC>(key);
  return rc;
}

LONG CeSvcClose(HCESVC key) { return RegCloseKey(KeyOf(key)); }

LONG CeSvcGetDword(HCESVC key, const WCHAR* valueName, DWORD* value) {
  if (value == nullptr) return ERROR_INVALID_PARAMETER;
  DWORD type = REG_NONE;
  DWORD word = 0;
  DWORD bytes = sizeof word;
  const LONG rc = RegQueryValueExW(KeyOf(key), valueName, nullptr, &type,
                                   reinterpret_cast<BYTE*>(&word), &bytes);
  if (rc == ERROR_MORE_DATA) return ERROR_INVALID_DATA;
  if (rc != ERROR_SUCCESS) return rc;
  if (type != REG_DWORD || bytes != sizeof word) return ERROR_INVALID_DATA;
  *value = word;
  return ERROR_SUCCESS;
}

LONG CeSvcSetDword(HCESVC key, const WCHAR* valueName, DWORD value) {
  return RegSetValueExW(KeyOf(key), valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof value);
}

}  // extern "C"
