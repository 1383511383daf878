// tbmdb's commands on existing databases. Each writes its results to
// standard output and returns a failure as one line for the caller to
// print; none leaves a change half made.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Database.h"
#include "Status.h"

namespace tbm::tbmdb {

struct ListOptions {
  engine::Selection selection;
  std::vector<std::string> fields;  // the columns; empty: every field
  bool csv = false;
  std::uint32_t limit = 0;  // show at most this many records; 0: all
};

// The records as an aligned table (with each record's position) or as CSV.
Status ListRecords(const std::string& database, const ListOptions& options);

// Every record as CSV with the typed header "Name:text,...", to file ("-":
// standard output) through a temporary file renamed into place.
Status ExportRecords(const std::string& database, const engine::Selection& selection,
                     const std::string& file);

// The fields, their options and display orders, the attributes, formats and
// value lists.
Status ShowSchema(const std::string& database);

// Each record's synchronisation state and identity block; deletedTable
// shows the delete table's records instead.
Status ShowRecordStates(const std::string& database, const engine::Selection& selection, bool csv,
                        bool deletedTable);

// Opens the database as the handheld program does and says whether it can.
Status CheckDatabase(const std::string& database);

// Adds a record (state: added) with the values given as "Field=value";
// *position receives its position from 1.
Status AddRecord(const std::string& database, const std::vector<std::string>& values,
                 std::uint32_t* position);

// Changes fields of the record at position (from 1) of the selection.
Status SetRecord(const std::string& database, const engine::Selection& selection,
                 std::uint32_t position, const std::vector<std::string>& values);

// Deletes the record at position (from 1) of the selection. Tracked, a
// record the desktop knows is kept in the delete table so the next
// synchronisation deletes it there too; untracked, it just goes.
Status DeleteRecord(const std::string& database, const engine::Selection& selection,
                    std::uint32_t position, bool tracked);

}  // namespace tbm::tbmdb
