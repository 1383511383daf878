// The two checks the program's start-up makes before anything else: what
// kind of device it runs on, and which language library gives it its
// texts, menus and pictures. Both only look and load; showing the message
// and ending the program are start-up's own steps (TBMApp.cpp).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ResourceLibrary.h"
#include "Status.h"

namespace tbm::app {

// Device kinds: the program runs on kinds 1 and 2 and ends silently on the
// others.
constexpr int kDeviceCheckFailed = 0;
constexpr int kDevicePalmSize = 1;  // platform type "Palm PC2"
constexpr int kDevicePocketPc = 2;  // platform type "PocketPC"
constexpr int kDeviceOther = 3;     // any other platform type

// The device's kind: 0 unless the operating system is Windows CE 3 or
// later and its platform type can be read, else by the platform type.
int DeviceKind();

// The folder the running program was loaded from, as a host path without a
// trailing '/'; empty when it cannot be told.
std::string ProgramFolder();

// The language-library file for a suffix: <folder>/tbmres/tbmres<suffix>.so.
// The suffix of a language is res::LanguageSuffix (DeviceLanguage.h).
std::string LanguageLibraryPath(const std::string& programFolder, const std::string& suffix);

// Finds the program's language library in programFolder/tbmres for the
// device's language languageId, trying in order: no suffix; languageId;
// when its sub-language is not the default (1), the primary language with
// the default sub-language ((languageId & 0x3FF) | 0x400); unless
// languageId is 1033, 1033 (US English). The first library that loads is
// checked by its TBMGetDllVersion when it has one: it is accepted when its
// major version equals the program's or its minor version does. A rejected
// library ends the search.
// Returns the accepted library in *library; otherwise a failure saying
// what was tried and why none was taken (kNotFound when no candidate
// loaded, kInvalidArgument for a rejected version), *library left empty.
Status FindLanguageLibrary(const std::string& programFolder, std::uint16_t languageId,
                           std::unique_ptr<res::ResourceLibrary>* library);

// The sentence that no language library was found, in the device's
// language where the program has it (German, Spanish, French, Italian,
// Japanese), else in English. The program carries these texts itself: they
// are shown exactly when no library could give them.
std::u16string LanguageModuleMissingText(std::uint16_t languageId);

}  // namespace tbm::app
