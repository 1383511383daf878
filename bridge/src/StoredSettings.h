// The plug-in's settings of one database, read from and written to the
// host's plug-in data ("QZP1" and "QZP2", SyncSettings.h).
#pragma once

#include "HostCalls.h"
#include "SyncSettings.h"

namespace tbm::bridge {

using sync::FieldSetting;
using sync::FieldSettings;
using sync::SyncSettings;

// Reads both records. A record the database does not have gives the
// defaults (all records, keep both, no fields; no field settings). Keys
// that no longer name a field of the database are dropped from the chosen
// fields, and so is a key named a second time. A damaged record is an
// error (kDamaged) that says to choose the fields again, so that nothing
// is exported with settings nobody chose.
Status LoadSettings(const HostCalls& host, TBDatabase db, SyncSettings* settings,
                    FieldSettings* fieldSettings);

// Writes both records ("QZP1" always in its full 812-byte form).
Status StoreSettings(const HostCalls& host, TBDatabase db, const SyncSettings& settings,
                     const FieldSettings& fieldSettings);

}  // namespace tbm::bridge
