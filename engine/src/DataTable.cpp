// The data and delete tables: creating, opening and counting them, adding
// records, deleting all records, and their order.
#include "DataTable.h"

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <vector>

#include "Guard.h"
#include "ObjectTable.h"
#include "Sequence.h"
#include "Utf16.h"
#include "WriteBatch.h"

using namespace tbm::engine;

namespace {

constexpr char16_t kDataName[] = u"DATA_0";
constexpr char16_t kDeleteName[] = u"DELT_0";

bool Ready(const MDbEnv* env, const MDbRef* ref) {
  return env != nullptr && env->initialised && ref != nullptr && ref->opened;
}

bool Open(const MDbDataTbl* tbl) { return tbl != nullptr && tbl->opened; }

CEOID CreateTable(MDbRef* ref, const char16_t* name, DWORD type, bool sorted) {
  CEDBASEINFO info{};
  info.dwFlags = CEDB_VALIDNAME | CEDB_VALIDTYPE | CEDB_VALIDSORTSPEC;
  tbm::CopyUtf16Cut(info.szDbaseName, sizeof info.szDbaseName, name);
  info.dwDbaseType = type;
  info.wNumSortOrder = sorted ? 1 : 0;
  info.rgSortSpecs[0] = {kCreationSeqProp, 0};
  return CeCreateDatabaseEx(&ref->volume, &info);
}

std::int32_t DeleteTable(MDbRef* ref, const char16_t* name) {
  CEOID oid = 0;
  HANDLE h = CeOpenDatabaseEx(&ref->volume, &oid, name, 0, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return MDbErrFailed;
  CeCloseHandle(h);
  return CeDeleteDatabaseEx(&ref->volume, oid) ? MDbErrNone : MDbErrFailed;
}

std::int32_t RecordCount(MDbRef* ref, CEOID table, std::uint32_t* count) {
  CEOIDINFO info{};
  if (count == nullptr || !CeOidGetInfoEx(&ref->volume, table, &info) ||
      info.wObjType != OBJTYPE_DATABASE) {
    return MDbErrFailed;
  }
  *count = info.infDatabase.dwNumRecords;
  return MDbErrNone;
}

std::int32_t Flush(MDbRef* ref) { return CeFlushDBVol(&ref->volume) ? MDbErrNone : MDbErrFailed; }

// The position of a record in the data table's current order, from a seek
// by identifier.
std::int32_t PositionOf(MDbDataTbl* tbl, CEOID oid, std::uint16_t* position) {
  DWORD index = 0;
  if (CeSeekDatabase(tbl->dataHandle, CEDB_SEEK_CEOID, oid, &index) == 0) return MDbErrFailed;
  *position = static_cast<std::uint16_t>(index);
  return MDbErrNone;
}

// The five leading properties of a new record.
void Leading(CEPROPVAL* props, std::uint16_t state, BYTE* identity, std::uint32_t seq) {
  props[0].propid = kStateProp;
  props[0].val.uiVal = state;
  props[1].propid = kReservedProp;
  props[1].val.boolVal = FALSE;
  props[2].propid = kIdentityProp;
  props[2].val.blob.dwCount = MDbIdentityBytes;
  props[2].val.blob.lpb = identity;
  props[3].propid = kSortKeyProp;
  props[3].val.lVal = 0;
  props[4].propid = kCreationSeqProp;
  props[4].val.ulVal = seq;
}

// Room for one more record in the data table, and the creation number it
// takes (written back by AdvanceSequence once the record is there).
std::int32_t ReserveNewRecord(MDbRef* ref, MDbDataTbl* tbl, std::uint32_t* seq) {
  std::uint32_t records = 0;
  if (RecordCount(ref, tbl->dataOid, &records) != MDbErrNone) return MDbErrFailed;
  if (records >= MDbMaxRecords) return MDbErrTooManyRecords;
  return TakeSequence(ref, tbl, kDataCounter, seq) == MDbErrNone ? MDbErrNone : MDbErrFailed;
}

// Takes a record just written as the new record: finds its position when
// asked, takes its creation number for good and flushes, then reports
// identifier and position. When finding the position or taking the number
// fails, thrown or not, the record is deleted again and nothing is
// reported: nothing half-done stays behind.
std::int32_t KeepNewRecord(MDbRef* ref, MDbDataTbl* tbl, CEOID created, std::uint32_t seq,
                           std::uint32_t* oid, std::uint16_t* position) {
  std::uint16_t at = 0;
  const std::int32_t placed = Guarded([&] {
    return (position == nullptr || PositionOf(tbl, created, &at) == MDbErrNone) &&
                   AdvanceSequence(ref, tbl, kDataCounter, seq) == MDbErrNone
               ? MDbErrNone
               : MDbErrFailed;
  });
  if (placed != MDbErrNone) {
    CeDeleteRecord(tbl->dataHandle, created);
    return placed;
  }
  // A failed flush is reported, but the record is there and is reported too.
  if (oid) *oid = created;
  if (position) *position = at;
  return Flush(ref);
}

std::int32_t NewRecord(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbSchemaTbl* fields,
                       std::uint32_t* oid, std::uint16_t* position) {
  std::uint32_t seq = 0;
  if (std::int32_t rc = ReserveNewRecord(ref, tbl, &seq); rc != MDbErrNone) return rc;
  std::uint16_t n = 0;
  if (MDbSchemaTblGetCount(env, ref, fields, &n) != MDbErrNone) return MDbErrFailed;

  BYTE identity[MDbIdentityBytes] = {};
  char16_t empty[1] = {0};
  std::vector<CEPROPVAL> props(kLeadingProps + n);
  Leading(props.data(), MDbRecModified | MDbRecAdded, identity, seq);
  for (std::uint16_t i = 0; i < n; ++i) {
    props[kLeadingProps + i].propid = FieldProp(i);
    props[kLeadingProps + i].val.lpwstr = empty;
  }
  const CEOID created =
      CeWriteRecordProps(tbl->dataHandle, 0, static_cast<WORD>(props.size()), props.data());
  if (created == 0) return MDbErrFailed;
  return KeepNewRecord(ref, tbl, created, seq, oid, position);
}

std::int32_t AddRecord(MDbRef* ref, MDbDataTbl* tbl, const std::uint8_t identity[10],
                       const char16_t* const* values, std::int16_t count, std::uint8_t clean,
                       std::uint32_t* oid, std::uint16_t* position) {
  std::uint32_t seq = 0;
  if (std::int32_t rc = ReserveNewRecord(ref, tbl, &seq); rc != MDbErrNone) return rc;

  BYTE block[MDbIdentityBytes];
  std::copy_n(identity, MDbIdentityBytes, block);
  char16_t empty[1] = {0};
  std::vector<CEPROPVAL> props(kLeadingProps + static_cast<std::size_t>(count));
  Leading(props.data(), clean ? 0 : (MDbRecModified | MDbRecAdded), block, seq);
  for (std::int16_t i = 0; i < count; ++i) {
    props[kLeadingProps + i].propid = FieldProp(i);
    props[kLeadingProps + i].val.lpwstr = const_cast<char16_t*>(values[i] ? values[i] : empty);
  }
  const CEOID created =
      WriteRecordInBatches(tbl->dataHandle, props.data(), static_cast<WORD>(props.size()));
  if (created == 0) return MDbErrFailed;
  return KeepNewRecord(ref, tbl, created, seq, oid, position);
}

}  // namespace

namespace tbm::engine {

CEOID WriteRecordInBatches(HANDLE table, CEPROPVAL* props, WORD count) {
  const WORD first = count < kWriteBatch ? count : kWriteBatch;
  const CEOID oid = CeWriteRecordProps(table, 0, first, props);
  if (oid == 0) return 0;
  const std::int32_t rest = Guarded([&] {
    for (WORD at = first; at < count; at += kWriteBatch) {
      const WORD n = static_cast<WORD>(count - at < kWriteBatch ? count - at : kWriteBatch);
      if (CeWriteRecordProps(table, oid, n, props + at) == 0) return MDbErrFailed;
    }
    return MDbErrNone;
  });
  if (rest != MDbErrNone) {
    CeDeleteRecord(table, oid);  // no half-written record stays behind
    return 0;
  }
  return oid;
}

std::int32_t DeleteAllDataRecords(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl) {
  if (!Ready(env, ref) || !Open(tbl)) return MDbErrFailed;
  const std::uint16_t dataOnly = 1;
  std::int32_t rc = MDbDataTblClose(env, ref, tbl);
  if (rc == MDbErrNone) rc = MDbDataTblDelete(env, ref, &dataOnly);
  if (rc == MDbErrNone) rc = MDbDataTblCreate(env, ref, &dataOnly);
  // The table is opened again whatever happened, so the caller keeps a
  // usable handle on what is there.
  const std::int32_t opened = MDbDataTblOpen(env, ref, tbl, nullptr);
  if (rc == MDbErrNone) rc = opened;
  if (rc == MDbErrNone) rc = Flush(ref);
  return rc;
}

// Stores sort orders on the data table between closing and reopening it.
// The table is opened again whatever happens, so the caller keeps a usable
// handle.
static std::int32_t Reorder(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                            std::initializer_list<SORTORDERSPEC> orders, CEPROPID openWith) {
  if (!Ready(env, ref) || !Open(tbl)) return MDbErrFailed;
  const CEOID data = tbl->dataOid;
  if (MDbDataTblClose(env, ref, tbl) != MDbErrNone) return MDbErrFailed;
  CEDBASEINFO info{};
  info.dwFlags = CEDB_VALIDSORTSPEC;
  info.wNumSortOrder = static_cast<WORD>(orders.size());
  std::copy(orders.begin(), orders.end(), info.rgSortSpecs);
  const bool stored =
      Guarded([&] {
        return CeSetDatabaseInfoEx(&ref->volume, data, &info) ? MDbErrNone : MDbErrFailed;
      }) == MDbErrNone;
  // On a failure the table opens in the order it still has.
  std::uint32_t order = stored ? openWith : kCreationSeqProp;
  const std::int32_t opened = MDbDataTblOpen(env, ref, tbl, &order);
  if (!stored || opened != MDbErrNone) return MDbErrFailed;
  return Flush(ref);
}

std::int32_t SetDataTableOrder(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, CEPROPID property,
                               bool descending) {
  if (property == kCreationSeqProp && !descending) return RestoreDataTableOrder(env, ref, tbl);
  return Reorder(env, ref, tbl,
                 {{kCreationSeqProp, 0}, {property, descending ? CEDB_SORT_DESCENDING : 0u}},
                 property);
}

std::int32_t RestoreDataTableOrder(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl) {
  return Reorder(env, ref, tbl, {{kCreationSeqProp, 0}}, kCreationSeqProp);
}

}  // namespace tbm::engine

extern "C" {

std::int32_t MDbDataTblCreate(MDbEnv* env, MDbRef* ref, const std::uint16_t* flags) {
  if (!Ready(env, ref)) return MDbErrFailed;
  const bool dataOnly = flags != nullptr && (*flags & 1);
  return Guarded([&]() -> std::int32_t {
    if (CreateTable(ref, kDataName, MDbDataTableType, true) == 0 ||
        WriteCounter(ref, kDataCounter, 0) != MDbErrNone) {
      return MDbErrFailed;
    }
    if (!dataOnly && (CreateTable(ref, kDeleteName, MDbDeleteTableType, false) == 0 ||
                      WriteCounter(ref, kDeleteCounter, 0) != MDbErrNone)) {
      return MDbErrFailed;
    }
    return Flush(ref);
  });
}

std::int32_t MDbDataTblDelete(MDbEnv* env, MDbRef* ref, const std::uint16_t* flags) {
  if (!Ready(env, ref)) return MDbErrFailed;
  return Guarded([&] {
    std::int32_t rc = DeleteTable(ref, kDataName);
    if (flags == nullptr || !(*flags & 1)) {
      const std::int32_t second = DeleteTable(ref, kDeleteName);
      if (rc == MDbErrNone) rc = second;
    }
    const std::int32_t flushed = Flush(ref);
    return rc != MDbErrNone ? rc : flushed;
  });
}

std::int32_t MDbDataTblOpen(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                            const std::uint32_t* sortProperty) {
  if (!Ready(env, ref) || tbl == nullptr || tbl->opened) return MDbErrFailed;
  CEOID dataOid = 0;
  CEOID deleteOid = 0;
  HANDLE data = INVALID_HANDLE_VALUE;
  HANDLE deletes = INVALID_HANDLE_VALUE;
  const std::int32_t opened = Guarded([&] {
    data = CeOpenDatabaseEx(&ref->volume, &dataOid, kDataName,
                            sortProperty ? *sortProperty : kCreationSeqProp, 0, nullptr);
    if (data == INVALID_HANDLE_VALUE) return MDbErrFailed;
    deletes = CeOpenDatabaseEx(&ref->volume, &deleteOid, kDeleteName, 0, 0, nullptr);
    return deletes == INVALID_HANDLE_VALUE ? MDbErrFailed : MDbErrNone;
  });
  if (opened != MDbErrNone) {
    if (data != INVALID_HANDLE_VALUE) {
      Guarded([&] { return CeCloseHandle(data) ? MDbErrNone : MDbErrFailed; });
    }
    return MDbErrFailed;
  }
  tbl->dataHandle = data;
  tbl->dataOid = dataOid;
  tbl->deleteHandle = deletes;
  tbl->deleteOid = deleteOid;
  tbl->opened = 1;
  return MDbErrNone;
}

std::int32_t MDbDataTblClose(MDbEnv* /*env*/, MDbRef* /*ref*/, MDbDataTbl* tbl) {
  if (!Open(tbl)) return MDbErrFailed;
  // Both handles are closed, and the handle reset, whatever either close does.
  const auto close = [](HANDLE h) {
    return Guarded([&] { return CeCloseHandle(h) ? MDbErrNone : MDbErrFailed; }) == MDbErrNone;
  };
  const bool closed = close(tbl->dataHandle) & close(tbl->deleteHandle);
  tbl->opened = 0;
  tbl->dataHandle = nullptr;
  tbl->dataOid = 0;
  tbl->deleteHandle = nullptr;
  tbl->deleteOid = 0;
  tbl->cursor = -1;
  tbl->cachedSeq = kNoCachedSeq;
  return closed ? MDbErrNone : MDbErrFailed;
}

std::uint8_t MDbDataTblIsOpened(MDbEnv* /*env*/, MDbRef* /*ref*/, MDbDataTbl* tbl) {
  return Open(tbl) ? 1 : 0;
}

std::int32_t MDbDataTblGetRecCount(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                                   std::uint32_t* count) {
  if (!Ready(env, ref) || !Open(tbl)) return MDbErrFailed;
  return Guarded([&] { return RecordCount(ref, tbl->dataOid, count); });
}

std::int32_t MDbDeleteTblGetRecCount(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                                     std::uint32_t* count) {
  if (!Ready(env, ref) || !Open(tbl)) return MDbErrFailed;
  return Guarded([&] { return RecordCount(ref, tbl->deleteOid, count); });
}

std::int32_t MDbDataTblCursGetInx(MDbEnv* /*env*/, MDbRef* /*ref*/, MDbDataTbl* tbl,
                                  std::uint16_t* position) {
  if (tbl != nullptr && position != nullptr) *position = static_cast<std::uint16_t>(tbl->cursor);
  return MDbErrNone;
}

std::int32_t MDbDataTblCursSetInx(MDbEnv* /*env*/, MDbRef* /*ref*/, MDbDataTbl* tbl,
                                  std::int16_t position) {
  if (tbl != nullptr) tbl->cursor = position;
  return MDbErrNone;
}

std::int32_t MDbDataTblNewRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl, MDbSchemaTbl* fields,
                              std::uint32_t* oid, std::uint16_t* position) {
  if (!Ready(env, ref) || !Open(tbl)) return MDbErrFailed;
  return Guarded([&]() -> std::int32_t {
    WriteBatch batch(ref);
    if (!batch.began()) return MDbErrFailed;
    return batch.End(NewRecord(env, ref, tbl, fields, oid, position));
  });
}

std::int32_t MDbDataTblAddRec(MDbEnv* env, MDbRef* ref, MDbDataTbl* tbl,
                              const std::uint8_t identity[10], const char16_t* const* values,
                              std::int16_t count, std::uint8_t clean, std::uint32_t* oid,
                              std::uint16_t* position) {
  if (!Ready(env, ref) || !Open(tbl) || identity == nullptr || count < 0 ||
      (count > 0 && values == nullptr)) {
    return MDbErrFailed;
  }
  return Guarded([&]() -> std::int32_t {
    WriteBatch batch(ref);
    if (!batch.began()) return MDbErrFailed;
    return batch.End(AddRecord(ref, tbl, identity, values, count, clean, oid, position));
  });
}

}  // extern "C"
