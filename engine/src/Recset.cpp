// The record set: positions, records and their fields, new, duplicated and
// deleted records, and sorting, over the whole data table or its found set.
#include "Recset.h"

#include <cstring>
#include <vector>

#include "DataTable.h"
#include "DateTime.h"
#include "Description.h"
#include "Guard.h"
#include "MDbBlocks.h"
#include "ObjectTable.h"
#include "Sequence.h"

using namespace tbm::engine;

namespace {

// The sort key of a text that does not convert: first when ascending.
constexpr std::int32_t kNoSortKey = std::int32_t(0x80000000u);

bool Valid(const MDbEnv* env, const MDbRecset* rs) {
  return rs != nullptr && rs->valid && EnvOpen(env);
}

// The data-record identifier of the found-set entry at position.
std::int32_t FoundMember(MDbRecset* rs, std::int32_t position, std::uint32_t* oid,
                         CEOID* entry = nullptr) {
  if (!rs->foundOpened || position < 0) return MDbErrFailed;
  const CEOID at =
      CeSeekDatabase(rs->foundHandle, CEDB_SEEK_BEGINNING, static_cast<DWORD>(position), nullptr);
  if (at == 0) return MDbErrFailed;
  const CEPROPID ids[] = {kOrdinalProp, kMemberProp};
  PropertyRead read;
  if (ReadProperties(rs->foundHandle, ids, 2, &read) != MDbErrNone) return MDbErrFailed;
  *oid = read.value()[1].val.ulVal;
  if (entry) *entry = at;
  return MDbErrNone;
}

std::uint32_t FoundCount(MDbEnv* env, MDbRecset* rs) {
  CEOIDINFO info{};
  if (!CeOidGetInfoEx(&env->ref.volume, rs->foundOid, &info)) return 0;
  return info.infDatabase.dwNumRecords;
}

// A record just added to the data table joins a found set: appended to its
// table and to the added-record list; position receives its place.
std::int32_t JoinFoundSet(MDbEnv* env, MDbRecset* rs, std::uint32_t oid, std::uint16_t* position) {
  std::int32_t rc = FoundAppend(rs, oid);
  if (rc == MDbErrNone) rc = AddedAppend(rs, oid);
  if (rc == MDbErrNone && position) {
    *position = static_cast<std::uint16_t>(FoundCount(env, rs) - 1);
  }
  if (rc == MDbErrNone && !CeFlushDBVol(&env->ref.volume)) rc = MDbErrFailed;
  return rc;
}

// A record just added to the data table takes its place in the set: it
// joins a found set, otherwise its data-table position is reported. The set
// is dirty either way, also when joining fails.
std::int32_t PlaceNewRecord(MDbEnv* env, MDbRecset* rs, std::uint32_t oid,
                            std::uint16_t dataPosition, std::uint16_t* position) {
  rs->dirty = 1;
  if (!rs->usesFoundSet) {
    if (position) *position = dataPosition;
    return MDbErrNone;
  }
  return JoinFoundSet(env, rs, oid, position);
}

// Writes the sort key (property 3) of every record for a number, date or
// time field, in creation order; keys that are already right are not
// written again.
std::int32_t WriteSortKeys(MDbEnv* env, std::int16_t field, std::uint8_t type) {
  std::uint8_t attrs[MDbAttrBytes] = {};
  if (type != MDbFieldNumber &&
      MDbAttrTblReadAttrs(env, &env->ref, &env->attributes, 0, attrs) != MDbErrNone) {
    return MDbErrFailed;
  }
  const HANDLE table = env->data.dataHandle;
  const CEPROPID ids[] = {FieldProp(field), kSortKeyProp};
  for (DWORD p = 0;; ++p) {
    const CEOID oid = CeSeekDatabase(table, CEDB_SEEK_BEGINNING, p, nullptr);
    if (oid == 0) break;
    PropertyRead read;
    if (ReadProperties(table, ids, 2, &read) != MDbErrNone) return MDbErrFailed;
    const char16_t* text = read.value()[0].val.lpwstr;
    std::int32_t key = 0;
    std::int32_t rc = MDbErrFailed;
    switch (type) {
      case MDbFieldNumber:
        rc = NumberValue(text, &key);
        break;
      case MDbFieldDate:
        rc = DateDayNumber(text, attrs + MDbAttrDateFormatOffset, &key);
        break;
      case MDbFieldTime:
        rc = TimeSeconds(text, attrs + MDbAttrTimeFormatOffset, &key);
        break;
      default:
        break;
    }
    if (rc != MDbErrNone) key = kNoSortKey;
    if (read.value()[1].val.lVal == key) continue;
    CEPROPVAL v{};
    v.propid = kSortKeyProp;
    v.val.lVal = key;
    if (CeWriteRecordProps(table, oid, 1, &v) == 0) return MDbErrFailed;
  }
  return MDbErrNone;
}

// Adds a copy of the set's open current record to the data table: every
// field's text, identity ten zero bytes, state modified and added.
std::int32_t AddCopy(MDbEnv* env, MDbRecset* rs, std::uint32_t* oid, std::uint16_t* dataPosition) {
  std::uint16_t n = 0;
  std::int32_t rc = MDbSchemaTblGetCount(env, &env->ref, &env->schema, &n);
  std::vector<const char16_t*> values(n);
  for (std::uint16_t f = 0; rc == MDbErrNone && f < n; ++f) {
    rc = MDbDataRecGetFieldPtr(env, &env->ref, &env->data, &env->schema, &rs->rec,
                               static_cast<std::int16_t>(f), &values[f]);
  }
  if (rc != MDbErrNone) return rc;
  const std::uint8_t identity[MDbIdentityBytes] = {};
  return MDbDataTblAddRec(env, &env->ref, &env->data, identity, values.data(),
                          static_cast<std::int16_t>(n), 0, oid, dataPosition);
}

}  // namespace

