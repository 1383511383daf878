// Writing the records changed on the handheld into an exchange file
// ("TBSC.sdb"), from which the desktop takes the handheld's side of a
// synchronisation.
#pragma once

#include <string>

#include "AnsiText.h"
#include "ByteStream.h"
#include "DatabaseStore.h"
#include "Status.h"

namespace tbm::sync {

// The change code a record's state stands for: 0 unchanged (bit 0 clear),
// else 1 new (bit 2), 2 deleted (bit 1), 3 modified.
std::int16_t ChangeCodeOf(std::uint8_t state);

// Writes the exchange file of store's gathered changes to sink: the header
// with databaseName (ANSI bytes) and the counts, no value lists, one
// descriptor per field (type, name, key; the desktop's words 0, no value
// list) and each changed record with its change code, identity and texts.
// Opens and closes the schema and data tables of store's environment. The
// first failure stops the export; the file is then not to be used.
Status ExportChanges(DatabaseStore& store, const std::string& databaseName, AnsiCodePage& codePage,
                     ByteSink& sink);

}  // namespace tbm::sync
