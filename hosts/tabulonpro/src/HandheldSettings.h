// A database's settings for the handheld, as the synchronisation plug-in
// keeps them in the database's plug-in data (numbers big-endian):
//
// "QZP1", 812 bytes (an older 492-byte form is read too): i16 version (2),
// i32 record selection (1 all records, otherwise the current selection),
// i32 conflict rule (1 keep both, 2 the handheld wins, 3 the desktop wins),
// i16 n, then 50 slots (30 in the older form) of 16 bytes, the first n
// holding field keys (counted strings): the fields the handheld gets, in
// its order.
//
// "QZP2": i16 version (1), i32 n, then n field settings of 90 bytes: at 0
// the u16 option flags (bit 0 entry locked, bit 1 first letter capitalised),
// at 2 the u16 display style, at 68 the field's key (16-byte counted
// string), at 84 the name of the field's value list (counted string of at
// most 5 bytes, in the host's text form); the other bytes are zero.
//
// These are the one reader and writer of both records in Tabulon Pro.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Status.h"
#include "TBExtern.h"

namespace tbm::tabulonpro {

inline constexpr std::uint32_t kHandheldSettingsKey = TB_FOURCC('Q', 'Z', 'P', '1');
inline constexpr std::uint32_t kFieldSettingsKey = TB_FOURCC('Q', 'Z', 'P', '2');

inline constexpr std::size_t kHandheldSettingsBytes = 812;
inline constexpr std::size_t kOldHandheldSettingsBytes = 492;
inline constexpr std::size_t kMaxHandheldFields = 50;
inline constexpr std::size_t kFieldSettingBytes = 90;
inline constexpr std::size_t kMaxValueListNameBytes = 5;
inline constexpr std::size_t kMaxKeyBytes = 15;

inline constexpr std::int32_t kSelectionCurrent = 0;
inline constexpr std::int32_t kSelectionAll = 1;
inline constexpr std::int32_t kConflictKeepBoth = 1;
inline constexpr std::int32_t kConflictHandheldWins = 2;
inline constexpr std::int32_t kConflictDesktopWins = 3;

inline constexpr std::uint16_t kOptionLocked = 0x1;
inline constexpr std::uint16_t kOptionCapitalise = 0x2;

// The handheld's display styles.
inline constexpr std::uint16_t kStyleEditBox = 0;
inline constexpr std::uint16_t kStyleDropDownList = 1;
inline constexpr std::uint16_t kStyleDropDownCombo = 2;
inline constexpr std::uint16_t kStyleCheckBox = 3;
inline constexpr std::uint16_t kStyleZoomBox = 5;

struct HandheldSettings {
  std::int16_t version = 2;
  std::int32_t selection = kSelectionAll;
  std::int32_t conflictRule = kConflictKeepBoth;
  std::vector<std::string> fieldKeys;  // at most 50, each at most 15 bytes
};

struct FieldSetting {
  std::uint16_t flags = 0;
  std::uint16_t style = kStyleEditBox;
  std::string key;        // at most 15 bytes
  std::string valueList;  // in the host's text form, at most 5 bytes
};

// kInvalidArgument when a key, a list name or the number of fields does not
// fit its slot.
Status EncodeHandheldSettings(const HandheldSettings& settings, std::string* bytes);
Status EncodeFieldSettings(const std::vector<FieldSetting>& settings, std::string* bytes);

// kBadLength, kBadCount or kBadCountedString for bytes that are not such a
// record; the message says what was wrong.
Status DecodeHandheldSettings(std::string_view bytes, HandheldSettings* settings);
Status DecodeFieldSettings(std::string_view bytes, std::vector<FieldSetting>* settings);

}  // namespace tbm::tabulonpro