extern "C" {

void MDbRecsetInitialize(MDbRecset* rs) {
  if (rs == nullptr) return;
  rs->valid = 0;
  rs->usesFoundSet = 0;
  rs->filterField = -1;
  rs->dirty = 0;
  rs->sortField = -1;
  rs->ascending = 1;
  MDbDataRecInitialize(&rs->rec);
  rs->foundOpened = 0;
  rs->foundOid = 0;
  rs->foundHandle = nullptr;
  rs->foundPosition = -1;
  rs->nextOrdinal = 0;
  rs->added = nullptr;
  rs->addedCount = 0;
  rs->addedCapacity = 0;
}

std::int32_t MDbRecsetDestroy(MDbEnv* env, MDbRecset* rs) {
  if (rs == nullptr || !rs->valid) return MDbErrNone;
  std::int32_t rc = MDbErrNone;
  if (MDbDataRecIsOpened(&rs->rec)) rc = MDbDataTblCloseRec(env, &env->ref, &env->data, &rs->rec);
  if (rs->usesFoundSet) {
    const std::int32_t dropped = Guarded([&] {
      const std::int32_t result = DropFoundTable(env, rs);
      return CeFlushDBVol(&env->ref.volume) ? result : MDbErrFailed;
    });
    if (rc == MDbErrNone) rc = dropped;
  }
  AddedFree(rs);
  MDbRecsetInitialize(rs);
  return rc;
}

std::int32_t MDbRecsetGetRecCount(MDbEnv* env, MDbRecset* rs, std::uint32_t* count) {
  if (!Valid(env, rs) || count == nullptr) return MDbErrFailed;
  if (rs->usesFoundSet) {
    return Guarded([&] {
      *count = FoundCount(env, rs);
      return MDbErrNone;
    });
  }
  return MDbDataTblGetRecCount(env, &env->ref, &env->data, count);
}

std::int32_t MDbRecsetGetInx(MDbEnv* env, MDbRecset* rs, std::uint16_t* position) {
  if (!Valid(env, rs) || position == nullptr) return MDbErrFailed;
  *position = static_cast<std::uint16_t>(rs->usesFoundSet ? rs->foundPosition : env->data.cursor);
  return MDbErrNone;
}

std::int32_t MDbRecsetSetInx(MDbEnv* env, MDbRecset* rs, std::int16_t position) {
  if (!Valid(env, rs)) return MDbErrFailed;
  if (rs->usesFoundSet) {
    rs->foundPosition = position;
  } else {
    env->data.cursor = position;
  }
  return MDbErrNone;
}

std::int32_t MDbRecsetOpenRec(MDbEnv* env, MDbRecset* rs) {
  if (!Valid(env, rs)) return MDbErrFailed;
  if (!rs->usesFoundSet) return MDbDataTblOpenRec(env, &env->ref, &env->data, &rs->rec, nullptr);
  if (MDbDataRecIsOpened(&rs->rec)) return MDbErrFailed;
  std::uint32_t oid = 0;
  if (Guarded([&] { return FoundMember(rs, rs->foundPosition, &oid); }) != MDbErrNone) {
    return MDbErrFailed;
  }
  return MDbDataTblOpenRec(env, &env->ref, &env->data, &rs->rec, &oid);
}

std::int32_t MDbRecsetCloseRec(MDbEnv* env, MDbRecset* rs) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return MDbDataTblCloseRec(env, &env->ref, &env->data, &rs->rec);
}

