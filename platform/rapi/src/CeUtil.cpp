// The desktop's per-handheld settings: a key per partnership in the
// desktop registry, reached through the selected (paired) handheld.
#include "CeUtil.h"

#include <cstring>
#include <optional>
#include <string>

#include "HostErrors.h"
#include "Utf16.h"

namespace {

constexpr char16_t kDesktopKey[] = u"Software\\Tabulon\\Pro\\Handheld";

// A settings handle is the registry key it stands for.
HKEY KeyOf(HCESVC handle) { return reinterpret_cast<HKEY>(handle); }

// The partner identifier of the desktop's partnership, read from the
// desktop's registry whichever machine the process stands on.
std::optional<std::u16string> SelectedPartner() {
  HKEY hive = nullptr;
  if (tbm::RegConnectMachine(tbm::Machine::Desktop, HKEY_CURRENT_USER, &hive) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::optional<std::u16string> partner = tbm::RegGetString(hive, kDesktopKey, u"Partner");
  RegCloseKey(hive);
  if (!partner || partner->empty()) return std::nullopt;
  return partner;
}

LONG OpenDeviceKey(const std::u16string& partnerId, const WCHAR* path, BOOL create, HKEY* result) {
  std::u16string subKey = tbm::rapi::DeviceSettingsKey(tbm::Utf16ToUtf8(partnerId));
  if (path != nullptr && *path != u'\0') subKey += u"\\" + std::u16string(path);
  HKEY hive = nullptr;
  LONG error = tbm::RegConnectMachine(tbm::Machine::Desktop, HKEY_CURRENT_USER, &hive);
  if (error != ERROR_SUCCESS) return error;
  error = create ? RegCreateKeyExW(hive, subKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                   result, nullptr)
                 : RegOpenKeyExW(hive, subKey.c_str(), 0, KEY_ALL_ACCESS, result);
  RegCloseKey(hive);
  return error;
}

}  // namespace

namespace tbm::rapi {

std::u16string DeviceSettingsKey(const std::string& partnerId) {
  return std::u16string(kDesktopKey) + u"\\Devices\\" + Utf8ToUtf16(partnerId);
}

Status EnsureDeviceSettings(const std::string& partnerId) {
  HKEY key = nullptr;
  LONG error = OpenDeviceKey(Utf8ToUtf16(partnerId), nullptr, TRUE, &key);
  const struct {
    const char16_t* name;
    DWORD value;
  } defaults[] = {{kUpdateOnDocking, 1}, {kContinuouslyUpdate, 0}};
  for (const auto& setting : defaults) {
    if (error != ERROR_SUCCESS) break;
    DWORD existing = 0;
    const LONG read = CeSvcGetDword(reinterpret_cast<HCESVC>(key), setting.name, &existing);
    if (read == ERROR_FILE_NOT_FOUND || read == ERROR_INVALID_DATA) {
      error = CeSvcSetDword(reinterpret_cast<HCESVC>(key), setting.name, setting.value);
    } else {
      error = read;
    }
  }
  if (key != nullptr) RegCloseKey(key);
  if (error != ERROR_SUCCESS) {
    return PlatformFailure(static_cast<DWORD>(error),
                           "the settings of the handheld " + partnerId +
                               " cannot be written to the desktop registry: " +
                               DescribeError(static_cast<DWORD>(error)));
  }
  return Status();
}

}  // namespace tbm::rapi

extern "C" LONG CeSvcOpen(UINT service, const WCHAR* path, BOOL create, HCESVC* result) {
  return tbm::GuardedStatus([&]() -> DWORD {
    if (result == nullptr || service != CESVC_DEVICE_SELECTED) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    const std::optional<std::u16string> partner = SelectedPartner();
    if (!partner) return ERROR_FILE_NOT_FOUND;
    HKEY key = nullptr;
    const LONG error = OpenDeviceKey(*partner, path, create, &key);
    if (error != ERROR_SUCCESS) return static_cast<DWORD>(error);
    *result = reinterpret_cast<HCESVC>(key);
    return ERROR_SUCCESS;
  });
}

extern "C" LONG CeSvcClose(HCESVC key) {
  if (key == nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
  return RegCloseKey(KeyOf(key));
}

extern "C" LONG CeSvcGetDword(HCESVC key, const WCHAR* valueName, DWORD* value) {
  if (key == nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
  if (value == nullptr) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
  DWORD type = REG_NONE;
  BYTE data[4] = {};
  DWORD bytes = sizeof data;
  const LONG error = RegQueryValueExW(KeyOf(key), valueName, nullptr, &type, data, &bytes);
  if (error == static_cast<LONG>(ERROR_MORE_DATA)) return static_cast<LONG>(ERROR_INVALID_DATA);
  if (error != ERROR_SUCCESS) return error;
  if (type != REG_DWORD || bytes != sizeof data) return static_cast<LONG>(ERROR_INVALID_DATA);
  std::memcpy(value, data, sizeof data);
  return ERROR_SUCCESS;
}

extern "C" LONG CeSvcSetDword(HCESVC key, const WCHAR* valueName, DWORD value) {
  if (key == nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
  BYTE data[4];
  std::memcpy(data, &value, sizeof data);
  return RegSetValueExW(KeyOf(key), valueName, 0, REG_DWORD, data, sizeof data);
}
