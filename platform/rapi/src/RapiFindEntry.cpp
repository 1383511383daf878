#include "RapiFindEntry.h"

namespace tbm::rapi {
namespace {

std::uint64_t TimeValue(const FILETIME& time) {
  return static_cast<std::uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

FILETIME TimeFrom(std::uint64_t value) {
  return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

}  // namespace

void WriteFindEntry(PayloadWriter& writer, const FindEntry& entry) {
  writer.U32(entry.attributes)
      .U64(TimeValue(entry.creationTime))
      .U64(TimeValue(entry.lastAccessTime))
      .U64(TimeValue(entry.lastWriteTime))
      .U64(entry.size)
      .U32(entry.oid)
      .String(entry.name);
}

bool ReadFindEntry(PayloadReader& reader, FindEntry* entry) {
  FindEntry read;
  std::uint64_t created = 0, accessed = 0, written = 0;
  if (!reader.U32(&read.attributes) || !reader.U64(&created) || !reader.U64(&accessed) ||
      !reader.U64(&written) || !reader.U64(&read.size) || !reader.U32(&read.oid) ||
      !reader.String(&read.name, kMaxEntryNameUnits)) {
    return false;
  }
  read.creationTime = TimeFrom(created);
  read.lastAccessTime = TimeFrom(accessed);
  read.lastWriteTime = TimeFrom(written);
  *entry = std::move(read);
  return true;
}

}  // namespace tbm::rapi