std::int32_t MDbRecsetGetFieldPtr(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                  const char16_t** text) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return MDbDataRecGetFieldPtr(env, &env->ref, &env->data, &env->schema, &rs->rec, field, text);
}

std::int32_t MDbRecsetGetField(MDbEnv* env, MDbRecset* rs, std::int16_t field, char16_t* buffer,
                               std::uint32_t bytes) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return MDbDataRecReadField(env, &env->ref, &env->data, &rs->rec, field, buffer, bytes);
}

std::int32_t MDbRecsetGetFieldSize(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                   std::uint32_t* bytes) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return MDbDataRecGetFieldSize(env, &env->ref, &env->data, &rs->rec, field, bytes);
}

std::int32_t MDbRecsetSetField(MDbEnv* env, MDbRecset* rs, std::uint16_t field,
                               const char16_t* text) {
  if (!Valid(env, rs) || field > 0x7FFF) return MDbErrFailed;
  const std::int32_t rc = Guarded([&] {
    return WriteRecordField(env, &env->ref, &env->data, &rs->rec, static_cast<std::int16_t>(field),
                            text);
  });
  if (rc != MDbErrNone) return rc;
  // A record edited under a find stays in the set when it is re-sorted.
  if (rs->usesFoundSet && static_cast<std::int16_t>(field) == rs->filterField &&
      !AddedContains(rs, rs->rec.oid)) {
    return AddedAppend(rs, rs->rec.oid);
  }
  return MDbErrNone;
}

std::int32_t MDbRecsetNewRec(MDbEnv* env, MDbRecset* rs, std::uint16_t* position) {
  if (!Valid(env, rs)) return MDbErrFailed;
  std::uint32_t oid = 0;
  std::uint16_t dataPosition = 0;
  std::int32_t rc = MDbDataTblNewRec(env, &env->ref, &env->data, &env->schema, &oid, &dataPosition);
  if (rc != MDbErrNone) return rc;
  return Guarded([&] { return PlaceNewRecord(env, rs, oid, dataPosition, position); });
}

std::int32_t MDBRecsetDupRec(MDbEnv* env, MDbRecset* rs, std::int16_t position,
                             std::uint16_t* newPosition) {
  if (!Valid(env, rs) || MDbDataRecIsOpened(&rs->rec)) return MDbErrFailed;
  std::uint16_t kept = 0;
  MDbRecsetGetInx(env, rs, &kept);
  MDbRecsetSetInx(env, rs, position);
  std::int32_t rc = MDbRecsetOpenRec(env, rs);
  std::uint32_t oid = 0;
  std::uint16_t dataPosition = 0;
  if (rc == MDbErrNone) {
    rc = Guarded([&] { return AddCopy(env, rs, &oid, &dataPosition); });
    MDbDataTblCloseRec(env, &env->ref, &env->data, &rs->rec);
  }
  MDbRecsetSetInx(env, rs, static_cast<std::int16_t>(kept));
  if (rc != MDbErrNone) return rc;
  return Guarded([&] { return PlaceNewRecord(env, rs, oid, dataPosition, newPosition); });
}

std::int32_t MDbRecsetDelRec(MDbEnv* env, MDbRecset* rs, std::int16_t position,
                             std::uint8_t noTracking) {
  if (!Valid(env, rs) || MDbDataRecIsOpened(&rs->rec)) return MDbErrFailed;
  const std::int32_t rc = Guarded([&] {
    if (!rs->usesFoundSet) {
      return DeleteDataRecord(env, &env->ref, &env->data, position, nullptr, noTracking);
    }
    std::uint32_t oid = 0;
    CEOID entry = 0;
    std::int32_t result = FoundMember(rs, position, &oid, &entry);
    // The data record goes first: a failure then leaves the set as it was.
    if (result == MDbErrNone) {
      result = DeleteDataRecord(env, &env->ref, &env->data, 0, &oid, noTracking);
    }
    if (result == MDbErrNone && !CeDeleteRecord(rs->foundHandle, entry)) result = MDbErrFailed;
    if (result == MDbErrNone && !CeFlushDBVol(&env->ref.volume)) result = MDbErrFailed;
    if (result == MDbErrNone) AddedRemove(rs, oid);
    return result;
  });
  if (rc == MDbErrNone) MDbRecsetSetInx(env, rs, -1);
  return rc;
}

