// The list of handheld databases the sync agent sends the desktop: a 16-bit
// count, then a fixed table of 50 entries of 782 bytes (39,100 bytes) of
// which the first `count` carry meaning. An entry is a kind byte (0 an
// existing database, 1 a slot for one being created), the database's name
// in the ANSI code page (260 bytes, NUL-terminated), a padding byte, and
// the database file's full handheld path (260 UTF-16 units, little-endian,
// NUL-terminated).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tbm::sync {

inline constexpr std::size_t kDatabaseListEntries = 50;
inline constexpr std::size_t kDatabaseListEntryBytes = 782;
inline constexpr std::size_t kDatabaseListTableBytes =
    kDatabaseListEntries * kDatabaseListEntryBytes;  // 39,100
// The count in front of the table.
inline constexpr std::size_t kDatabaseListBytes = 2 + kDatabaseListTableBytes;
// The most bytes of a name and units of a path an entry holds (without the
// terminator).
inline constexpr std::size_t kDatabaseListNameBytes = 259;
inline constexpr std::size_t kDatabaseListPathUnits = 259;

inline constexpr std::uint8_t kDatabaseExisting = 0;
inline constexpr std::uint8_t kDatabaseBeingCreated = 1;

struct DatabaseListEntry {
  std::uint8_t kind = kDatabaseExisting;
  std::string name;     // ANSI bytes, no NUL
  std::u16string path;  // handheld path
};

// The list's bytes: the count and the whole table, unused entries zero.
// REQUIRES: at most 50 entries, names of at most 259 bytes and paths of at
// most 259 units without NULs; nothing when the entries break that.
std::optional<std::vector<std::uint8_t>> EncodeDatabaseList(
    const std::vector<DatabaseListEntry>& entries);

// Reads a list from its bytes (the count and the table): nothing when there
// are fewer than kDatabaseListBytes bytes or the count is outside 0 to 50.
// A name or path without its terminator inside its slot ends at the slot.
std::optional<std::vector<DatabaseListEntry>> DecodeDatabaseList(const std::uint8_t* bytes,
                                                                 std::size_t size);

}  // namespace tbm::sync
