// Reading one record by its identifier, and writing and deleting records
// together with their keys in every sort order.
#include <algorithm>

#include "Volume.h"

namespace tbm::store {

std::optional<std::pair<CEOID, std::vector<std::uint8_t>>> Volume::Record(CEOID oid,
                                                                          Status* failure) {
  StatementUse use(recordByOid_);
  recordByOid_.BindInt(1, oid);
  const int rc = recordByOid_.Step();
  if (rc == SQLITE_DONE) {
    Fail(failure, ERROR_NO_MORE_ITEMS, "the record does not exist");
    return std::nullopt;
  }
  if (rc != SQLITE_ROW) {
    SqlFail(failure, "cannot read the record");
    return std::nullopt;
  }
  const auto image = recordByOid_.Blob(1);
  return std::make_pair(static_cast<CEOID>(recordByOid_.Int(0)),
                        std::vector<std::uint8_t>(image.begin(), image.end()));
}

CEOID Volume::WriteRecord(CEOID db, CEOID oid, const CEPROPVAL* values, WORD count,
                          Status* failure) {
  const DatabaseInfo* info = Database(db);
  if (!info) {
    Fail(failure, ERROR_INVALID_HANDLE, "the database no longer exists");
    return 0;
  }
  // The record as it will be: existing properties in their places, new ones
  // appended, deleted ones dropped.
  std::vector<PropertyBytes> props;
  std::vector<std::uint8_t> oldImage;
  if (oid != 0) {
    auto existing = Record(oid, failure);
    if (!existing) return 0;
    if (existing->first != db) {
      Fail(failure, ERROR_INVALID_PARAMETER, "the record belongs to another database");
      return 0;
    }
    oldImage = std::move(existing->second);
    auto decoded = DecodeRecordImage(oldImage);
    if (!decoded) {
      Fail(failure, ERROR_FILE_CORRUPT, "the record is damaged in volume '" + path_ + "'");
      return 0;
    }
    for (const auto& p : *decoded) props.push_back({p.id, {p.value.begin(), p.value.end()}});
  }
  for (WORD i = 0; i < count; ++i) {
    const CEPROPVAL& v = values[i];
    auto it = std::find_if(props.begin(), props.end(),
                           [&](const PropertyBytes& p) { return p.id == v.propid; });
    if (v.wFlags & CEDB_PROPDELETE) {
      if (it != props.end()) props.erase(it);
      continue;
    }
    std::vector<std::uint8_t> bytes;
    if (!IsKnownType(TypeFromPropId(v.propid)) || !AppendValueBytes(v, bytes)) {
      Fail(failure, ERROR_INVALID_PARAMETER,
           "property " + std::to_string(IndexFromPropId(v.propid)) +
               " has an unknown type or a value that is too large");
      return 0;
    }
    if (it != props.end()) {
      it->value = std::move(bytes);
    } else {
      props.push_back({v.propid, std::move(bytes)});
    }
  }
  std::size_t total = 0;
  for (const auto& p : props) total += PropertyDataSize(p.id, p.value.size());
  if (total > CEDB_MAXRECORDSIZE || props.size() > 0xFFFF) {
    Fail(failure, ERROR_INVALID_PARAMETER, "the record would be larger than a record may be");
    return 0;
  }
  const auto image = EncodeRecordImage(props);

  if (!BeginWrite(failure)) return 0;
  info = Database(db);  // the database list may have been reloaded
  if (!info) {
    Fail(failure, ERROR_INVALID_HANDLE, "the database no longer exists");
    return 0;
  }
  if (!BeginSavepoint(failure, "cannot write the record")) return 0;
  CEOID target = oid;
  bool ok = oid != 0 || AllocateOid(&target, failure);
  bool orderChanged = oid == 0;
  if (ok && oid == 0) {
    StatementUse use(insertRecord_);
    insertRecord_.BindInt(1, target);
    insertRecord_.BindInt(2, db);
    insertRecord_.BindBlob(3, image);
    if (insertRecord_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot write the record");
    if (ok && info->sorts.empty()) {
      StatementUse k(insertKey_);
      insertKey_.BindInt(1, db);
      insertKey_.BindInt(2, kNaturalSlot);
      insertKey_.BindBlob(3, {});
      insertKey_.BindInt(4, target);
      if (insertKey_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot write the record");
    }
  } else if (ok) {
    StatementUse use(updateRecord_);
    updateRecord_.BindInt(1, target);
    updateRecord_.BindBlob(2, image);
    if (updateRecord_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot write the record");
  }
  for (int slot = 0; ok && slot < static_cast<int>(info->sorts.size()); ++slot) {
    const SortKey newKey = KeyOf(*info, slot, image);
    if (oid != 0) {
      const SortKey oldKey = KeyOf(*info, slot, oldImage);
      if (oldKey == newKey) continue;
      orderChanged = true;
      StatementUse use(deleteKey_);
      deleteKey_.BindInt(1, db);
      deleteKey_.BindInt(2, slot);
      deleteKey_.BindBlob(3, oldKey);
      deleteKey_.BindInt(4, target);
      if (deleteKey_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot write the record");
    }
    if (!ok) break;
    StatementUse use(insertKey_);
    insertKey_.BindInt(1, db);
    insertKey_.BindInt(2, slot);
    insertKey_.BindBlob(3, newKey);
    insertKey_.BindInt(4, target);
    if (insertKey_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot write the record");
  }
  if (!EndSavepoint(ok)) return 0;
  if (oid == 0) ++databases_[db].count;
  if (orderChanged) BumpOrder(db);
  BumpContent(db);
  return target;
}

bool Volume::DeleteRecord(CEOID db, CEOID oid, Status* failure) {
  const DatabaseInfo* info = Database(db);
  if (!info) return Fail(failure, ERROR_INVALID_HANDLE, "the database no longer exists");
  auto existing = Record(oid, failure);
  if (!existing) return false;
  if (existing->first != db) {
    return Fail(failure, ERROR_INVALID_PARAMETER, "the record belongs to another database");
  }
  if (!BeginWrite(failure)) return false;
  info = Database(db);
  if (!info) return Fail(failure, ERROR_INVALID_HANDLE, "the database no longer exists");
  if (!BeginSavepoint(failure, "cannot delete the record")) return false;
  bool ok = true;
  std::vector<int> slots;
  for (int slot = 0; slot < static_cast<int>(info->sorts.size()); ++slot) slots.push_back(slot);
  if (slots.empty()) slots.push_back(kNaturalSlot);
  for (int slot : slots) {
    if (!ok) break;
    StatementUse use(deleteKey_);
    deleteKey_.BindInt(1, db);
    deleteKey_.BindInt(2, slot);
    const SortKey key = KeyOf(*info, slot, existing->second);
    deleteKey_.BindBlob(3, key);
    deleteKey_.BindInt(4, oid);
    if (deleteKey_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot delete the record");
  }
  if (ok) {
    StatementUse use(deleteRecord_);
    deleteRecord_.BindInt(1, oid);
    if (deleteRecord_.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot delete the record");
  }
  if (!EndSavepoint(ok)) return false;
  --databases_[db].count;
  BumpOrder(db);
  BumpContent(db);
  return true;
}

}  // namespace tbm::store
