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

DatabaseStore::DatabaseStore() {
  MDbEnvInitialize(&env_);
  started_ = MDbInit(&env_, 0) == MDbErrNone;
}

DatabaseStore::~DatabaseStore() {
  Close();
  if (started_) MDbShutdown(&env_);
}

std::int32_t DatabaseStore::Open(const std::u16string& path) {
  if (!started_ || opened()) return MDbErrFailed;
  path_ = path;
  return MDbOpen(&env_, path.c_str(), &env_.ref);
}

std::int32_t DatabaseStore::Create(const std::u16string& path) {
  if (!started_ || opened()) return MDbErrFailed;
  path_ = path;
  return MDbCreate(&env_, path.c_str(), &env_.ref);
}

std::int32_t DatabaseStore::Close() {
  if (!opened()) return MDbErrNone;
  if (MDbDataTblIsOpened(&env_, &env_.ref, &env_.data)) {
    MDbDataTblClose(&env_, &env_.ref, &env_.data);
  }
  if (MDbSchemaTblIsOpened(&env_, &env_.ref, &env_.schema)) {
    MDbSchemaTblClose(&env_, &env_.ref, &env_.schema);
  }
  return MDbClose(&env_, &env_.ref);
}

std::int32_t DatabaseStore::GatherChanges() {
  changes_.clear();
  std::int32_t rc = MDbDataTblOpen(&env_, &env_.ref, &env_.data, nullptr);
  if (rc != MDbErrNone) return rc;
  std::uint32_t records = 0;
  std::uint32_t deleted = 0;
  rc = MDbDataTblGetRecCount(&env_, &env_.ref, &env_.data, &records);
  for (std::uint32_t i = 0; rc == MDbErrNone && i < records; ++i) {
    ChangeEntry entry;
    rc = StateAt(&env_, false, static_cast<std::int16_t>(i), &entry);
    if (rc == MDbErrNone && (entry.state & MDbRecModified)) changes_.push_back(entry);
  }
  if (rc == MDbErrNone) rc = MDbDeleteTblGetRecCount(&env_, &env_.ref, &env_.data, &deleted);
  for (std::uint32_t i = 0; rc == MDbErrNone && i < deleted; ++i) {
    ChangeEntry entry;
    rc = StateAt(&env_, true, static_cast<std::int16_t>(i), &entry);
    if (rc == MDbErrNone && (entry.state & (MDbRecDeleted | MDbRecModified))) {
      changes_.push_back(entry);
    }
  }
  const std::int32_t closed = MDbDataTblClose(&env_, &env_.ref, &env_.data);
  if (rc != MDbErrNone) changes_.clear();
  return rc != MDbErrNone ? rc : closed;
}

}  // namespace tbm::sync
