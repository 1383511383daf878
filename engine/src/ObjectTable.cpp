#include "ObjectTable.h"

#include <cstring>

#include "FrameCalls.h"
#include "Guard.h"
#include "Utf16.h"

namespace tbm::engine {

WorkBuffer AllocateZeroed(std::size_t bytes) {
  WorkBuffer buffer(static_cast<BYTE*>(std::calloc(bytes == 0 ? 2 : bytes, 1)));
  if (!buffer) NoteOutOfMemory();
  return buffer;
}

std::int32_t ReadProperties(HANDLE table, const CEPROPID* ids, WORD count, PropertyRead* out) {
  WORD asked = count;
  BYTE* none = nullptr;
  DWORD needed = 0;
  if (CeReadRecordPropsEx(table, 0, &asked, ids, &none, &needed, nullptr) != 0 ||
      LastStoreError() != ERROR_INSUFFICIENT_BUFFER) {
    return MDbErrFailed;
  }
  out->buffer = AllocateZeroed(needed);
  if (!out->buffer) return MDbErrFailed;
  out->size = needed;
  BYTE* buffer = out->buffer.get();
  asked = count;
  if (CeReadRecordPropsEx(table, 0, &asked, ids, &buffer, &needed, nullptr) == 0) {
    return MDbErrFailed;
  }
  const auto* values = out->value();
  for (WORD i = 0; i < asked; ++i) {
    if (values[i].wFlags & CEDB_PROPNOTFOUND) return MDbErrFailed;
  }
  return MDbErrNone;
}

std::int32_t SeekEntry(MDbRef* ref, std::uint16_t kind, std::uint16_t index) {
  if (ref == nullptr || !ref->objOpen) return MDbErrFailed;
  CEPROPVAL key{};
  key.propid = kObjKeyProp;
  key.val.ulVal = ObjKey(kind, index);
  return CeSeekDatabase(ref->objHandle, CEDB_SEEK_VALUEFIRSTEQUAL,
                        reinterpret_cast<std::uintptr_t>(&key), nullptr) != 0
             ? MDbErrNone
             : MDbErrFailed;
}

std::int32_t ReadEntry(MDbRef* ref, std::uint16_t kind, std::uint16_t index, CEPROPID id,
                       PropertyRead* out) {
  if (SeekEntry(ref, kind, index) != MDbErrNone) return MDbErrFailed;
  return ReadProperties(ref->objHandle, &id, 1, out);
}

std::int32_t ReadEntryU32(MDbRef* ref, std::uint16_t kind, std::uint16_t index, CEPROPID id,
                          std::uint32_t* value) {
  PropertyRead read;
  if (TypeFromPropId(id) != CEVT_UI4 || ReadEntry(ref, kind, index, id, &read) != MDbErrNone) {
    return MDbErrFailed;
  }
  *value = read.value()->val.ulVal;
  return MDbErrNone;
}

std::int32_t ReadEntryBlock(MDbRef* ref, std::uint16_t kind, std::uint16_t index, CEPROPID id,
                            void* out, std::uint32_t bytes) {
  PropertyRead read;
  if (TypeFromPropId(id) != CEVT_BLOB || ReadEntry(ref, kind, index, id, &read) != MDbErrNone) {
    return MDbErrFailed;
  }
  const CEBLOB& blob = read.value()->val.blob;
  if (blob.dwCount != bytes) return MDbErrFailed;
  std::memcpy(out, blob.lpb, bytes);
  return MDbErrNone;
}

std::int32_t WriteEntry(MDbRef* ref, std::uint16_t kind, std::uint16_t index, CEPROPVAL* values,
                        WORD count) {
  if (ref == nullptr || !ref->objOpen) return MDbErrFailed;
  if (SeekEntry(ref, kind, index) == MDbErrNone) {
    const CEOID oid = CeSeekDatabase(ref->objHandle, CEDB_SEEK_CURRENT, 0, nullptr);
    if (oid == 0) return MDbErrFailed;
    return CeWriteRecordProps(ref->objHandle, oid, count, values) != 0 ? MDbErrNone : MDbErrFailed;
  }
  // A new entry: the key first, then the given properties, in one call.
  auto props = std::make_unique<CEPROPVAL[]>(count + 1u);
  props[0].propid = kObjKeyProp;
  props[0].val.ulVal = ObjKey(kind, index);
  for (WORD i = 0; i < count; ++i) props[i + 1u] = values[i];
  return CeWriteRecordProps(ref->objHandle, 0, static_cast<WORD>(count + 1), props.get()) != 0
             ? MDbErrNone
             : MDbErrFailed;
}

std::int32_t WriteBlockAndName(MDbRef* ref, std::uint16_t kind, std::uint16_t index,
                               CEPROPID blockId, const std::uint8_t* block, std::uint32_t bytes,
                               CEPROPID nameId, const char16_t* name) {
  CEPROPVAL values[2]{};
  values[0].propid = blockId;
  values[0].val.blob.dwCount = bytes;
  values[0].val.blob.lpb = const_cast<std::uint8_t*>(block);  // the store only reads both
  values[1].propid = nameId;
  values[1].val.lpwstr = const_cast<char16_t*>(name);
  return WriteEntry(ref, kind, index, values, 2);
}

std::int32_t CountEntries(MDbRef* ref, std::uint16_t kind, std::uint16_t* count) {
  if (ref == nullptr || !ref->objOpen || count == nullptr) return MDbErrFailed;
  std::uint16_t n = 0;
  if (SeekEntry(ref, kind, 0) == MDbErrNone) {
    n = 1;
    CEPROPVAL key{};
    key.propid = kObjKeyProp;
    while (n < 0xFFFF) {
      key.val.ulVal = ObjKey(kind, n);
      if (CeSeekDatabase(ref->objHandle, CEDB_SEEK_VALUENEXTEQUAL,
                         reinterpret_cast<std::uintptr_t>(&key), nullptr) == 0) {
        break;
      }
      ++n;
    }
  }
  *count = n;
  return MDbErrNone;
}

std::int32_t DeleteEntries(MDbRef* ref, std::uint16_t kind) {
  if (ref == nullptr || !ref->objOpen) return MDbErrFailed;
  for (std::uint32_t index = 0; index <= 0xFFFF; ++index) {
    if (SeekEntry(ref, kind, static_cast<std::uint16_t>(index)) != MDbErrNone) break;
    const CEOID oid = CeSeekDatabase(ref->objHandle, CEDB_SEEK_CURRENT, 0, nullptr);
    if (oid == 0 || !CeDeleteRecord(ref->objHandle, oid)) return MDbErrFailed;
  }
  return MDbErrNone;
}

void ResetObjectTable(MDbRef* ref) {
  tbm::CopyUtf16Cut(ref->objName, sizeof ref->objName, u"OBJG_0");
  ref->objOid = 0;
  ref->objOpen = 0;
  ref->objHandle = nullptr;
}

std::int32_t OpenObjectTable(MDbRef* ref) {
  CEOID oid = 0;
  HANDLE h = CeOpenDatabaseEx(&ref->volume, &oid, ref->objName, kObjKeyProp, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return MDbErrFailed;
  ref->objHandle = h;
  ref->objOid = oid;
  ref->objOpen = 1;
  return MDbErrNone;
}

}  // namespace tbm::engine
