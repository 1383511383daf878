// A database's settings for the handheld, which Tabulon Pro keeps inside
// each of its databases as plug-in data under two four-character keys.
// The desktop plug-in reads them to merge and export and writes them from
// its settings dialog; Tabulon Pro's "handheld" command shows and writes
// them too. Both go through this one reader and writer. Numbers are
// big-endian.
//
// "QZP1", kSyncSettingsBytes (an older form of kOldSyncSettingsBytes is
// read as well):
//   0   i16  version (2)
//   2   i32  record selection: 1 all records, otherwise the host's current
//            selection
//   6   i32  conflict rule: 2 the handheld wins, 3 the desktop wins, any
//            other value (1) both records are kept
//   10  i16  n, the number of fields chosen for the handheld (at most 50;
//            30 in the older form)
//   12  50 (older form: 30) slots of 16 bytes, the first n holding field
//       keys (counted strings), in handheld field order; the rest zero
//
// "QZP2":
//   0   i16  version (1)
//   2   i32  n
//   6   n field settings of kFieldSettingBytes:
//       0   u16  option flags (bit 0 entry locked, bit 1 capitalise the
//                first letter), the field's option word 1 on the handheld
//       2   u16  display style (0 edit box, 1 drop-down list, 2 drop-down
//                combo, 3 check box, 5 zoom box), option word 2
//       4   64 bytes nobody reads; kept as they were
//       68  16-byte counted string: the key of the field the setting is for
//       84  6-byte counted string: the name of the field's value list
//           (host text form, at most 5 bytes; empty: none)
//
// The decoders distrust every length: a record of another size, a count
// out of range or a counted string longer than its slot is kDamaged, the
// message says what was wrong, and nothing is returned. The message names
// the record but not the remedy, which each caller knows best.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ExchangeFile.h"
#include "Status.h"

namespace tbm::sync {

// The plug-in data keys, as Tabulon Pro's four-character codes: 'Q' 'Z'
// 'P' '1' and 'Q' 'Z' 'P' '2', first character in the high byte.
constexpr std::uint32_t kSyncSettingsKey = 0x515A5031;
constexpr std::uint32_t kFieldSettingsKey = 0x515A5032;

constexpr std::size_t kSyncSettingsBytes = 812;
constexpr std::size_t kOldSyncSettingsBytes = 492;
constexpr std::size_t kMaxChosenFields = 50;
constexpr std::size_t kOldMaxChosenFields = 30;
constexpr std::size_t kFieldSettingBytes = 90;
// A field key's slot: a length byte and at most kMaxFieldKeyBytes bytes
// (the keys are those the exchange file's field descriptors carry).
constexpr std::size_t kFieldKeySlotBytes = kMaxFieldKeyBytes + 1;
constexpr std::size_t kMaxValueListNameBytes = 5;

constexpr std::int16_t kSyncSettingsVersion = 2;
constexpr std::int16_t kFieldSettingsVersion = 1;

constexpr std::int32_t kSelectAllRecords = 1;
constexpr std::int32_t kSelectCurrentRecords = 0;

constexpr std::int32_t kKeepBoth = 1;
constexpr std::int32_t kHandheldWins = 2;
constexpr std::int32_t kDesktopWins = 3;

// Display styles of a field on the handheld.
constexpr std::uint16_t kStyleEditBox = 0;
constexpr std::uint16_t kStyleDropDownList = 1;
constexpr std::uint16_t kStyleDropDownCombo = 2;
constexpr std::uint16_t kStyleCheckBox = 3;
constexpr std::uint16_t kStyleZoomBox = 5;
// Option flags.
constexpr std::uint16_t kOptionEntryLocked = 0x0001;
constexpr std::uint16_t kOptionCapitalise = 0x0002;

// Whether a display style uses a value list (a list's name is stored only
// for these).
constexpr bool StyleUsesValueList(std::uint16_t style) {
  return style != kStyleEditBox && style != kStyleZoomBox;
}

// "QZP1". A database without the record has these defaults.
struct SyncSettings {
  std::int16_t version = kSyncSettingsVersion;
  std::int32_t recordSelection = kSelectAllRecords;
  std::int32_t conflictRule = kKeepBoth;
  // The chosen fields' keys (the counted bytes, at most 15 each), in
  // handheld order.
  std::vector<std::string> fieldKeys;
};

// One field's entry of "QZP2".
struct FieldSetting {
  std::uint16_t optionFlags = 0;
  std::uint16_t displayStyle = kStyleEditBox;
  std::string key;            // at most kMaxFieldKeyBytes
  std::string valueListName;  // host form, at most kMaxValueListNameBytes
  // The whole stored entry, so that bytes nobody uses are written back as
  // they were read (zero in a new setting).
  std::array<std::uint8_t, kFieldSettingBytes> stored{};
};

// "QZP2".
struct FieldSettings {
  std::int16_t version = kFieldSettingsVersion;
  std::vector<FieldSetting> entries;

  // The first setting of the field with this key, or null.
  const FieldSetting* Find(const std::string& key) const;
  // Replaces the setting with setting.key, or adds it.
  void Put(const FieldSetting& setting);
};

Status DecodeSyncSettings(std::span<const std::uint8_t> bytes, SyncSettings* settings);
// Always kSyncSettingsBytes. kInvalidArgument for more than 50 keys or a
// key longer than 15 bytes.
Status EncodeSyncSettings(const SyncSettings& settings, std::vector<std::uint8_t>* bytes);

Status DecodeFieldSettings(std::span<const std::uint8_t> bytes, FieldSettings* settings);
// kInvalidArgument for a key or value-list name too long for its slot.
Status EncodeFieldSettings(const FieldSettings& settings, std::vector<std::uint8_t>* bytes);

// A field key in its 16-byte slot, the form both records and Tabulon Pro's
// own field keys have: the length byte, the key (cut to 15 bytes), zeros.
void PutFieldKey(std::span<std::uint8_t, kFieldKeySlotBytes> slot, std::string_view key);
// The key in a slot; false (and *key unchanged) when its length byte says
// more than the slot holds.
bool GetFieldKey(std::span<const std::uint8_t, kFieldKeySlotBytes> slot, std::string* key);

}  // namespace tbm::sync
