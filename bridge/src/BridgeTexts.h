// The plug-in's texts: its language library "qzres", found beside the
// plug-in as qzres/qzres<suffix>.so for the desktop's language (the
// language, then its primary language, then US English), and the numbers
// of its strings (res/qz/*.txt).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ResourceLibrary.h"
#include "Status.h"

namespace tbm::bridge {

// The plug-in's version, as the information dialog shows it.
inline constexpr char kBridgeVersion[] = "2.0.1";

enum BridgeText : std::uint32_t {
  kTextAboutTitle = 1001,
  kTextAboutBody = 1002,  // %1s the version
  kTextClose = 1003,
  kTextSettingsLocked = 1005,
  kTextNoDatabase = 1006,
  kTextSettingsTitle = 1010,  // %1s the database's name
  kTextDatabaseFields = 1011,
  kTextHandheldFields = 1012,
  kTextAddField = 1013,
  kTextRemoveField = 1014,
  kTextMoveUp = 1015,
  kTextMoveDown = 1016,
  kTextRecordsGroup = 1017,
  kTextAllRecords = 1018,
  kTextCurrentRecords = 1019,
  kTextConflictGroup = 1020,
  kTextKeepBoth = 1021,
  kTextHandheldWins = 1022,
  kTextDesktopWins = 1023,
  kTextFieldGroup = 1024,  // %1s the field's name
  kTextDisplayStyle = 1025,
  kTextDisplayStyles = 1026,  // comma-separated, in the order of kDisplayStyles
  kTextValueList = 1027,
  kTextNoValueList = 1028,
  kTextEntryLocked = 1029,
  kTextCapitalise = 1030,
  kTextTooManyFields = 1031,  // %1d the most fields
  kTextCannotStore = 1032,    // %1s the host's words
  kTextSettingsDamaged = 1033,
  kTextOk = 1034,
  kTextCancel = 1035,
  kTextCannotReadFields = 1036,  // %1s the host's words
};

// The folder the plug-in was loaded from (a host path without a trailing
// '/').
std::string PluginFolder();

// Loads qzres for the desktop's language from folder/qzres. kNotFound
// when no library of the languages to try is there; the status of the
// last one tried when each failed to load.
Status LoadBridgeTexts(const std::string& folder, std::unique_ptr<res::ResourceLibrary>* texts);

}  // namespace tbm::bridge
