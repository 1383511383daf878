#include <vector>

#include "Registry.h"

namespace tbm {

std::optional<std::u16string> RegGetString(HKEY key, const char16_t* subKey,
                                           const char16_t* valueName) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(key, subKey != nullptr ? subKey : u"", 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::optional<std::u16string> text;
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(opened, valueName, nullptr, &type, nullptr, &bytes) == ERROR_SUCCESS &&
      type == REG_SZ) {
    std::vector<char16_t> buffer(bytes / 2 + 1);
    bytes = static_cast<DWORD>(buffer.size() * 2);
    if (RegQueryValueExW(opened, valueName, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                         &bytes) == ERROR_SUCCESS &&
        type == REG_SZ) {
      text = std::u16string(buffer.data());
    }
  }
  RegCloseKey(opened);
  return text;
}

LONG RegSetString(HKEY key, const char16_t* subKey, const char16_t* valueName,
                  std::u16string_view value) {
  HKEY created = nullptr;
  LONG result = RegCreateKeyExW(key, subKey != nullptr ? subKey : u"", 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, &created, nullptr);
  if (result != ERROR_SUCCESS) return result;
  const std::u16string terminated(value);
  result = RegSetValueExW(created, valueName, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(terminated.c_str()),
                          static_cast<DWORD>((terminated.size() + 1) * 2));
  RegCloseKey(created);
  return result;
}

}  // namespace tbm
