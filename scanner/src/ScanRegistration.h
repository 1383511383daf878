// Registering the handheld program with the device's scanner software, so
// that the software knows which program reads labels: the program's path,
// taken from the open command of its documents, written as the value
// "Tabulon Mobile" of the software's "ScanApps" key.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "Status.h"

namespace tbm::scan {

inline constexpr char16_t kScanAppsKey[] = u"Software\\Symbol\\ScanApps";
inline constexpr char16_t kScanAppsValue[] = u"Tabulon Mobile";
inline constexpr char16_t kOpenCommandKey[] = u"tbmfile\\shell\\open\\command";
// The longest open command read, in characters.
inline constexpr std::size_t kMostOpenCommandUnits = 260;

// The program path in an open command: the text between its first two
// double quotes, exactly as written there. Nothing when there are not two
// quotes or nothing between them.
std::optional<std::u16string> ProgramPathFromOpenCommand(std::u16string_view command);

// When HKEY_CURRENT_USER has the "ScanApps" key, writes the program's path
// from the default value of HKEY_CLASSES_ROOT's open command into it. A
// missing key, a missing, overlong or unquoted command skips this without
// error (the result says why, for the log); a value that cannot be written
// is an error.
Status RegisterWithScannerSoftware(std::string* skipped);

}  // namespace tbm::scan
