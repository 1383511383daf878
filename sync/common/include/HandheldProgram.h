// Reaching the running handheld program from the sync agent: where the
// program is installed (the command that opens a ".tbm" file), its main
// window among the machine's top-level windows, and calls it answers
// through the RPC block.
#pragma once

#include <optional>
#include <string>

#include "WinUser.h"

namespace tbm::sync {

// The most UTF-16 units a program path may have.
inline constexpr std::size_t kMaxProgramPathUnits = 266;

// The handheld program's path: the first double-quoted part of the default
// value of HKEY_CLASSES_ROOT\tbmfile\shell\open\command. Nothing when the
// key or value is missing, holds no quoted part, or the path is longer
// than kMaxProgramPathUnits.
std::optional<std::u16string> HandheldProgramPath();

// The program's main window: the first top-level window whose owning
// process's module path equals programPath (without regard to case), whose
// extended style is 0 or has its top bit set, and which is visible. Null
// when the program is not running.
HWND FindHandheldProgramWindow(const std::u16string& programPath);

}  // namespace tbm::sync
