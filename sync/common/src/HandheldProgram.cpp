#include "HandheldProgram.h"

#include <vector>

#include "Registry.h"
#include "Utf16.h"

namespace tbm::sync {

std::optional<std::u16string> HandheldProgramPath() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, u"tbmfile\\shell\\open\\command", 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0;
  DWORD bytes = 0;
  std::u16string command;
  LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &bytes);
  if (rc == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && bytes >= 2) {
    std::vector<char16_t> text(bytes / 2 + 1, 0);
    rc = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                          &bytes);
    if (rc == ERROR_SUCCESS) command = text.data();
  }
  RegCloseKey(key);
  const std::size_t open = command.find(u'"');
  if (open == std::u16string::npos) return std::nullopt;
  const std::size_t close = command.find(u'"', open + 1);
  if (close == std::u16string::npos) return std::nullopt;
  std::u16string path = command.substr(open + 1, close - open - 1);
  if (path.empty() || path.size() > kMaxProgramPathUnits) return std::nullopt;
  return path;
}

namespace {

struct WindowSearch {
  const std::u16string* programPath;
  HWND found = nullptr;
};

BOOL CheckWindow(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<WindowSearch*>(lParam);
  char16_t module[kMaxProgramPathUnits + 2] = {};
  const DWORD units = GetWindowModuleFileNameW(window, module, kMaxProgramPathUnits + 2);
  if (units == 0 || !EqualsIgnoreCase(Utf16View(module), *search->programPath)) return TRUE;
  const auto exStyle = static_cast<DWORD>(GetWindowLongW(window, GWL_EXSTYLE));
  const auto style = static_cast<DWORD>(GetWindowLongW(window, GWL_STYLE));
  if ((exStyle != 0 && !(exStyle & 0x80000000u)) || !(style & WS_VISIBLE)) return TRUE;
  search->found = window;
  return FALSE;
}

}  // namespace

HWND FindHandheldProgramWindow(const std::u16string& programPath) {
  WindowSearch search{&programPath};
  EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace tbm::sync
