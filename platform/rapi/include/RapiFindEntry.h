// One entry of a folder listing as the file calls of the remote API carry
// it (kFindFirstFile, kFindNextFile): the one writer and reader of its
// bytes, used by the handheld's service and by the desktop.
//
// Layout, after the values before it in the payload:
//   4  attributes
//   8  creation time, 8 last access time, 8 last write time (FILETIME as
//      one integer, low half first)
//   8  size in bytes
//   4  object identifier
//   string  the entry's name (at most MAX_PATH - 1 units)
#pragma once

#include <cstdint>
#include <string>

#include "RapiFrame.h"
#include "WinTypes.h"

namespace tbm::rapi {

struct FindEntry {
  DWORD attributes = 0;
  FILETIME creationTime{};
  FILETIME lastAccessTime{};
  FILETIME lastWriteTime{};
  std::uint64_t size = 0;
  DWORD oid = 0;
  std::u16string name;
};

// The longest entry name carried, in UTF-16 units (MAX_PATH less the
// terminator).
inline constexpr std::uint32_t kMaxEntryNameUnits = 259;

void WriteFindEntry(PayloadWriter& writer, const FindEntry& entry);
// Reads one entry; false (with reader.status() saying why) when the bytes
// are not one, leaving *entry alone.
bool ReadFindEntry(PayloadReader& reader, FindEntry* entry);

}  // namespace tbm::rapi
