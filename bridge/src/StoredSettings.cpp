#include "StoredSettings.h"

#include <algorithm>
#include <optional>

namespace tbm::bridge {

Status LoadSettings(const HostCalls& host, TBDatabase db, SyncSettings* settings,
                    FieldSettings* fieldSettings) {
  std::vector<std::uint8_t> bytes;
  bool present = false;
  SyncSettings sync;
  if (Status status = host.ReadPluginData(db, kSyncSettingsKey, &bytes, &present); !status.ok()) {
    return status;
  }
  if (present) {
    if (Status status = DecodeSyncSettings(bytes, &sync); !status.ok()) return status;
  }
  FieldSettings fields;
  if (Status status = host.ReadPluginData(db, kFieldSettingsKey, &bytes, &present); !status.ok()) {
    return status;
  }
  if (present) {
    if (Status status = DecodeFieldSettings(bytes, &fields); !status.ok()) return status;
  }

  std::vector<std::string> kept;
  for (const std::string& key : sync.fieldKeys) {
    if (std::find(kept.begin(), kept.end(), key) != kept.end()) continue;
    std::optional<std::int32_t> field;
    if (Status status = host.FieldByKey(db, key, &field); !status.ok()) return status;
    if (field) kept.push_back(key);
  }
  sync.fieldKeys = std::move(kept);
  *settings = std::move(sync);
  *fieldSettings = std::move(fields);
  return Status();
}

Status StoreSettings(const HostCalls& host, TBDatabase db, const SyncSettings& settings,
                     const FieldSettings& fieldSettings) {
  std::vector<std::uint8_t> syncBytes;
  std::vector<std::uint8_t> fieldBytes;
  if (Status status = EncodeSyncSettings(settings, &syncBytes); !status.ok()) return status;
  if (Status status = EncodeFieldSettings(fieldSettings, &fieldBytes); !status.ok()) return status;
  if (Status status = host.WritePluginData(db, kSyncSettingsKey, syncBytes); !status.ok()) {
    return status;
  }
  return host.WritePluginData(db, kFieldSettingsKey, fieldBytes);
}

}  // namespace tbm::bridge
