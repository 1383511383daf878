// The desktop plug-in's settings records as Tabulon Pro hands them back:
// the first byte chooses "QZP1" (even) or "QZP2" (odd), the rest is the
// record.
//
// Beyond ending cleanly: a record that reads holds no more keys than its
// form allows, every key and value-list name fits its slot, and written
// again it reads back the same ("QZP1" always in its full form; "QZP2"
// with the bytes nobody uses as they were).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "SyncSettings.h"

using namespace tbm::sync;

namespace {

void SyncSettingsRecord(std::span<const std::uint8_t> bytes) {
  SyncSettings settings;
  if (!DecodeSyncSettings(bytes, &settings).ok()) return;
  const std::size_t limit =
      bytes.size() == kSyncSettingsBytes ? kMaxChosenFields : kOldMaxChosenFields;
  if (settings.fieldKeys.size() > limit) std::abort();
  for (const std::string& key : settings.fieldKeys) {
    if (key.size() > kMaxFieldKeyBytes) std::abort();
  }
  std::vector<std::uint8_t> written;
  if (!EncodeSyncSettings(settings, &written).ok() || written.size() != kSyncSettingsBytes) {
    std::abort();
  }
  SyncSettings again;
  if (!DecodeSyncSettings(written, &again).ok() || again.version != settings.version ||
      again.recordSelection != settings.recordSelection ||
      again.conflictRule != settings.conflictRule || again.fieldKeys != settings.fieldKeys) {
    std::abort();
  }
}

void FieldSettingsRecord(std::span<const std::uint8_t> bytes) {
  FieldSettings settings;
  if (!DecodeFieldSettings(bytes, &settings).ok()) return;
  if (6 + settings.entries.size() * kFieldSettingBytes > bytes.size()) std::abort();
  for (const FieldSetting& entry : settings.entries) {
    if (entry.key.size() > kMaxFieldKeyBytes ||
        entry.valueListName.size() > kMaxValueListNameBytes) {
      std::abort();
    }
  }
  std::vector<std::uint8_t> written;
  if (!EncodeFieldSettings(settings, &written).ok()) std::abort();
  FieldSettings again;
  if (!DecodeFieldSettings(written, &again).ok() || again.version != settings.version ||
      again.entries.size() != settings.entries.size()) {
    std::abort();
  }
  for (std::size_t i = 0; i < settings.entries.size(); ++i) {
    const FieldSetting& a = settings.entries[i];
    const FieldSetting& b = again.entries[i];
    // Bytes 4 to 67, which nobody uses, come back as they were.
    if (a.key != b.key || a.valueListName != b.valueListName || a.optionFlags != b.optionFlags ||
        a.displayStyle != b.displayStyle ||
        !std::equal(a.stored.begin() + 4, a.stored.begin() + 68, b.stored.begin() + 4)) {
      std::abort();
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::span<const std::uint8_t> record(data + 1, size - 1);
  if (data[0] % 2 == 0) {
    SyncSettingsRecord(record);
  } else {
    FieldSettingsRecord(record);
  }
  return 0;
}
