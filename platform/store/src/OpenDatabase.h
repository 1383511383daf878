// An open database handle: the sort order it walks in and its own current
// record, kept as the record's identifier, key, image and position so that
// a walk step by step costs one lookup per step.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Volume.h"

namespace tbm::store {

class OpenDatabase {
 public:
  OpenDatabase(std::shared_ptr<Volume> volume, CEOID db, CEPROPID sortProperty, DWORD flags)
      : volume_(std::move(volume)), db_(db), sortProperty_(sortProperty), flags_(flags) {}

  const std::shared_ptr<Volume>& volume() const { return volume_; }
  CEOID db() const { return db_; }

  // The calls below need volume()->mutex() held and the volume refreshed.
  CEOID Seek(DWORD seekType, std::uintptr_t value, DWORD* index, Status* failure);
  CEOID Read(DWORD flags, WORD* count, const CEPROPID* ids, BYTE** buffer, DWORD* bufferBytes,
             Status* failure);
  // Keeps the current record right after another call deleted it.
  void Forget(CEOID oid);

 private:
  struct Current {
    bool valid = false;    // a record is current
    bool deleted = false;  // it has been deleted since; key still marks its place
    CEOID oid = 0;
    SortKey key;
    std::vector<std::uint8_t> image;
    std::int64_t position = -1;  // -1: not known
    std::uint64_t orderStamp = 0;
    std::uint64_t contentStamp = 0;
    int slot = kNaturalOrder;
  };

  int Slot(const DatabaseInfo& info) const;
  std::optional<OrderRow> NextRow(int slot, Status* failure);
  const std::vector<StoredProperty>* Decoded();
  void Take(OrderRow&& row, std::int64_t position, int slot);
  bool Revalidate(const DatabaseInfo& info, int slot, Status* failure);
  std::optional<OrderRow> MoveToPosition(const DatabaseInfo& info, int slot, std::uint32_t position,
                                         Status* failure);

  // The kinds of Seek. Each makes the record it finds current and returns
  // its identifier (its position in *index when index is given), or returns
  // 0 with *failure filled.
  CEOID SeekRecord(const DatabaseInfo& info, int slot, CEOID oid, DWORD* index, Status* failure);
  CEOID SeekPosition(const DatabaseInfo& info, int slot, bool fromEnd, DWORD value, DWORD* index,
                     Status* failure);
  CEOID SeekFromCurrent(const DatabaseInfo& info, int slot, std::int32_t offset, DWORD* index,
                        Status* failure);
  CEOID SeekValue(const DatabaseInfo& info, int slot, DWORD seekType, const CEPROPVAL* wanted,
                  DWORD* index, Status* failure);
  CEOID SeekNextEqual(int slot, const SortKey& key, DWORD* index, Status* failure);
  CEOID Land(std::optional<OrderRow> row, std::int64_t position, int slot, DWORD* index,
             Status* failure);
  CEOID ReportCurrent(int slot, DWORD* index, Status* failure);

  // The steps of Read.
  bool StartAtFirstRecord(const DatabaseInfo& info, Status* failure);
  const std::vector<StoredProperty>* CurrentProperties(Status* failure);
  bool RefreshCurrentImage(Status* failure);
  void ChooseProperties(const std::vector<StoredProperty>& props, const CEPROPID* ids, WORD count);
  std::size_t BytesNeeded() const;
  bool FitBuffer(DWORD flags, BYTE** buffer, DWORD* bufferBytes, Status* failure);
  void FillBuffer(BYTE* buffer) const;
  void StepAfterRead();

  std::shared_ptr<Volume> volume_;
  CEOID db_;
  CEPROPID sortProperty_;
  DWORD flags_;
  Current current_;
  bool started_ = false;  // the first record becomes current at the first call

  // Records following the current one, fetched together so that a walk
  // step by step costs one lookup per batch; good while nothing in the
  // volume was written and the order is the same.
  std::vector<OrderRow> ahead_;
  std::size_t aheadAt_ = 0;
  CEOID aheadAfter_ = 0;
  int aheadSlot_ = kNaturalOrder;
  std::uint64_t aheadOrderStamp_ = 0;
  std::uint64_t aheadContentStamp_ = 0;

  // The current record's properties, decoded once for all its reads.
  std::vector<StoredProperty> decoded_;
  bool decodedValid_ = false;

  // Scratch space of Read, kept so that a read allocates nothing of its own.
  std::vector<const StoredProperty*> chosen_;
  std::vector<CEPROPID> wanted_;
};

}  // namespace tbm::store
