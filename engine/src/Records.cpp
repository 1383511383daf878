// Records of the data and delete tables: opening, reading state, identity
// and fields, writing a field, and deleting with or without keeping a copy
// for synchronisation.
#include <cstring>
#include <vector>

#include "DataTable.h"
#include "Guard.h"
#include "ObjectTable.h"
#include "Sequence.h"
#include "Utf16.h"
#include "WriteBatch.h"

using namespace tbm::engine;

namespace {

bool Ready(const MDbEnv* env, const MDbRef* ref) {
  return env != nullptr && env->initialised && ref != nullptr && ref->opened;
}

bool IsOpen(const MDbDataRec* rec) { return rec != nullptr && (rec->flags & MDbDataRecOpen); }

HANDLE TableOf(const MDbDataTbl* tbl, const MDbDataRec* rec) {
  return (rec->flags & MDbDataRecInDeleteTable) ? tbl->deleteHandle : tbl->dataHandle;
}

void FreeLoaded(MDbDataRec* rec) {
  std::free(rec->loaded);
  rec->loaded = nullptr;
  rec->loadedBytes = 0;
  rec->loadedCount = 0;
  rec->loadedFlags = 0;
}

// Reads properties of the open record. Each table has one current record;
// when another record was made current since this one was opened, the
// table is brought back to it first, so a read never answers for another
// record.
std::int32_t ReadOwn(MDbDataTbl* tbl, MDbDataRec* rec, const CEPROPID* ids, WORD count,
                     PropertyRead* out) {
  const HANDLE table = TableOf(tbl, rec);
  if (CeSeekDatabase(table, CEDB_SEEK_CURRENT, 0, nullptr) != rec->oid &&
      CeSeekDatabase(table, CEDB_SEEK_CEOID, rec->oid, nullptr) != rec->oid) {
    return MDbErrFailed;
  }
  return ReadProperties(table, ids, count, out);
}

std::int32_t ReadState(MDbDataTbl* tbl, MDbDataRec* rec, std::uint16_t* state) {
  PropertyRead read;
  if (ReadOwn(tbl, rec, &kStateProp, 1, &read) != MDbErrNone) return MDbErrFailed;
  *state = read.value()->val.uiVal;
  return MDbErrNone;
}

// The loaded text of field, or null when it is not among the loaded
// properties.
const CEPROPVAL* LoadedField(const MDbDataRec* rec, std::int16_t field) {
  if (rec->loaded == nullptr || field < 0) return nullptr;
  const int at = field + ((rec->loadedFlags & 1) ? kLeadingProps : 0);
  if (at >= rec->loadedCount) return nullptr;
  const auto* v = static_cast<const CEPROPVAL*>(rec->loaded) + at;
  return v->propid == FieldProp(field) ? v : nullptr;
}

std::int32_t OpenAt(MDbDataRec* rec, HANDLE table, DWORD seekType, std::uintptr_t value,
                    std::uint16_t flags) {
  const CEOID found = CeSeekDatabase(table, seekType, value, nullptr);
  if (found == 0) return MDbErrFailed;
  MDbDataRecInitialize(rec);
  rec->oid = found;
  rec->flags = flags;
  return MDbErrNone;
}

// Copies every property of the open data record rec into the delete table,
// with state | modified | deleted and the next delete-table creation
// number; *copy receives the copy's identifier. On a failure, thrown or
// not, nothing stays in the delete table.
std::int32_t CopyToDeleteTable(MDbRef* ref, MDbDataTbl* tbl, const MDbDataRec& rec,
                               std::uint16_t state, CEOID* copy) {
  ReallocBuffer all;
  WORD count = 0;
  std::uint32_t seq = 0;
  if (CeSeekDatabase(tbl->dataHandle, CEDB_SEEK_CEOID, rec.oid, nullptr) != rec.oid ||
      CeReadRecordPropsEx(tbl->dataHandle, CEDB_ALLOWREALLOC, &count, nullptr, &all.data,
                          &all.bytes, nullptr) != rec.oid ||
      TakeSequence(ref, tbl, kDeleteCounter, &seq) != MDbErrNone) {
    return MDbErrFailed;
  }
  auto* props = reinterpret_cast<CEPROPVAL*>(all.data);
  for (WORD i = 0; i < count; ++i) {
    if (props[i].propid == kCreationSeqProp) props[i].val.ulVal = seq;
    if (props[i].propid == kStateProp) {
      props[i].val.uiVal = static_cast<USHORT>(state | MDbRecModified | MDbRecDeleted);
    }
  }
  const CEOID written = WriteRecordInBatches(tbl->deleteHandle, props, count);
  if (written == 0) return MDbErrFailed;
  if (Guarded([&] { return AdvanceSequence(ref, tbl, kDeleteCounter, seq); }) != MDbErrNone) {
    CeDeleteRecord(tbl->deleteHandle, written);
    return MDbErrFailed;
  }
  *copy = written;
  return MDbErrNone;
}

}  // namespace

