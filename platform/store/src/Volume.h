// One mounted volume: its SQLite connection, the databases it holds, and the
// record writes and ordered lookups every handle on it goes through.
//
// Layout of the file (an SQLite database with application id "TBMV"):
//   volume(key, value)        next_oid: the first object identifier not yet
//                             reserved
//   dbs(oid, name, folded, type, sorts)
//                             one row per database; sorts packs up to four
//                             (property identifier, flags) pairs
//   rec(oid, db, image)       one row per record; image as RecordImage.h says
//   keys(db, slot, key, oid)  one row per record and sort order, in key
//                             order; a database without sort orders has one
//                             row per record in slot 4 with an empty key
//
// Writes go into one SQLite transaction that begins with the first write
// after a flush and commits at the next flush, each call inside its own
// savepoint so that it is whole or nothing. Inside a batch the flushes are
// put off until the batch ends, so the batch's writes land together.
//
// The process holds a shared lock on the file while it is mounted (see
// VolumeFile.h).
//
// Every member must be called with mutex() held; Refresh() first, so that
// commits by other processes are seen.
//
// The members are defined by concern:
//   VolumeMount.cpp         mounting, opening and closing; creating the
//                           layout of a new file and checking an existing one
//   VolumeStatements.cpp    the prepared statements, running them, and
//                           SQLite's failures turned into the store's errors
//   VolumeTransactions.cpp  read snapshots, writes, savepoints, flushes,
//                           batches and rollback; the object counter; the
//                           order and content stamps
//   VolumeDatabases.cpp     the database list: loading, lookup, create,
//                           delete, change (and rebuilding changed orders)
//   VolumeRecords.cpp       reading a record by identifier; writing and
//                           deleting records with their keys
//   VolumeOrder.cpp         ordered lookups and the sort keys of records
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "CeDb.h"
#include "RecordImage.h"
#include "SortKey.h"
#include "Sqlite.h"
#include "Status.h"
#include "VolumeFile.h"

namespace tbm::store {

struct DatabaseInfo {
  CEOID oid = 0;
  std::u16string name;
  DWORD type = 0;
  DWORD count = 0;
  std::vector<SORTORDERSPEC> sorts;
};

// A record as an ordered lookup finds it.
struct OrderRow {
  CEOID oid = 0;
  SortKey key;
  std::vector<std::uint8_t> image;
};

// How long a read snapshot may serve calls before other processes' flushed
// writes are looked for again.
constexpr std::chrono::milliseconds kSnapshotAge{20};

// Natural order: by object identifier, without a sort key.
constexpr int kNaturalOrder = -1;
// The keys slot that keeps natural order for a database without sort orders.
constexpr int kNaturalSlot = CEDB_MAXSORTORDER;
// Object identifiers reserved in the volume at a time.
constexpr std::uint64_t kOidBlock = 1024;

class Volume {
 public:
  // Mounts hostPath; on failure returns null and fills *failure.
  static std::shared_ptr<Volume> Mount(const std::string& hostPath, DWORD disposition,
                                       Status* failure);
  ~Volume();
  Volume(const Volume&) = delete;
  Volume& operator=(const Volume&) = delete;

  std::mutex& mutex() { return mutex_; }
  const std::string& path() const { return path_; }
  bool mounted() const { return db_ != nullptr; }

  // Flushes and closes the connection; later calls fail.
  bool Close(Status* failure);

  // Picks up commits made by other processes: at once when fresh is set,
  // otherwise when the read snapshot is older than kSnapshotAge.
  bool Refresh(Status* failure, bool fresh = false);

  // Takes the volume's write lock ahead of a write call, seeing what other
  // processes flushed before it.
  bool StartWrite(Status* failure);
  // Gives the write lock back when nothing was written since it was taken,
  // so a refused write does not keep other processes waiting.
  void AbandonUnusedWrite();

  // Commits pending writes; inside a batch, does nothing until it ends.
  bool Flush(Status* failure);

  // Batches nest; the outermost one takes the write lock at once (so what
  // the batch reads is what it writes over) and its end commits every
  // write since, or with keep false rolls them all back. A batch ended
  // without keep makes every batch around it roll back too.
  bool BeginBatch(Status* failure);
  bool EndBatch(bool keep, Status* failure);

  // ---- databases ----
  const DatabaseInfo* Database(CEOID oid) const;
  const DatabaseInfo* DatabaseByName(std::u16string_view name) const;
  std::vector<CEOID> Databases(DWORD type) const;
  CEOID CreateDatabase(std::u16string_view name, DWORD type,
                       const std::vector<SORTORDERSPEC>& sorts, Status* failure);
  bool DeleteDatabase(CEOID oid, Status* failure);
  bool SetDatabaseInfo(CEOID oid, const std::optional<std::u16string>& name,
                       std::optional<DWORD> type,
                       const std::optional<std::vector<SORTORDERSPEC>>& sorts, Status* failure);

