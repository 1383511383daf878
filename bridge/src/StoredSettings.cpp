#include "StoredSettings.h"

#include <algorithm>
#include <optional>

namespace tbm::bridge {
namespace {

static_assert(sync::kSyncSettingsKey == TB_FOURCC('Q', 'Z', 'P', '1'));
static_assert(sync::kFieldSettingsKey == TB_FOURCC('Q', 'Z', 'P', '2'));

// A damaged record, and what the person at the desktop can do about it.
Status Damaged(const Status& status) {
  return Status(status.code(), status.message() + "; choose the fields again in the settings");
}

}  // namespace

Status LoadSettings(const HostCalls& host, TBDatabase db, SyncSettings* settings,
                    FieldSettings* fieldSettings) {
  std::vector<std::uint8_t> bytes;
  bool present = false;
  SyncSettings chosen;
  if (Status status = host.ReadPluginData(db, sync::kSyncSettingsKey, &bytes, &present);
      !status.ok()) {
    return status;
  }
  if (present) {
    if (Status status = sync::DecodeSyncSettings(bytes, &chosen); !status.ok()) {
      return Damaged(status);
    }
  }
  FieldSettings fields;
  if (Status status = host.ReadPluginData(db, sync::kFieldSettingsKey, &bytes, &present);
      !status.ok()) {
    return status;
  }
  if (present) {
    if (Status status = sync::DecodeFieldSettings(bytes, &fields); !status.ok()) {
      return Damaged(status);
    }
  }

  std::vector<std::string> kept;
  for (const std::string& key : chosen.fieldKeys) {
    if (std::find(kept.begin(), kept.end(), key) != kept.end()) continue;
    std::optional<std::int32_t> field;
    if (Status status = host.FieldByKey(db, key, &field); !status.ok()) return status;
    if (field) kept.push_back(key);
  }
  chosen.fieldKeys = std::move(kept);
  *settings = std::move(chosen);
  *fieldSettings = std::move(fields);
  return Status();
}

Status StoreSettings(const HostCalls& host, TBDatabase db, const SyncSettings& settings,
                     const FieldSettings& fieldSettings) {
  std::vector<std::uint8_t> syncBytes;
  std::vector<std::uint8_t> fieldBytes;
  if (Status status = sync::EncodeSyncSettings(settings, &syncBytes); !status.ok()) return status;
  if (Status status = sync::EncodeFieldSettings(fieldSettings, &fieldBytes); !status.ok())
    return status;
  if (Status status = host.WritePluginData(db, sync::kSyncSettingsKey, syncBytes); !status.ok()) {
    return status;
  }
  return host.WritePluginData(db, sync::kFieldSettingsKey, fieldBytes);
}

}  // namespace tbm::bridge
