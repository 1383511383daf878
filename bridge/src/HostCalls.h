// Tabulon Pro's services as the plug-in calls them: every call's result
// checked, texts of any length read whole, and failures turned into a
// Status that carries the host's own words (TBHostServices::lastError).
//
// The table stays the host's; HostCalls only borrows it. Texts are in the
// host's byte form (HostExchangeText.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Status.h"
#include "TBExtern.h"

namespace tbm::bridge {

// "TBCP" flag bits the plug-in asks about.
constexpr std::uint32_t kFlagSettingsAllowed = 1u << 3;     // clear: no settings dialog
constexpr std::uint32_t kFlagSynchronises = 1u << 9;        // may be merged and exported
constexpr std::uint32_t kFlagSettingsLocked = 1u << 18;     // set: no settings dialog
constexpr std::uint32_t kFlagListedForHandheld = 1u << 21;  // listed on type 2

class HostCalls {
 public:
  // REQUIRES: services outlives this object.
  explicit HostCalls(const TBHostServices& services) : services_(services) {}

  const TBHostServices& services() const { return services_; }

  // A failed status for a call that returned result (a TB_ERR_ code),
  // naming what was being done and the host's own words.
  Status Failure(const std::string& doing, std::int32_t result) const;
  // Success for results >= 0, else Failure.
  Status Check(const std::string& doing, std::int32_t result) const;

  // The open databases, in the host's order.
  Status OpenDatabases(std::vector<TBDatabase>* databases) const;
  // Whether db is still one of the open databases (a handle kept from an
  // earlier command may have been closed since).
  bool IsOpen(TBDatabase db) const;

  std::uint32_t SyncFlags(TBDatabase db) const {
    return services_.queryFlags(db, TB_QUERY_SYNC_FLAGS);
  }
  Status DatabaseName(TBDatabase db, std::string* name) const;
  Status FieldName(TBDatabase db, std::int32_t field, std::string* name) const;
  Status FieldText(TBDatabase db, std::int32_t field, std::string* text) const;
  Status ValueListName(TBDatabase db, std::int32_t index, std::string* name) const;
  // *text empty and *found false when the database has no list of that name.
  Status ValueListText(TBDatabase db, const std::string& name, std::string* text,
                       bool* found) const;

  // The plug-in data under key; *present false (and *bytes empty) when the
  // database has none.
  Status ReadPluginData(TBDatabase db, std::uint32_t key, std::vector<std::uint8_t>* bytes,
                        bool* present) const;
  Status WritePluginData(TBDatabase db, std::uint32_t key,
                         const std::vector<std::uint8_t>& bytes) const;

  // The host field a key names, or nothing when it names none.
  Status FieldByKey(TBDatabase db, const std::string& key,
                    std::optional<std::int32_t>* field) const;

 private:
  // Reads a text through a call that copies size - 1 bytes and returns the
  // whole length, asking again with a buffer large enough. doing says, for
  // a failure, what was being read.
  Status ReadWhole(const std::function<std::string()>& doing,
                   const std::function<std::int32_t(char*, std::int32_t)>& call,
                   std::string* text) const;

  const TBHostServices& services_;
};

// A field key as the host takes it: the counted string in its 16 bytes,
// the form the settings records keep keys in (SyncSettings.h).
TBFieldKey ToHostFieldKey(const std::string& key);
// The counted bytes of a host field key into *key; false (and *key
// unchanged) when its length byte says more than the slot holds.
bool FromHostFieldKey(const TBFieldKey& hostKey, std::string* key);

}  // namespace tbm::bridge