namespace tbm::engine {

std::int32_t WriteRecordField(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                              std::int16_t field, const char16_t* text) {
  if (!Ready(env, ref) || tbl == nullptr || !tbl->opened || !IsOpen(rec) || field < 0 ||
      text == nullptr) {
    return MDbErrFailed;
  }
  std::uint16_t state = 0;
  if (ReadState(tbl, rec, &state) != MDbErrNone) return MDbErrFailed;
  CEPROPVAL props[2]{};
  props[0].propid = FieldProp(field);
  props[0].val.lpwstr = const_cast<char16_t*>(text);
  props[1].propid = kStateProp;
  props[1].val.uiVal = static_cast<USHORT>(state | MDbRecModified);
  if (CeWriteRecordProps(TableOf(tbl, rec), rec->oid, 2, props) == 0) return MDbErrFailed;
  return CeFlushDBVol(&ref->volume) ? MDbErrNone : MDbErrFailed;
}

std::int32_t DeleteDataRecord(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, std::int16_t position,
                              const std::uint32_t* oid, bool noTracking) {
  if (!Ready(env, ref) || tbl == nullptr || !tbl->opened) return MDbErrFailed;
  WriteBatch batch(ref);
  if (!batch.began()) return MDbErrFailed;
  MDbDataRec rec;
  MDbDataRecInitialize(&rec);
  const std::int16_t cursor = tbl->cursor;
  if (oid == nullptr) tbl->cursor = position;
  const std::int32_t opened = MDbDataTblOpenRec(env, ref, tbl, &rec, oid);
  tbl->cursor = cursor;
  if (opened != MDbErrNone) return opened;

  CEOID copy = 0;
  if (!noTracking) {
    std::uint16_t state = 0;
    std::int32_t rc = ReadState(tbl, &rec, &state);
    if (rc == MDbErrNone && !(state & MDbRecAdded)) {
      rc = CopyToDeleteTable(ref, tbl, rec, state, &copy);
    }
    if (rc != MDbErrNone) {
      MDbDataTblCloseRec(env, ref, tbl, &rec);
      return rc;
    }
  }
  const CEOID target = rec.oid;
  MDbDataTblCloseRec(env, ref, tbl, &rec);
  if (Guarded([&] {
        return CeDeleteRecord(tbl->dataHandle, target) ? MDbErrNone : MDbErrFailed;
      }) != MDbErrNone) {
    if (copy != 0) CeDeleteRecord(tbl->deleteHandle, copy);
    return MDbErrFailed;
  }
  return batch.End(CeFlushDBVol(&ref->volume) ? MDbErrNone : MDbErrFailed);
}

}  // namespace tbm::engine

extern "C" {

void MDbDataRecInitialize(MDbDataRec* rec) {
  if (rec == nullptr) return;
  std::memset(rec, 0, sizeof *rec);
}

std::uint8_t MDbDataRecIsOpened(MDbDataRec* rec) { return IsOpen(rec) ? 1 : 0; }

std::int32_t MDbDataTblOpenRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                               const std::uint32_t* oid) {
  if (!Ready(env, ref) || tbl == nullptr || !tbl->opened || rec == nullptr || IsOpen(rec)) {
    return MDbErrFailed;
  }
  if (oid == nullptr && tbl->cursor < 0) return MDbErrFailed;
  return Guarded([&] {
    if (oid != nullptr) return OpenAt(rec, tbl->dataHandle, CEDB_SEEK_CEOID, *oid, MDbDataRecOpen);
    return OpenAt(rec, tbl->dataHandle, CEDB_SEEK_BEGINNING,
                  static_cast<std::uintptr_t>(tbl->cursor), MDbDataRecOpen);
  });
}

std::int32_t MDbDeleteTblOpenRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                 std::int16_t position, const std::uint32_t* oid) {
  if (!Ready(env, ref) || tbl == nullptr || !tbl->opened || rec == nullptr || IsOpen(rec)) {
    return MDbErrFailed;
  }
  if (oid == nullptr && position < 0) return MDbErrFailed;
  const std::uint16_t flags = MDbDataRecOpen | MDbDataRecInDeleteTable;
  return Guarded([&] {
    if (oid != nullptr) return OpenAt(rec, tbl->deleteHandle, CEDB_SEEK_CEOID, *oid, flags);
    return OpenAt(rec, tbl->deleteHandle, CEDB_SEEK_BEGINNING,
                  static_cast<std::uintptr_t>(position), flags);
  });
}

