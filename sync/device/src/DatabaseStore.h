// What one synchronisation call holds of a handheld database: an engine
// environment of its own with the database's reference and tables, the
// database's path and name, and the list of records changed on the
// handheld. Nothing survives the call: the environment's owner closes
// whatever is still open and stops the engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "EngineEnvironment.h"
#include "MDb.h"

namespace tbm::sync {

// A record changed on the handheld: its state byte and its identifier in
// the data table, or in the delete table when the state says deleted.
struct ChangeEntry {
  std::uint8_t state = 0;
  std::uint32_t oid = 0;
};

class DatabaseStore {
 public:
  DatabaseStore();
  DatabaseStore(const DatabaseStore&) = delete;
  DatabaseStore& operator=(const DatabaseStore&) = delete;

  // The engine started (without the word-break library, which
  // synchronisation does not need).
  bool started() const { return engine_.started(); }
  MDbEnv* env() { return engine_.env(); }
  bool opened() const { return engine_.opened(); }

  // Opens the existing database at path, its volume only, for the caller
  // to open the tables it needs (a database marked inconsistent included,
  // for a rebuild to repair); or creates a new one there. A failed Open
  // leaves nothing open.
  std::int32_t Open(const std::u16string& path);
  std::int32_t Create(const std::u16string& path);
  // Closes every table still open and the database.
  std::int32_t Close();

  const std::u16string& path() const { return path_; }

  // Collects the records changed on the handheld: every data-table record
  // whose state has bit 0 (modified) set, then every delete-table record
  // whose state has bit 1 (deleted) or bit 0 set, each in table order. A
  // record that cannot be opened or read ends the walk with its failure.
  std::int32_t GatherChanges();
  const std::vector<ChangeEntry>& changes() const { return changes_; }

 private:
  engine::EngineEnvironment engine_;
  std::u16string path_;
  std::vector<ChangeEntry> changes_;
};

}  // namespace tbm::sync
