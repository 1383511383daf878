// Where the provider keeps its files on the desktop: the exchange folder of
// one handheld, below the user's application-data folder,
//   <desktop root>/Application Data/<1001>/<1002>/<1003>/<1008>/<1009>/<handheld>
// (the numbers are texts of the language library), holding the local
// "TBSC.sdb" and "TBSS.sdb", the set-aside files Tabulon Pro writes, and
// the synchronisation log.
#pragma once

#include <string>
#include <string_view>

#include "ProviderTexts.h"
#include "Status.h"

namespace tbm::desksync {

inline constexpr char kChangesFileName[] = "TBSC.sdb";
inline constexpr char kCopyFileName[] = "TBSS.sdb";

// The user's application-data folder of the desktop (where the platform's
// shell keeps each user's program data), created when missing:
// "<desktop root>/Application Data".
Status ApplicationDataFolder(std::string* folder);

// name made fit to be one folder's name: '/', '\', control characters and
// DEL become '_', a name of nothing but dots (or nothing) becomes "_" plus
// it, and a name longer than 255 bytes is cut at a character's start.
std::string SafeFolderName(std::string_view name);

// The synchronisation log's path in a handheld's exchange folder (its name
// is text 1004, made safe like a folder's name).
std::string LogFileIn(const ProviderTexts& texts, const std::string& folder);

// The exchange folder of the handheld called deviceName (UTF-8), without
// making it.
std::string DeviceFolderPath(const ProviderTexts& texts, std::string_view deviceName);

// The same, made level by level where missing. Fails (kNoPermission,
// kNoSpace, kDamaged when a level is a file, ...) naming the level that
// could not be made.
Status MakeDeviceFolder(const ProviderTexts& texts, std::string_view deviceName,
                        std::string* folder);

}  // namespace tbm::desksync