  // ---- records ----
  // The database and image of a record; nothing when it does not exist.
  std::optional<std::pair<CEOID, std::vector<std::uint8_t>>> Record(CEOID oid, Status* failure);
  // Writes values into record oid of database db (0: a new record). Returns
  // the record's identifier, or 0.
  CEOID WriteRecord(CEOID db, CEOID oid, const CEPROPVAL* values, WORD count, Status* failure);
  bool DeleteRecord(CEOID db, CEOID oid, Status* failure);

  // ---- ordered lookups in database db, order slot (kNaturalOrder or a sort
  // order index). Each returns nothing when no record is there. ----
  std::optional<OrderRow> AtPosition(CEOID db, int slot, std::uint32_t position, bool fromEnd,
                                     Status* failure);
  std::optional<OrderRow> Following(CEOID db, int slot, const SortKey& key, CEOID oid,
                                    std::uint32_t skip, bool backwards, Status* failure);
  // Up to limit records following (key, oid), in order, into rows.
  bool FollowingRows(CEOID db, int slot, const SortKey& key, CEOID oid, std::uint32_t limit,
                     std::vector<OrderRow>* rows, Status* failure);
  std::optional<OrderRow> FirstWithKey(CEOID db, int slot, const SortKey& key, Status* failure);
  std::optional<OrderRow> NearestKey(CEOID db, int slot, const SortKey& key, bool below,
                                     Status* failure);
  std::optional<std::uint32_t> PositionOf(CEOID db, int slot, const SortKey& key, CEOID oid,
                                          Status* failure);

  // The key of a record image in a sort order slot (empty for natural).
  SortKey KeyOf(const DatabaseInfo& info, int slot, std::span<const std::uint8_t> image);
  SortKey KeyOfValue(const SORTORDERSPEC& spec, std::span<const std::uint8_t> valueBytes);

  // Stamps that change whenever the order of a database may have changed,
  // and whenever a record of it may have been written.
  std::uint64_t OrderStamp(CEOID db) const;
  std::uint64_t ContentStamp(CEOID db) const;

 private:
  Volume() = default;
  bool Open(const std::string& hostPath, bool create, Status* failure);
  bool OpenConnection(bool create, Status* failure);
  void UndoOpen(bool create, bool hadWal, bool hadShm);
  bool RollBack(Status* failure);
  bool CreateLayout(Status* failure);
  bool CheckLayout(Status* failure);
  bool CheckContent(Status* failure);
  std::string Damaged(const std::string& detail) const;
  bool CheckFailed(Status* failure, int rc, const std::string& damaged) const;
  static bool IsContentFault(int rc);
  bool PrepareStatements(Status* failure);
  bool LoadDatabases(Status* failure);
  bool BeginWrite(Status* failure);
  void EndRead();
  bool NoteVersion(Status* failure);
  int Run(Statement& s);
  std::vector<Statement*> AllStatements();
  bool Exec(const char* sql, Status* failure);
  bool Fail(Status* failure, DWORD error, std::string message) const;
  bool SqlFail(Status* failure, const char* what) const;
  void BumpOrder(CEOID db);
  void BumpContent(CEOID db);
  bool AllocateOid(CEOID* oid, Status* failure);
  bool BeginSavepoint(Status* failure, const char* what);
  bool EndSavepoint(bool ok);
  bool Reorder(const DatabaseInfo& current, const DatabaseInfo& updated, Status* failure);
  static int PrimarySlot(const DatabaseInfo& info);
  struct OrderStatements;
  std::pair<OrderStatements*, int> Order(CEOID db, int slot);
  bool InsertKeys(CEOID db, int slot, std::vector<std::pair<SortKey, CEOID>>& rows,
                  Status* failure);
  std::optional<OrderRow> RowFrom(Statement& s, int rc, Status* failure);

  struct OrderStatements {
    Statement atStart, atEnd, after, before, countBefore;
  };

  std::mutex mutex_;
  std::string path_;
  VolumeFileLock fileLock_;
  sqlite3* db_ = nullptr;
  int batchDepth_ = 0;
  bool batchAbandoned_ = false;
  bool inWrite_ = false;
  bool contentChecked_ = false;
  std::string contentDamage_;
  bool wroteInTransaction_ = false;
  bool readOpen_ = false;
  std::chrono::nanoseconds readSince_{0};  // monotonic, coarse
  std::int64_t dataVersion_ = 0;
  std::uint64_t nextOid_ = 1;
  std::uint64_t reservedOids_ = 1;
  bool nextOidKnown_ = false;
  std::map<CEOID, DatabaseInfo> databases_;
  SortKeyMaker keyMaker_;

  std::uint64_t stampCounter_ = 1;
  std::uint64_t baseStamp_ = 1;
  std::unordered_map<CEOID, std::uint64_t> orderStamps_;
  std::unordered_map<CEOID, std::uint64_t> contentStamps_;

  OrderStatements keyed_, natural_;
  Statement dataVersion_s_, keyEqual_, keyBelow_, keyAbove_, recordByOid_, insertRecord_,
      updateRecord_, deleteRecord_, insertKey_, deleteKey_, countInSlot_, savepoint_, release_,
      rollbackTo_, imagesOfDb_, begin_, beginImmediate_, commit_, rollback_, readNextOid_,
      writeNextOid_;
};

}  // namespace tbm::store
