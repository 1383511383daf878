#include "ScanRegistration.h"

#include "Registry.h"
#include "Utf16.h"

namespace tbm::scan {

std::optional<std::u16string> ProgramPathFromOpenCommand(std::u16string_view command) {
  const std::size_t open = command.find(u'"');
  if (open == std::u16string_view::npos) return std::nullopt;
  const std::size_t close = command.find(u'"', open + 1);
  if (close == std::u16string_view::npos || close == open + 1) return std::nullopt;
  return std::u16string(command.substr(open + 1, close - open - 1));
}

Status RegisterWithScannerSoftware(std::string* skipped) {
  HKEY scanApps = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kScanAppsKey, 0, KEY_READ | KEY_WRITE, &scanApps) !=
      ERROR_SUCCESS) {
    *skipped =
        "the device has no scanner software key HKEY_CURRENT_USER\\" + Utf16ToUtf8(kScanAppsKey);
    return Status();
  }
  const std::optional<std::u16string> command =
      RegGetString(HKEY_CLASSES_ROOT, kOpenCommandKey, nullptr);
  std::optional<std::u16string> path;
  if (!command) {
    *skipped = "the program's open command is missing";
  } else if (command->size() > kMostOpenCommandUnits) {
    *skipped = "the program's open command is longer than " +
               std::to_string(kMostOpenCommandUnits) + " characters";
  } else if (!(path = ProgramPathFromOpenCommand(*command))) {
    *skipped =
        "the program's open command \"" + Utf16ToUtf8(*command) + "\" has no quoted program path";
  }
  Status status;
  if (path) {
    const LONG rc = RegSetValueExW(scanApps, kScanAppsValue, 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(path->data()),
                                   static_cast<DWORD>(path->size() * 2));
    if (rc != ERROR_SUCCESS) {
      status = Status(rc == ERROR_ACCESS_DENIED ? StatusCode::kNoPermission
                      : rc == ERROR_DISK_FULL   ? StatusCode::kNoSpace
                                                : StatusCode::kFailed,
                      "cannot register the program with the scanner software: " +
                          std::string(DescribeError(static_cast<DWORD>(rc))),
                      static_cast<std::uint32_t>(rc));
    }
  }
  RegCloseKey(scanApps);
  return status;
}

}  // namespace tbm::scan
