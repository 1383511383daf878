// Read snapshots, the write transaction and its savepoints, flushes,
// batches and rollback, the object counter, and the stamps that tell open
// handles what changed.
#include <algorithm>
#include <chrono>
#include <ctime>

#include "FaultPoint.h"
#include "Volume.h"

namespace tbm::store {

// Beginning a read transaction costs the host file locks, which would make
// every call of a walk pay for them. So between writes the connection keeps
// one read snapshot open across calls, and takes a fresh one when it is
// older than kSnapshotAge, when a handle is opened, and before writing.
// Another process's flushed writes are thus seen at once by a handle opened
// after the flush, and by every call within kSnapshotAge of it.

void Volume::EndRead() {
  if (!readOpen_) return;
  Run(commit_);
  readOpen_ = false;
}

bool Volume::NoteVersion(Status* failure) {
  std::int64_t version;
  {
    StatementUse use(dataVersion_s_);
    if (dataVersion_s_.Step() != SQLITE_ROW) return SqlFail(failure, "cannot read the volume");
    version = dataVersion_s_.Int(0);
  }
  if (version == dataVersion_) return true;
  dataVersion_ = version;
  orderStamps_.clear();
  contentStamps_.clear();
  baseStamp_ = ++stampCounter_;
  return LoadDatabases(failure);
}

// The monotonic time at the clock's coarse resolution (a few milliseconds),
// which is fine for aging a snapshot and costs far less than the precise
// clock on a call made once per store call.
static std::chrono::nanoseconds CoarseNow() {
  timespec t{};
  ::clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

bool Volume::Refresh(Status* failure, bool fresh) {
  if (!db_) return Fail(failure, ERROR_INVALID_HANDLE, "the volume is not mounted");
  if (inWrite_) return true;  // nobody else can commit while this process writes
  const auto now = CoarseNow();
  if (readOpen_ && !fresh && now - readSince_ < kSnapshotAge) return true;
  EndRead();
  if (Run(begin_) != SQLITE_DONE) return SqlFail(failure, "cannot read the volume");
  readOpen_ = true;
  readSince_ = now;
  return NoteVersion(failure);
}

bool Volume::StartWrite(Status* failure) {
  if (!db_) return Fail(failure, ERROR_INVALID_HANDLE, "the volume is not mounted");
  return BeginWrite(failure);
}

void Volume::AbandonUnusedWrite() {
  if (db_ && inWrite_ && !wroteInTransaction_ && batchDepth_ == 0) {
    Run(commit_);
    inWrite_ = false;
  }
}

bool Volume::BeginWrite(Status* failure) {
  if (inWrite_) return true;
  EndRead();
  if (Run(beginImmediate_) != SQLITE_DONE) return SqlFail(failure, "cannot write");
  if (!CheckContent(failure)) {
    Run(rollback_);
    return false;
  }
  inWrite_ = true;
  wroteInTransaction_ = false;
  // Another process may have committed since the last snapshot; what it
  // wrote must be seen before this one writes. When nobody else committed,
  // the object counter held here is still the volume's.
  const std::int64_t seen = dataVersion_;
  if (!NoteVersion(failure)) return false;
  if (nextOidKnown_ && seen == dataVersion_) return true;
  StatementUse use(readNextOid_);
  if (readNextOid_.Step() != SQLITE_ROW || readNextOid_.Int(0) < 1) {
    return Fail(failure, ERROR_FILE_CORRUPT,
                "'" + path_ + "' is a damaged Tabulon Mobile database volume (object counter)");
  }
  nextOid_ = static_cast<std::uint64_t>(readNextOid_.Int(0));
  reservedOids_ = nextOid_;
  nextOidKnown_ = true;
  return true;
}

// Object identifiers are handed out from blocks reserved in the volume, so
// the counter is written once per block rather than once per record. A
// block given up (by another process's write, or a process that died) only
// leaves a gap; no identifier is ever handed out twice.
bool Volume::AllocateOid(CEOID* oid, Status* failure) {
  if (nextOid_ > 0xFFFFFFFF) {
    return Fail(failure, ERROR_DISK_FULL, "the volume has used up its object identifiers");
  }
  if (nextOid_ >= reservedOids_) {
    const std::uint64_t reserve = std::min<std::uint64_t>(nextOid_ + kOidBlock, 0x100000000);
    StatementUse use(writeNextOid_);
    writeNextOid_.BindInt(1, static_cast<std::int64_t>(reserve));
    if (writeNextOid_.Step() != SQLITE_DONE) return SqlFail(failure, "cannot write");
    reservedOids_ = reserve;
  }
  *oid = static_cast<CEOID>(nextOid_++);
  return true;
}

bool Volume::Flush(Status* failure) {
  if (!db_) return Fail(failure, ERROR_INVALID_HANDLE, "the volume is not mounted");
  if (!inWrite_ || batchDepth_ > 0) return true;
  if (Run(commit_) != SQLITE_DONE) return SqlFail(failure, "cannot flush the volume");
  inWrite_ = false;
  FaultPoint(Fault::kAfterFlush);
  return true;
}

bool Volume::BeginBatch(Status* failure) {
  if (!db_) return Fail(failure, ERROR_INVALID_HANDLE, "the volume is not mounted");
  if (batchDepth_ == 0) {
    if (!BeginWrite(failure)) return false;
    batchAbandoned_ = false;
  }
  ++batchDepth_;
  return true;
}

bool Volume::EndBatch(bool keep, Status* failure) {
  if (!db_) return Fail(failure, ERROR_INVALID_HANDLE, "the volume is not mounted");
  if (batchDepth_ == 0) return Fail(failure, ERROR_INVALID_PARAMETER, "no batch is open");
  if (!keep) batchAbandoned_ = true;
  if (--batchDepth_ > 0) return true;
  if (batchAbandoned_) {
    batchAbandoned_ = false;
    RollBack(nullptr);
    return keep ? Fail(failure, ERROR_INVALID_PARAMETER,
                       "a batch inside this one gave up its writes; none was kept")
                : true;
  }
  return Flush(failure);
}

// Gives up every write since the last flush. What this process remembers of
// the volume (its databases, the object counter, the order stamps of open
// handles) is read afresh, as after another process's commit.
bool Volume::RollBack(Status* failure) {
  if (!inWrite_) return true;
  Run(rollback_);
  inWrite_ = false;
  nextOidKnown_ = false;
  orderStamps_.clear();
  contentStamps_.clear();
  baseStamp_ = ++stampCounter_;
  return LoadDatabases(failure);
}

// Each write call runs inside a savepoint, so that it lands whole or not at
// all within the transaction that the next flush commits.
bool Volume::BeginSavepoint(Status* failure, const char* what) {
  if (Run(savepoint_) != SQLITE_DONE) return SqlFail(failure, what);
  return true;
}

bool Volume::EndSavepoint(bool ok) {
  if (!ok) Run(rollbackTo_);
  Run(release_);
  if (ok) {
    wroteInTransaction_ = true;
    FaultPoint(Fault::kAfterWrite);
  }
  return ok;
}

void Volume::BumpOrder(CEOID db) { orderStamps_[db] = ++stampCounter_; }

void Volume::BumpContent(CEOID db) { contentStamps_[db] = ++stampCounter_; }

std::uint64_t Volume::ContentStamp(CEOID db) const {
  const auto it = contentStamps_.find(db);
  return it == contentStamps_.end() ? baseStamp_ : it->second;
}

std::uint64_t Volume::OrderStamp(CEOID db) const {
  const auto it = orderStamps_.find(db);
  return it == orderStamps_.end() ? baseStamp_ : it->second;
}

}  // namespace tbm::store
