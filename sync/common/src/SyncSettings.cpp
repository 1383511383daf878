#include "SyncSettings.h"

#include <algorithm>

namespace tbm::sync {
namespace {

// "QZP1"
constexpr std::size_t kVersionOffset = 0;
constexpr std::size_t kSelectionOffset = 2;
constexpr std::size_t kConflictRuleOffset = 6;
constexpr std::size_t kKeyCountOffset = 10;
constexpr std::size_t kKeysOffset = 12;

// "QZP2"
constexpr std::size_t kEntryCountOffset = 2;
constexpr std::size_t kEntriesOffset = 6;
constexpr std::size_t kOptionFlagsOffset = 0;
constexpr std::size_t kDisplayStyleOffset = 2;
constexpr std::size_t kEntryKeyOffset = 68;
constexpr std::size_t kValueListNameOffset = 84;
constexpr std::size_t kValueListNameSlot = kMaxValueListNameBytes + 1;

std::uint16_t GetU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }
std::int32_t GetI32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 24 |
                                   static_cast<std::uint32_t>(p[1]) << 16 |
                                   static_cast<std::uint32_t>(p[2]) << 8 | p[3]);
}
void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}
void PutI32(std::uint8_t* p, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  p[0] = static_cast<std::uint8_t>(u >> 24);
  p[1] = static_cast<std::uint8_t>(u >> 16);
  p[2] = static_cast<std::uint8_t>(u >> 8);
  p[3] = static_cast<std::uint8_t>(u);
}

Status Damaged(const char* record, const std::string& sentence) {
  return Status(StatusCode::kDamaged,
                std::string("the stored settings \"") + record + "\" " + sentence);
}

// "<what> '<text>' has n bytes; its slot holds at most most", or success.
Status CheckFits(const std::string& what, std::string_view text, std::size_t most) {
  if (text.size() <= most) return Status();
  return Status(StatusCode::kInvalidArgument,
                what + " '" + std::string(text) + "' has " + std::to_string(text.size()) +
                    " bytes; its slot holds at most " + std::to_string(most));
}

// A counted string in a slot of slot bytes; false when its length byte
// says more than the slot holds.
bool GetCounted(const std::uint8_t* p, std::size_t slot, std::string* text) {
  if (p[0] > slot - 1) return false;
  text->assign(reinterpret_cast<const char*>(p + 1), p[0]);
  return true;
}

// text, no longer than slot - 1 bytes, with its length byte; the rest of
// the slot zero.
void PutCounted(std::uint8_t* p, std::size_t slot, std::string_view text) {
  std::fill(p, p + slot, 0);
  p[0] = static_cast<std::uint8_t>(text.size());
  std::copy(text.begin(), text.end(), p + 1);
}

}  // namespace

const FieldSetting* FieldSettings::Find(const std::string& key) const {
  for (const FieldSetting& entry : entries) {
    if (entry.key == key) return &entry;
  }
  return nullptr;
}

void FieldSettings::Put(const FieldSetting& setting) {
  for (FieldSetting& entry : entries) {
    if (entry.key == setting.key) {
      entry = setting;
      return;
    }
  }
  entries.push_back(setting);
}

Status DecodeSyncSettings(std::span<const std::uint8_t> bytes, SyncSettings* settings) {
  if (bytes.size() != kSyncSettingsBytes && bytes.size() != kOldSyncSettingsBytes) {
    return Damaged("QZP1", "have " + std::to_string(bytes.size()) + " bytes, not " +
                               std::to_string(kSyncSettingsBytes) + " or " +
                               std::to_string(kOldSyncSettingsBytes));
  }
  const std::uint8_t* p = bytes.data();
  const std::size_t limit =
      bytes.size() == kSyncSettingsBytes ? kMaxChosenFields : kOldMaxChosenFields;
  const auto count = static_cast<std::int16_t>(GetU16(p + kKeyCountOffset));
  if (count < 0 || static_cast<std::size_t>(count) > limit) {
    return Damaged("QZP1",
                   "name " + std::to_string(count) + " fields, not 0 to " + std::to_string(limit));
  }
  SyncSettings read;
  read.version = static_cast<std::int16_t>(GetU16(p + kVersionOffset));
  read.recordSelection = GetI32(p + kSelectionOffset);
  read.conflictRule = GetI32(p + kConflictRuleOffset);
  for (int i = 0; i < count; ++i) {
    std::string key;
    if (!GetCounted(p + kKeysOffset + i * kFieldKeySlotBytes, kFieldKeySlotBytes, &key)) {
      return Damaged("QZP1", "hold field key " + std::to_string(i + 1) +
                                 " with a length byte larger than its slot");
    }
    read.fieldKeys.push_back(std::move(key));
  }
  *settings = std::move(read);
  return Status();
}

