// The data folder: where our compiled rules and ICU's property data are
// found, and the one piece of state the library keeps between calls.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace tbm::wordbreak {

// The names of the two files the folder must hold.
inline constexpr char kRulesFileName[] = "tbmwd.brk";
inline constexpr char kPropertiesFileName[] = "uprops.dat";

// The folder's longest path in bytes, terminator included, as the handheld's
// file calls allowed.
inline constexpr std::size_t kMaximumPathBytes = 260;

// The folder to use, ending in '/': the one named by TBM_WBR_DATA_DIR when
// that is set and not empty (made absolute), otherwise "tbmres/" beside the
// running program's executable. Nothing when the program's path cannot be
// read or the named folder does not exist.
std::optional<std::string> LocateDataFolder();

// Whether folder (ending in '/') holds both files as regular files.
bool HoldsDataFiles(const std::string& folder);

// Remembers folder as the one sessions load their rules from; an empty
// folder means there is none (the last set-up failed). Safe from any thread.
void RememberDataFolder(std::string folder);

// The folder last remembered; empty when there is none.
std::string RememberedDataFolder();

}  // namespace tbm::wordbreak
