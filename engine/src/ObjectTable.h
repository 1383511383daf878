// The object table: entries keyed (kind << 16) | index in property 1, found
// by seeking the key in the table's sort order. Used by every table of the
// engine that lives in the object table (schema, field options, attributes,
// value lists, counters, header, consistency value).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "MDb.h"

namespace tbm::engine {

constexpr CEPROPID kObjKeyProp = PropId(1, CEVT_UI4);

constexpr std::uint32_t ObjKey(std::uint16_t kind, std::uint16_t index) {
  return (static_cast<std::uint32_t>(kind) << 16) | index;
}

// A working buffer from the engine's heap: zero-filled, and a request of 0
// bytes allocates 2, so a buffer always exists once allocated. Null when
// memory runs out (MDbGetFailureCause then says so).
struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using WorkBuffer = std::unique_ptr<BYTE, FreeDeleter>;
WorkBuffer AllocateZeroed(std::size_t bytes);

// A buffer that the store grows with std::realloc (a read with
// CEDB_ALLOWREALLOC), freed when it goes out of scope, also when a store
// call throws.
struct ReallocBuffer {
  BYTE* data = nullptr;
  DWORD bytes = 0;
  ReallocBuffer() = default;
  ReallocBuffer(const ReallocBuffer&) = delete;
  ReallocBuffer& operator=(const ReallocBuffer&) = delete;
  ~ReallocBuffer() { std::free(data); }
};

// A property read from the current record of a store handle by the
// two-step protocol: first asked with no buffer, the needed size taken
// from the insufficient-buffer answer, then read into a buffer of that size.
struct PropertyRead {
  WorkBuffer buffer;
  DWORD size = 0;
  const CEPROPVAL* value() const { return reinterpret_cast<const CEPROPVAL*>(buffer.get()); }
};

// Reads properties ids[0..count) of the store handle's current record.
// MDbErrFailed when the store fails in any other way than asking for a
// buffer, or when a property is missing.
std::int32_t ReadProperties(HANDLE table, const CEPROPID* ids, WORD count, PropertyRead* out);

// Seeks the object table to entry (kind, index). MDbErrFailed when missing.
std::int32_t SeekEntry(MDbRef* ref, std::uint16_t kind, std::uint16_t index);

// Reads property propIndex (type as given) of entry (kind, index).
std::int32_t ReadEntry(MDbRef* ref, std::uint16_t kind, std::uint16_t index, CEPROPID id,
                       PropertyRead* out);

// A 4-byte unsigned property of an entry.
std::int32_t ReadEntryU32(MDbRef* ref, std::uint16_t kind, std::uint16_t index, CEPROPID id,
                          std::uint32_t* value);

// A byte-block property of an entry that must be exactly `bytes` long.
std::int32_t ReadEntryBlock(MDbRef* ref, std::uint16_t kind, std::uint16_t index, CEPROPID id,
                            void* out, std::uint32_t bytes);

// Writes properties of entry (kind, index): overwrites them when the entry
// exists, otherwise creates it with its key.
std::int32_t WriteEntry(MDbRef* ref, std::uint16_t kind, std::uint16_t index, CEPROPVAL* values,
                        WORD count);

// Writes entry (kind, index) as two properties: the byte block of `bytes`
// bytes as blockId and the name as nameId.
std::int32_t WriteBlockAndName(MDbRef* ref, std::uint16_t kind, std::uint16_t index,
                               CEPROPID blockId, const std::uint8_t* block, std::uint32_t bytes,
                               CEPROPID nameId, const char16_t* name);

// Number of entries of kind with consecutive indexes from 0.
std::int32_t CountEntries(MDbRef* ref, std::uint16_t kind, std::uint16_t* count);

// Deletes entries 0, 1, 2 ... of kind until an index is missing.
std::int32_t DeleteEntries(MDbRef* ref, std::uint16_t kind);

// Opens the object table of a mounted volume into ref's descriptor.
std::int32_t OpenObjectTable(MDbRef* ref);
void ResetObjectTable(MDbRef* ref);

}  // namespace tbm::engine
