// Writing a host database's complete copy for the handheld: "TBSS.sdb" in
// the exchange folder, created anew.
//
// The copy holds the fields chosen in the database's settings ("QZP1"),
// in that order, with the display settings of "QZP2"; the value lists
// those fields use, each once, numbered in order of first use; and the
// records of the chosen selection (all records, or the host's current
// selection when the settings say so and it is not empty), at most 5000.
// The header carries the database's name, the full record count beside the
// limited one, and its date and time formats.
//
// The file is written under a temporary name and renamed when complete, so
// "TBSS.sdb" is either a whole copy or absent: a failed export leaves none.
#pragma once

#include <string>

#include "SyncContext.h"

namespace tbm::bridge {

// Exports db into folder/TBSS.sdb. Fails when the database's "TBCP" flags
// do not allow synchronisation (bit 9), its settings are damaged, a host
// call fails (a record identity that cannot travel included), or the file
// cannot be written; the status says which.
Status ExportDatabase(const SyncContext& context, TBDatabase db, const std::string& folder);

}  // namespace tbm::bridge
