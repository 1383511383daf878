#include "DatabaseStore.h"

namespace tbm::sync {

namespace {

// Reads the state of the record at position of the data table, or of the
// delete table when fromDeleteTable is set, with its identifier.
std::int32_t StateAt(MDbEnv* env, bool fromDeleteTable, std::int16_t position, ChangeEntry* entry) {
  MDbDataRec rec;
  MDbDataRecInitialize(&rec);
  std::int32_t rc;
  if (fromDeleteTable) {
    rc = MDbDeleteTblOpenRec(env, &env->ref, &env->data, &rec, position, nullptr);
  } else {
    rc = MDbDataTblCursSetInx(env, &env->ref, &env->data, position);
    if (rc == MDbErrNone) rc = MDbDataTblOpenRec(env, &env->ref, &env->data, &rec, nullptr);
  }
  if (rc != MDbErrNone) return rc;
  rc = MDbDataRecGetState(env, &env->ref, &env->data, &rec, &entry->state);
  entry->oid = rec.oid;
  MDbDataTblCloseRec(env, &env->ref, &env->data, &rec);
  return rc;
}

}  // namespace

DatabaseStore::DatabaseStore() { engine_.Start(/*wordBreak=*/false); }

std::int32_t DatabaseStore::Open(const std::u16string& path) {
  if (!started() || opened()) return MDbErrFailed;
  path_ = path;
  const std::int32_t rc = engine_.OpenVolume(path.c_str());
  // The engine leaves a volume whose header is missing or of another
  // version mounted; nothing here can use it, and a volume left mounted
  // would make every later Open fail.
  if (rc != MDbErrNone && opened()) engine_.Close();
  return rc;
}

std::int32_t DatabaseStore::Create(const std::u16string& path) {
  if (!started() || opened()) return MDbErrFailed;
  path_ = path;
  return engine_.CreateVolume(path.c_str());
}

std::int32_t DatabaseStore::Close() { return engine_.Close(); }

std::int32_t DatabaseStore::GatherChanges() {
  changes_.clear();
  MDbEnv* env = engine_.env();
  std::int32_t rc = MDbDataTblOpen(env, &env->ref, &env->data, nullptr);
  if (rc != MDbErrNone) return rc;
  std::uint32_t records = 0;
  std::uint32_t deleted = 0;
  rc = MDbDataTblGetRecCount(env, &env->ref, &env->data, &records);
  for (std::uint32_t i = 0; rc == MDbErrNone && i < records; ++i) {
    ChangeEntry entry;
    rc = StateAt(env, false, static_cast<std::int16_t>(i), &entry);
    if (rc == MDbErrNone && (entry.state & MDbRecModified)) changes_.push_back(entry);
  }
  if (rc == MDbErrNone) rc = MDbDeleteTblGetRecCount(env, &env->ref, &env->data, &deleted);
  for (std::uint32_t i = 0; rc == MDbErrNone && i < deleted; ++i) {
    ChangeEntry entry;
    rc = StateAt(env, true, static_cast<std::int16_t>(i), &entry);
    if (rc == MDbErrNone && (entry.state & (MDbRecDeleted | MDbRecModified))) {
      changes_.push_back(entry);
    }
  }
  const std::int32_t closed = MDbDataTblClose(env, &env->ref, &env->data);
  if (rc != MDbErrNone) changes_.clear();
  return rc != MDbErrNone ? rc : closed;
}

}  // namespace tbm::sync