Status EncodeSyncSettings(const SyncSettings& settings, std::vector<std::uint8_t>* bytes) {
  if (settings.fieldKeys.size() > kMaxChosenFields) {
    return Status(StatusCode::kInvalidArgument,
                  std::to_string(settings.fieldKeys.size()) +
                      " fields are chosen for the handheld; it takes at most " +
                      std::to_string(kMaxChosenFields));
  }
  std::vector<std::uint8_t> out(kSyncSettingsBytes, 0);
  PutU16(&out[kVersionOffset], static_cast<std::uint16_t>(settings.version));
  PutI32(&out[kSelectionOffset], settings.recordSelection);
  PutI32(&out[kConflictRuleOffset], settings.conflictRule);
  PutU16(&out[kKeyCountOffset], static_cast<std::uint16_t>(settings.fieldKeys.size()));
  for (std::size_t i = 0; i < settings.fieldKeys.size(); ++i) {
    if (Status status = CheckFits("field key " + std::to_string(i + 1), settings.fieldKeys[i],
                                  kMaxFieldKeyBytes);
        !status.ok()) {
      return status;
    }
    PutCounted(&out[kKeysOffset + i * kFieldKeySlotBytes], kFieldKeySlotBytes,
               settings.fieldKeys[i]);
  }
  *bytes = std::move(out);
  return Status();
}

Status DecodeFieldSettings(std::span<const std::uint8_t> bytes, FieldSettings* settings) {
  if (bytes.size() < kEntriesOffset) {
    return Damaged("QZP2", "have " + std::to_string(bytes.size()) + " bytes, fewer than their " +
                               std::to_string(kEntriesOffset) + "-byte head");
  }
  const std::int32_t count = GetI32(bytes.data() + kEntryCountOffset);
  const std::size_t room = (bytes.size() - kEntriesOffset) / kFieldSettingBytes;
  if (count < 0 || static_cast<std::size_t>(count) > room) {
    return Damaged("QZP2", "say they hold " + std::to_string(count) + " field settings, but " +
                               std::to_string(bytes.size()) + " bytes hold at most " +
                               std::to_string(room));
  }
  FieldSettings read;
  read.version = static_cast<std::int16_t>(GetU16(bytes.data()));
  for (std::int32_t i = 0; i < count; ++i) {
    const std::uint8_t* p = bytes.data() + kEntriesOffset + i * kFieldSettingBytes;
    FieldSetting entry;
    std::copy(p, p + kFieldSettingBytes, entry.stored.begin());
    entry.optionFlags = GetU16(p + kOptionFlagsOffset);
    entry.displayStyle = GetU16(p + kDisplayStyleOffset);
    if (!GetCounted(p + kEntryKeyOffset, kFieldKeySlotBytes, &entry.key) ||
        !GetCounted(p + kValueListNameOffset, kValueListNameSlot, &entry.valueListName)) {
      return Damaged("QZP2", "hold field setting " + std::to_string(i + 1) +
                                 " with a length byte larger than its slot");
    }
    read.entries.push_back(std::move(entry));
  }
  *settings = std::move(read);
  return Status();
}

Status EncodeFieldSettings(const FieldSettings& settings, std::vector<std::uint8_t>* bytes) {
  std::vector<std::uint8_t> out(kEntriesOffset + settings.entries.size() * kFieldSettingBytes, 0);
  PutU16(out.data(), static_cast<std::uint16_t>(settings.version));
  PutI32(out.data() + kEntryCountOffset, static_cast<std::int32_t>(settings.entries.size()));
  for (std::size_t i = 0; i < settings.entries.size(); ++i) {
    const FieldSetting& entry = settings.entries[i];
    const std::string which = "field setting " + std::to_string(i + 1) + ": ";
    if (Status status = CheckFits(which + "the key", entry.key, kMaxFieldKeyBytes); !status.ok()) {
      return status;
    }
    if (Status status =
            CheckFits(which + "the value list's name", entry.valueListName, kMaxValueListNameBytes);
        !status.ok()) {
      return status;
    }
    std::uint8_t* p = out.data() + kEntriesOffset + i * kFieldSettingBytes;
    std::copy(entry.stored.begin(), entry.stored.end(), p);
    PutU16(p + kOptionFlagsOffset, entry.optionFlags);
    PutU16(p + kDisplayStyleOffset, entry.displayStyle);
    PutCounted(p + kEntryKeyOffset, kFieldKeySlotBytes, entry.key);
    PutCounted(p + kValueListNameOffset, kValueListNameSlot, entry.valueListName);
  }
  *bytes = std::move(out);
  return Status();
}

void PutFieldKey(std::span<std::uint8_t, kFieldKeySlotBytes> slot, std::string_view key) {
  PutCounted(slot.data(), slot.size(), key.substr(0, kMaxFieldKeyBytes));
}

bool GetFieldKey(std::span<const std::uint8_t, kFieldKeySlotBytes> slot, std::string* key) {
  return GetCounted(slot.data(), slot.size(), key);
}

}  // namespace tbm::sync