std::int32_t MDbDataTblCloseRec(MDbEnv* /*env*/, MDbRef* /*ref*/, MDbDataTbl* /*tbl*/,
                                MDbDataRec* rec) {
  if (!IsOpen(rec)) return MDbErrFailed;
  FreeLoaded(rec);
  MDbDataRecInitialize(rec);
  return MDbErrNone;
}

std::int32_t MDbDataRecGetState(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                std::uint8_t* state) {
  if (!Ready(env, ref) || tbl == nullptr || !tbl->opened || !IsOpen(rec) || state == nullptr) {
    return MDbErrFailed;
  }
  return Guarded([&] {
    std::uint16_t value = 0;
    if (ReadState(tbl, rec, &value) != MDbErrNone) return MDbErrFailed;
    *state = static_cast<std::uint8_t>(value);
    return MDbErrNone;
  });
}

std::int32_t MDbDataRecGetRecInfo(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                  std::uint8_t identity[10]) {
  if (!Ready(env, ref) || tbl == nullptr || !tbl->opened || !IsOpen(rec) || identity == nullptr) {
    return MDbErrFailed;
  }
  return Guarded([&] {
    PropertyRead read;
    if (ReadOwn(tbl, rec, &kIdentityProp, 1, &read) != MDbErrNone) return MDbErrFailed;
    const CEBLOB& blob = read.value()->val.blob;
    if (blob.dwCount != MDbIdentityBytes) return MDbErrFailed;
    std::memcpy(identity, blob.lpb, MDbIdentityBytes);
    return MDbErrNone;
  });
}

std::int32_t MDbDataRecGetFieldPtr(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbSchemaTbl* fields,
                                   MDbDataRec* rec, std::int16_t field, const char16_t** value) {
  if (!Ready(env, ref) || tbl == nullptr || !tbl->opened || !IsOpen(rec) || value == nullptr) {
    return MDbErrFailed;
  }
  if (field < 0) return MDbErrFailed;
  if (rec->loaded == nullptr) {
    std::uint16_t n = 0;
    if (MDbSchemaTblGetCount(env, ref, fields, &n) != MDbErrNone) return MDbErrFailed;
    if (field >= n) return MDbErrFailed;
    const std::int32_t loaded = Guarded([&] {
      // Every field in one read, handed out as pointers into one buffer.
      std::vector<CEPROPID> ids(n);
      for (std::uint16_t i = 0; i < n; ++i) ids[i] = FieldProp(i);
      PropertyRead read;
      if (ReadOwn(tbl, rec, ids.data(), n, &read) != MDbErrNone) return MDbErrFailed;
      rec->loadedBytes = read.size;
      rec->loaded = read.buffer.release();
      rec->loadedCount = n;
      rec->loadedFlags = 0;
      return MDbErrNone;
    });
    if (loaded != MDbErrNone) return loaded;
  }
  const CEPROPVAL* v = LoadedField(rec, field);
  if (v == nullptr) return MDbErrFailed;
  *value = v->val.lpwstr;
  return MDbErrNone;
}

std::int32_t MDbDataRecReadField(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                 std::int16_t field, char16_t* buffer, std::uint32_t bytes) {
  if (!Ready(env, ref) || tbl == nullptr || !tbl->opened || !IsOpen(rec) || field < 0 ||
      buffer == nullptr) {
    return MDbErrFailed;
  }
  if (const CEPROPVAL* v = LoadedField(rec, field)) {
    tbm::CopyUtf16Cut(buffer, bytes, tbm::Utf16View(v->val.lpwstr));
    return MDbErrNone;
  }
  return Guarded([&] {
    const CEPROPID id = FieldProp(field);
    PropertyRead read;
    if (ReadOwn(tbl, rec, &id, 1, &read) != MDbErrNone) return MDbErrFailed;
    tbm::CopyUtf16Cut(buffer, bytes, tbm::Utf16View(read.value()->val.lpwstr));
    return MDbErrNone;
  });
}

std::int32_t MDbDataRecGetFieldSize(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbDataRec* rec,
                                    std::int16_t field, std::uint32_t* bytes) {
  if (!Ready(env, ref) || tbl == nullptr || !tbl->opened || !IsOpen(rec) || field < 0 ||
      bytes == nullptr) {
    return MDbErrFailed;
  }
  return Guarded([&] {
    const CEPROPVAL* v = LoadedField(rec, field);
    PropertyRead read;
    if (v == nullptr) {
      const CEPROPID id = FieldProp(field);
      if (ReadOwn(tbl, rec, &id, 1, &read) != MDbErrNone) return MDbErrFailed;
      v = read.value();
    }
    *bytes = static_cast<std::uint32_t>((tbm::Utf16Length(v->val.lpwstr) + 1) * 2);
    return MDbErrNone;
  });
}

}  // extern "C"
