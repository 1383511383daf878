// The volume's list of databases: loading it, looking databases up, and
// creating, deleting and changing them (rebuilding the keys of a changed
// sort order).
#include <unicode/ustring.h>

#include <algorithm>

#include "Utf16.h"
#include "Volume.h"

namespace tbm::store {
namespace {

std::vector<std::uint8_t> PackUtf16(std::u16string_view text) {
  std::vector<std::uint8_t> out(text.size() * 2);
  for (std::size_t i = 0; i < text.size(); ++i) {
    out[2 * i] = static_cast<std::uint8_t>(text[i]);
    out[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
  return out;
}

std::optional<std::u16string> UnpackUtf16(std::span<const std::uint8_t> bytes) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  std::u16string out(bytes.size() / 2, u'\0');
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  }
  return out;
}

std::u16string Fold(std::u16string_view name) {
  std::u16string out(name.size() * 3 + 1, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  const int32_t n = u_strFoldCase(out.data(), static_cast<int32_t>(out.size()), name.data(),
                                  static_cast<int32_t>(name.size()), U_FOLD_CASE_DEFAULT, &status);
  if (U_FAILURE(status)) return std::u16string(name);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::vector<std::uint8_t> PackSorts(const std::vector<SORTORDERSPEC>& sorts) {
  std::vector<std::uint8_t> out;
  for (const auto& s : sorts) {
    for (DWORD v : {s.propid, s.dwFlags}) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
  }
  return out;
}

std::optional<std::vector<SORTORDERSPEC>> UnpackSorts(std::span<const std::uint8_t> bytes) {
  if (bytes.size() % 8 != 0 || bytes.size() > 8 * CEDB_MAXSORTORDER) return std::nullopt;
  std::vector<SORTORDERSPEC> out;
  for (std::size_t at = 0; at < bytes.size(); at += 8) {
    auto word = [&](std::size_t o) {
      return static_cast<DWORD>(bytes[o] | (bytes[o + 1] << 8) | (bytes[o + 2] << 16) |
                                (static_cast<DWORD>(bytes[o + 3]) << 24));
    };
    SORTORDERSPEC s{word(at), word(at + 4)};
    if (!IsKnownType(TypeFromPropId(s.propid))) return std::nullopt;
    out.push_back(s);
  }
  return out;
}

}  // namespace

bool Volume::LoadDatabases(Status* failure) {
  databases_.clear();
  Statement s(db_, "SELECT oid, name, type, sorts FROM dbs ORDER BY oid");
  if (!s.Valid()) return SqlFail(failure, "cannot read the volume's databases");
  int rc;
  while ((rc = s.Step()) == SQLITE_ROW) {
    DatabaseInfo info;
    info.oid = static_cast<CEOID>(s.Int(0));
    auto name = UnpackUtf16(s.Blob(1));
    auto sorts = UnpackSorts(s.Blob(3));
    if (!name || !sorts || s.Int(0) <= 0 || s.Int(0) > 0xFFFFFFFF) {
      return Fail(failure, ERROR_FILE_CORRUPT,
                  "'" + path_ + "' is a damaged Tabulon Mobile database volume (database list)");
    }
    info.name = std::move(*name);
    info.type = static_cast<DWORD>(s.Int(2));
    info.sorts = std::move(*sorts);
    databases_[info.oid] = std::move(info);
  }
  if (rc != SQLITE_DONE) return SqlFail(failure, "cannot read the volume's databases");
  // Every record has one key in its database's primary slot, so counting
  // those counts the records.
  for (auto& [oid, info] : databases_) {
    StatementUse use(countInSlot_);
    countInSlot_.BindInt(1, oid);
    countInSlot_.BindInt(2, PrimarySlot(info));
    if (countInSlot_.Step() != SQLITE_ROW) return SqlFail(failure, "cannot count the records");
    info.count = static_cast<DWORD>(countInSlot_.Int(0));
  }
  return true;
}

int Volume::PrimarySlot(const DatabaseInfo& info) { return info.sorts.empty() ? kNaturalSlot : 0; }

const DatabaseInfo* Volume::Database(CEOID oid) const {
  const auto it = databases_.find(oid);
  return it == databases_.end() ? nullptr : &it->second;
}

const DatabaseInfo* Volume::DatabaseByName(std::u16string_view name) const {
  for (const auto& [oid, info] : databases_) {
    if (EqualsIgnoreCase(info.name, name)) return &info;
  }
  return nullptr;
}

std::vector<CEOID> Volume::Databases(DWORD type) const {
  std::vector<CEOID> out;
  for (const auto& [oid, info] : databases_) {
    if (type == 0 || info.type == type) out.push_back(oid);
  }
  return out;
}

CEOID Volume::CreateDatabase(std::u16string_view name, DWORD type,
                             const std::vector<SORTORDERSPEC>& sorts, Status* failure) {
  if (DatabaseByName(name)) {
    Fail(failure, ERROR_DUP_NAME, "a database with this name exists in the volume");
    return 0;
  }
  if (!BeginWrite(failure)) return 0;
  if (DatabaseByName(name)) {
    Fail(failure, ERROR_DUP_NAME, "a database with this name exists in the volume");
    return 0;
  }
  CEOID oid = 0;
  if (!AllocateOid(&oid, failure)) return 0;
  Statement insert(db_,
                   "INSERT INTO dbs(oid, name, folded, type, sorts) VALUES(?1, ?2, ?3, ?4, ?5)");
  const auto packedName = PackUtf16(name);
  const auto packedFold = PackUtf16(Fold(name));
  const auto packedSorts = PackSorts(sorts);
  insert.BindInt(1, oid);
  insert.BindBlob(2, packedName);
  insert.BindBlob(3, packedFold);
  insert.BindInt(4, type);
  insert.BindBlob(5, packedSorts);
  if (insert.Step() != SQLITE_DONE) {
    SqlFail(failure, "cannot create the database");
    return 0;
  }
  wroteInTransaction_ = true;
  databases_[oid] = DatabaseInfo{oid, std::u16string(name), type, 0, sorts};
  BumpOrder(oid);
  return oid;
}

bool Volume::DeleteDatabase(CEOID oid, Status* failure) {
  if (!Database(oid)) return Fail(failure, ERROR_INVALID_PARAMETER, "no such database");
  if (!BeginWrite(failure)) return false;
  const DatabaseInfo* info = Database(oid);
  if (!info) return Fail(failure, ERROR_INVALID_PARAMETER, "no such database");
  const int primary = PrimarySlot(*info);
  if (!BeginSavepoint(failure, "cannot delete the database")) return false;
  bool ok = true;
  for (const char* sql :
       {"DELETE FROM rec WHERE oid IN (SELECT oid FROM keys WHERE db = ?1 AND slot = ?2)",
        "DELETE FROM keys WHERE db = ?1", "DELETE FROM dbs WHERE oid = ?1"}) {
    Statement s(db_, sql);
    s.BindInt(1, oid);
    if (sqlite3_bind_parameter_count(s.get()) >= 2) s.BindInt(2, primary);
    if (s.Step() != SQLITE_DONE) {
      ok = SqlFail(failure, "cannot delete the database");
      break;
    }
  }
  if (!EndSavepoint(ok)) return false;
  databases_.erase(oid);
  BumpOrder(oid);
  BumpContent(oid);
  return true;
}

bool Volume::InsertKeys(CEOID db, int slot, std::vector<std::pair<SortKey, CEOID>>& rows,
                        Status* failure) {
  std::sort(rows.begin(), rows.end());
  for (const auto& [key, oid] : rows) {
    StatementUse use(insertKey_);
    insertKey_.BindInt(1, db);
    insertKey_.BindInt(2, slot);
    insertKey_.BindBlob(3, key);
    insertKey_.BindInt(4, oid);
    if (insertKey_.Step() != SQLITE_DONE) return SqlFail(failure, "cannot order the records");
  }
  return true;
}

bool Volume::SetDatabaseInfo(CEOID oid, const std::optional<std::u16string>& name,
                             std::optional<DWORD> type,
                             const std::optional<std::vector<SORTORDERSPEC>>& sorts,
                             Status* failure) {
  const DatabaseInfo* current = Database(oid);
  if (!current) return Fail(failure, ERROR_INVALID_PARAMETER, "no such database");
  if (name) {
    const DatabaseInfo* other = DatabaseByName(*name);
    if (other && other->oid != oid) {
      return Fail(failure, ERROR_DUP_NAME, "a database with this name exists in the volume");
    }
  }
  if (!BeginWrite(failure)) return false;
  if (!BeginSavepoint(failure, "cannot change the database")) return false;
  DatabaseInfo updated = *current;
  if (name) updated.name = *name;
  if (type) updated.type = *type;
  if (sorts) updated.sorts = *sorts;
  bool ok = true;
  {
    Statement s(db_, "UPDATE dbs SET name = ?2, folded = ?3, type = ?4, sorts = ?5 WHERE oid = ?1");
    const auto packedName = PackUtf16(updated.name);
    const auto packedFold = PackUtf16(Fold(updated.name));
    const auto packedSorts = PackSorts(updated.sorts);
    s.BindInt(1, oid);
    s.BindBlob(2, packedName);
    s.BindBlob(3, packedFold);
    s.BindInt(4, updated.type);
    s.BindBlob(5, packedSorts);
    if (s.Step() != SQLITE_DONE) ok = SqlFail(failure, "cannot change the database");
  }
  if (ok && sorts) ok = Reorder(*current, updated, failure);
  if (!EndSavepoint(ok)) return false;
  databases_[oid] = std::move(updated);
  BumpOrder(oid);
  return true;
}

// Rebuilds the keys of every slot whose order changed; a slot that keeps its
// order keeps its keys. A database without sort orders keeps its records in
// the natural slot.
bool Volume::Reorder(const DatabaseInfo& current, const DatabaseInfo& updated, Status* failure) {
  std::vector<int> drop, build;
  for (int slot = 0; slot < CEDB_MAXSORTORDER; ++slot) {
    const bool had = slot < static_cast<int>(current.sorts.size());
    const bool has = slot < static_cast<int>(updated.sorts.size());
    if (!had && !has) continue;
    if (had && has && current.sorts[slot].propid == updated.sorts[slot].propid &&
        current.sorts[slot].dwFlags == updated.sorts[slot].dwFlags) {
      continue;
    }
    if (had) drop.push_back(slot);
    if (has) build.push_back(slot);
  }
  if (current.sorts.empty() && !updated.sorts.empty()) drop.push_back(kNaturalSlot);
  if (!current.sorts.empty() && updated.sorts.empty()) build.push_back(kNaturalSlot);

  std::vector<std::vector<std::pair<SortKey, CEOID>>> rows(build.size());
  if (!build.empty()) {
    StatementUse use(imagesOfDb_);
    imagesOfDb_.BindInt(1, current.oid);
    imagesOfDb_.BindInt(2, PrimarySlot(current));
    int rc;
    while ((rc = imagesOfDb_.Step()) == SQLITE_ROW) {
      const CEOID rec = static_cast<CEOID>(imagesOfDb_.Int(0));
      for (std::size_t i = 0; i < build.size(); ++i) {
        rows[i].emplace_back(KeyOf(updated, build[i], imagesOfDb_.Blob(1)), rec);
      }
    }
    if (rc != SQLITE_DONE) return SqlFail(failure, "cannot read the records");
  }
  for (int slot : drop) {
    Statement s(db_, "DELETE FROM keys WHERE db = ?1 AND slot = ?2");
    s.BindInt(1, current.oid);
    s.BindInt(2, slot);
    if (s.Step() != SQLITE_DONE)
      return SqlFail(failure, "cannot change the database's sort orders");
  }
  for (std::size_t i = 0; i < build.size(); ++i) {
    if (!InsertKeys(current.oid, build[i], rows[i], failure)) return false;
  }
  return true;
}

}  // namespace tbm::store
