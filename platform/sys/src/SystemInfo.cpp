#include "SystemInfo.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "Registry.h"

namespace {

// The key under which a device's registry may describe another device.
constexpr WCHAR kPlatformKey[] = u"Platform";

constexpr DWORD kDefaultMajor = 3;
constexpr DWORD kDefaultMinor = 0;
constexpr DWORD kDefaultBuild = 0;
constexpr WCHAR kDefaultPlatformType[] = u"PocketPC";

// The open key HKEY_LOCAL_MACHINE\Platform, closed when the object goes;
// null when the device has no such key (or its registry cannot be read).
class PlatformKey {
 public:
  PlatformKey() {
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPlatformKey, 0, KEY_QUERY_VALUE, &key_) !=
        ERROR_SUCCESS) {
      key_ = nullptr;
    }
  }
  ~PlatformKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  PlatformKey(const PlatformKey&) = delete;
  PlatformKey& operator=(const PlatformKey&) = delete;

  std::optional<DWORD> Number(const WCHAR* name) const {
    if (key_ == nullptr) return std::nullopt;
    DWORD type = REG_NONE;
    DWORD value = 0;
    DWORD bytes = sizeof value;
    if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &bytes) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || bytes != sizeof value) {
      return std::nullopt;
    }
    return value;
  }

  std::optional<std::u16string> Text(const WCHAR* name) const {
    if (key_ == nullptr) return std::nullopt;
    DWORD type = REG_NONE;
    DWORD bytes = 0;
    if (RegQueryValueExW(key_, name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
      return std::nullopt;
    }
    // The value may change between the two reads; a second size answer
    // is taken as it comes.
    std::vector<WCHAR> text(bytes / sizeof(WCHAR) + 1, 0);
    bytes = static_cast<DWORD>(text.size() * sizeof(WCHAR));
    if (RegQueryValueExW(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &bytes) != ERROR_SUCCESS ||
        type != REG_SZ) {
      return std::nullopt;
    }
    text.back() = 0;
    return std::u16string(text.data());
  }

 private:
  HKEY key_ = nullptr;
};

}  // namespace

extern "C" {

BOOL GetVersionExW(OSVERSIONINFOW* info) {
  if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const PlatformKey platform;
  info->dwMajorVersion = platform.Number(u"OSMajor").value_or(kDefaultMajor);
  info->dwMinorVersion = platform.Number(u"OSMinor").value_or(kDefaultMinor);
  info->dwBuildNumber = platform.Number(u"OSBuild").value_or(kDefaultBuild);
  info->dwPlatformId = platform.Number(u"PlatformId").value_or(VER_PLATFORM_WIN32_CE);
  std::fill(std::begin(info->szCSDVersion), std::end(info->szCSDVersion), WCHAR{0});
  return TRUE;
}

BOOL SystemParametersInfoW(UINT action, UINT param, void* buffer, UINT /*winIni*/) {
  if (action != SPI_GETPLATFORMTYPE || buffer == nullptr || param == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::u16string type = PlatformKey().Text(u"Type").value_or(kDefaultPlatformType);
  auto* out = static_cast<WCHAR*>(buffer);
  const std::size_t copied = std::min<std::size_t>(type.size(), param - 1);
  std::copy_n(type.data(), copied, out);
  out[copied] = 0;
  if (copied < type.size()) SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return TRUE;
}

}  // extern "C"