std::int32_t MDbRecsetDelAllRec(MDbEnv* env, MDbRecset* rs, std::uint8_t noTracking) {
  if (!Valid(env, rs) || MDbDataRecIsOpened(&rs->rec)) return MDbErrFailed;
  std::int32_t rc = MDbErrNone;
  if (!rs->usesFoundSet && noTracking) {
    rc = Guarded([&] { return DeleteAllDataRecords(env, &env->ref, &env->data); });
  } else {
    std::uint32_t count = 0;
    rc = MDbRecsetGetRecCount(env, rs, &count);
    for (std::uint32_t i = 0; rc == MDbErrNone && i < count; ++i) {
      rc = MDbRecsetDelRec(env, rs, 0, noTracking);
    }
  }
  if (rc == MDbErrNone) MDbRecsetSetInx(env, rs, -1);
  return rc;
}

std::int32_t MDbRecsetSort(MDbEnv* env, MDbRecset* rs, std::int16_t field, std::uint32_t mode) {
  if (!Valid(env, rs)) return MDbErrFailed;
  std::uint16_t count = 0;
  if (MDbSchemaTblGetCount(env, &env->ref, &env->schema, &count) != MDbErrNone) {
    return MDbErrFailed;
  }
  if (field < 0 || field >= count) return MDbErrBadField;
  bool ascending = true;
  if (mode == 1) ascending = false;
  if (mode == 2) ascending = !(field == rs->sortField && rs->ascending);
  std::uint8_t type = MDbFieldText;
  if (MDbSchemaTblReadFldType(env, &env->ref, &env->schema, field, &type) != MDbErrNone) {
    return MDbErrFailed;
  }

  // The added records, the find and the dirty flag outlive the rebuild.
  std::uint32_t* added = rs->added;
  const std::uint16_t addedCount = rs->addedCount;
  const std::uint32_t addedCapacity = rs->addedCapacity;
  const std::int16_t filterField = rs->filterField;
  const std::uint8_t dirty = rs->dirty;
  const MDbFindRequest query{rs->queryField, rs->queryMode, rs->queryText};
  const bool hasQuery = rs->hasQuery;
  rs->added = nullptr;
  rs->addedCount = 0;
  rs->addedCapacity = 0;
  MDbRecsetDestroy(env, rs);
  rs->added = added;
  rs->addedCount = addedCount;
  rs->addedCapacity = addedCapacity;
  rs->filterField = filterField;
  rs->dirty = dirty;
  rs->queryField = query.field;
  rs->queryMode = query.mode;
  rs->queryText = query.text;
  rs->hasQuery = hasQuery ? 1 : 0;

  // Text sorts through the store's order on the field itself; numbers,
  // dates and times through one precomputed key per record. A field of no
  // known type sorts as text.
  const std::int32_t rc = Guarded([&] {
    CEPROPID property = FieldProp(field);
    std::int32_t result = MDbErrNone;
    if (type == MDbFieldNumber || type == MDbFieldDate || type == MDbFieldTime) {
      result = WriteSortKeys(env, field, type);
      property = kSortKeyProp;
    }
    if (result == MDbErrNone) {
      result = SetDataTableOrder(env, &env->ref, &env->data, property, !ascending);
    }
    if (result == MDbErrNone) result = BuildSet(env, rs, hasQuery ? &query : nullptr);
    if (result == MDbErrNone) result = RestoreDataTableOrder(env, &env->ref, &env->data);
    return result;
  });
  if (rc != MDbErrNone) return rc;
  rs->sortField = field;
  rs->ascending = ascending ? 1 : 0;
  return MDbErrNone;
}

std::int32_t MDbRecsetGetSortDef(MDbEnv* /*env*/, MDbRecset* rs, MDbSortDef* out) {
  if (rs == nullptr || out == nullptr) return MDbErrFailed;
  out->field = rs->sortField;
  out->ascending = rs->ascending;
  return MDbErrNone;
}

std::int32_t MDbRecsetIsFiltered(MDbEnv* /*env*/, MDbRecset* rs, bool* filtered) {
  if (rs == nullptr || filtered == nullptr) return MDbErrFailed;
  *filtered = rs->filterField != -1;
  return MDbErrNone;
}

std::int32_t MDbRecsetIsFilteredDirty(MDbEnv* /*env*/, MDbRecset* rs, bool* dirty) {
  if (rs == nullptr || dirty == nullptr) return MDbErrFailed;
  *dirty = rs->dirty && rs->filterField != -1;
  return MDbErrNone;
}

}  // extern "C"
