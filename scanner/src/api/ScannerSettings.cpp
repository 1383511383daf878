#include "ScannerSettings.h"

#include <optional>

#include "DevicePath.h"
#include "Registry.h"
#include "ScnApi.h"
#include "Utf16.h"

namespace tbm::scan {
namespace {

bool IsDeviceName(std::u16string_view name) {
  if (name.size() < 2 || name.size() > 16 || name.back() != u':') return false;
  for (char16_t c : name.substr(0, name.size() - 1)) {
    const bool letter = (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
    const bool digit = c >= u'0' && c <= u'9';
    if (!letter && !digit) return false;
  }
  return true;
}

std::optional<std::uint32_t> ReadDword(const std::u16string& key, const char16_t* value) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0;
  DWORD data = 0;
  DWORD bytes = sizeof data;
  const LONG rc =
      RegQueryValueExW(opened, value, nullptr, &type, reinterpret_cast<BYTE*>(&data), &bytes);
  RegCloseKey(opened);
  if (rc != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof data) return std::nullopt;
  return data;
}

// The host path a path value names, or empty with the reason added to
// warnings.
std::string MappedValue(const std::u16string& key, const char16_t* value, std::string* warnings) {
  const std::optional<std::u16string> text = RegGetString(HKEY_LOCAL_MACHINE, key.c_str(), value);
  if (!text || text->empty()) return {};
  const MappedPath mapped = HostPathFromDevicePath(*text);
  if (!mapped) {
    *warnings += "the " + Utf16ToUtf8(value) + " value \"" + Utf16ToUtf8(*text) +
                 "\" is not a usable path (" + DescribeError(mapped.error) + "); it is ignored. ";
    return {};
  }
  return mapped.hostPath;
}

}  // namespace

Status ReadScannerSettings(std::u16string_view deviceName, ScannerSettings* settings,
                           std::string* warnings) {
  if (!IsDeviceName(deviceName)) {
    return Status(StatusCode::kInvalidArgument,
                  "\"" + Utf16ToUtf8(deviceName) + "\" is not a scanner's device name");
  }
  const std::u16string key = std::u16string(kScannerSettingsKey) + u"\\" +
                             std::u16string(deviceName.substr(0, deviceName.size() - 1));
  ScannerSettings read;
  read.portPath = MappedValue(key, kScannerPortValue, warnings);
  read.imageFolder = MappedValue(key, kScannerImageFolderValue, warnings);
  if (const auto baud = ReadDword(key, kScannerBaudRateValue)) read.baudRate = *baud;
  if (read.portPath.empty() && read.imageFolder.empty()) {
    return Status(StatusCode::kNotFound,
                  "no scanner " + Utf16ToUtf8(deviceName) +
                      " is set up: give HKEY_LOCAL_MACHINE\\" + Utf16ToUtf8(key) +
                      " a \"Port\" value (a serial device or FIFO) or an \"ImageFolder\" value");
  }
  *settings = std::move(read);
  return Status();
}

}  // namespace tbm::scan
