#include "DatabaseList.h"

#include <algorithm>
#include <cstring>

namespace tbm::sync {

namespace {

constexpr std::size_t kKind = 0;
constexpr std::size_t kName = 1;
constexpr std::size_t kNameSlot = 260;
constexpr std::size_t kPath = 262;  // after one padding byte
constexpr std::size_t kPathSlotUnits = 260;
static_assert(kPath + 2 * kPathSlotUnits == kDatabaseListEntryBytes);

}  // namespace

std::optional<std::vector<std::uint8_t>> EncodeDatabaseList(
    const std::vector<DatabaseListEntry>& entries) {
  if (entries.size() > kDatabaseListEntries) return std::nullopt;
  std::vector<std::uint8_t> bytes(kDatabaseListBytes, 0);
  bytes[0] = static_cast<std::uint8_t>(entries.size());
  bytes[1] = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const DatabaseListEntry& e = entries[i];
    if (e.name.size() > kDatabaseListNameBytes || e.path.size() > kDatabaseListPathUnits ||
        e.name.find('\0') != std::string::npos || e.path.find(u'\0') != std::u16string::npos) {
      return std::nullopt;
    }
    std::uint8_t* entry = bytes.data() + 2 + i * kDatabaseListEntryBytes;
    entry[kKind] = e.kind;
    std::memcpy(entry + kName, e.name.data(), e.name.size());
    for (std::size_t u = 0; u < e.path.size(); ++u) {
      entry[kPath + 2 * u] = static_cast<std::uint8_t>(e.path[u]);
      entry[kPath + 2 * u + 1] = static_cast<std::uint8_t>(e.path[u] >> 8);
    }
  }
  return bytes;
}

std::optional<std::vector<DatabaseListEntry>> DecodeDatabaseList(const std::uint8_t* bytes,
                                                                 std::size_t size) {
  if (bytes == nullptr || size < kDatabaseListBytes) return std::nullopt;
  const auto count = static_cast<std::int16_t>(bytes[0] | (bytes[1] << 8));
  if (count < 0 || static_cast<std::size_t>(count) > kDatabaseListEntries) return std::nullopt;
  std::vector<DatabaseListEntry> entries(static_cast<std::size_t>(count));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint8_t* entry = bytes + 2 + i * kDatabaseListEntryBytes;
    entries[i].kind = entry[kKind];
    const auto* name = reinterpret_cast<const char*>(entry + kName);
    entries[i].name.assign(name, std::find(name, name + kNameSlot, '\0'));
    for (std::size_t u = 0; u < kPathSlotUnits; ++u) {
      const char16_t c =
          static_cast<char16_t>(entry[kPath + 2 * u] | (entry[kPath + 2 * u + 1] << 8));
      if (c == 0) break;
      entries[i].path.push_back(c);
    }
  }
  return entries;
}

}  // namespace tbm::sync
