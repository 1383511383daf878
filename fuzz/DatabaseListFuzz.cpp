// The database list as the desktop receives it from the handheld: a count
// and a fixed table of 50 entries. An input shorter than the list stands
// for the list's first bytes and the rest zeros (the table is 39,102 bytes,
// more than a fuzz input usually is); the input as it is must be refused
// when it is short.
//
// Beyond ending cleanly: every decoded name and path lies within its slot
// and holds no NUL, and a list whose entries fit the encoder (a slot with
// room for the terminator) encodes again to bytes that decode to the same
// entries.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DatabaseList.h"

using namespace tbm::sync;

namespace {

bool SameEntries(const std::vector<DatabaseListEntry>& a, const std::vector<DatabaseListEntry>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].name != b[i].name || a[i].path != b[i].path) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto asItIs = DecodeDatabaseList(data, size);
  if (size < kDatabaseListBytes && asItIs) std::abort();

  std::vector<std::uint8_t> list(std::max(size, kDatabaseListBytes), 0);
  if (size > 0) std::memcpy(list.data(), data, size);
  const auto decoded = DecodeDatabaseList(list.data(), list.size());
  if (!decoded) return 0;
  bool fits = true;
  for (const DatabaseListEntry& e : *decoded) {
    if (e.name.size() > kDatabaseListNameBytes + 1 || e.path.size() > kDatabaseListPathUnits + 1 ||
        e.name.find('\0') != std::string::npos || e.path.find(u'\0') != std::u16string::npos) {
      std::abort();
    }
    fits =
        fits && e.name.size() <= kDatabaseListNameBytes && e.path.size() <= kDatabaseListPathUnits;
  }
  if (!fits) return 0;  // a slot without its terminator ends at the slot
  const auto encoded = EncodeDatabaseList(*decoded);
  if (!encoded || encoded->size() != kDatabaseListBytes) std::abort();
  const auto again = DecodeDatabaseList(encoded->data(), encoded->size());
  if (!again || !SameEntries(*decoded, *again)) std::abort();
  return 0;
}
