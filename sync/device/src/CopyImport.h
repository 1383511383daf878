// Rebuilding a handheld database from the desktop's complete copy (the
// content of "TBSS.sdb" as it arrives through the invocation stream), or
// creating a new database from it.
#pragma once

#include <cstdint>
#include <functional>

#include "AnsiText.h"
#include "ByteStream.h"
#include "DatabaseStore.h"
#include "Status.h"

namespace tbm::sync {

enum class ImportMode {
  kRebuild,  // the database is open in the store; its content is replaced
  kCreate,   // a new database is made at the path its name maps to
};

struct ImportResult {
  Status status;  // success, or what stopped the import
  // Records the desktop sent unchanged (change code 0); they are not added.
  std::int32_t skipped = 0;
  // The database was marked inconsistent: it is consistent again only when
  // the import succeeded.
  bool touched = false;
  // Reading or writing the stream failed: the conversation is over.
  bool streamFailed = false;
};

// Reads the desktop's copy from source and rebuilds (or creates) the
// database in store:
//  1. the header, value-list count and field descriptors;
//  2. (creating: the database is made at the path its name maps to, and is
//     refused when a file is already there;) the database is marked
//     inconsistent;
//  3. the schema and field options are replaced, keeping the list-view
//     settings of fields recognised by key when rebuilding;
//  4. when creating, or when the fields changed, the attributes are
//     written anew with the desktop's date and time formats;
//  5. the name echo goes to `echo`: an i32 n + 1, then the name's length
//     byte and its n bytes;
//  6. the value lists are replaced when the copy has any;
//  7. when rebuilding, every record and the delete history are removed;
//     then each new record (change code 1) is added clean with its
//     identity, unchanged ones (0) are counted as skipped, and any other
//     code, a text too long for its field, text that does not convert or
//     the record limit stops the import.
// The caller marks the database consistent again when the import succeeded
// and leaves it inconsistent otherwise. `marked`, when given, is called once
// the mark of step 2 is durable: from then on a database the import leaves
// unfinished is refused by the handheld program.
ImportResult ImportDesktopCopy(DatabaseStore& store, ImportMode mode, ByteSource& source,
                               ByteSink& echo, AnsiCodePage& codePage,
                               const std::function<void()>& marked = {});

}  // namespace tbm::sync
