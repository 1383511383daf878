#include "OpenDatabase.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>

#include "HostErrors.h"

namespace tbm::store {
namespace {

constexpr std::size_t kAlign = alignof(CEPROPVAL);

std::size_t AlignUp(std::size_t n) { return (n + kAlign - 1) / kAlign * kAlign; }

// The bytes a property's value takes in a read buffer: strings get their
// terminator back.
std::size_t BufferBytes(const StoredProperty& p) {
  return AlignUp(p.value.size() + (TypeFromPropId(p.id) == CEVT_LPWSTR ? 2 : 0));
}

std::uint32_t LoadLittleEndian(std::span<const std::uint8_t> v) {
  std::uint32_t x = 0;
  for (std::size_t i = v.size(); i-- > 0;) x = (x << 8) | v[i];
  return x;
}

CEOID NoRecord(Status* failure) {
  *failure = PlatformFailure(ERROR_NO_MORE_ITEMS, "no record is there");
  return 0;
}

// Fills v's value from a stored property; a string or byte block is copied
// to data, and the returned pointer is where the next one goes.
BYTE* CopyValue(const StoredProperty& p, CEPROPVAL& v, BYTE* data) {
  v.wLenData = static_cast<WORD>(std::min<std::size_t>(p.value.size(), 0xFFFF));
  switch (TypeFromPropId(p.id)) {
    case CEVT_UI2:
      v.val.uiVal = static_cast<USHORT>(LoadLittleEndian(p.value));
      break;
    case CEVT_I4:
      v.val.lVal = static_cast<LONG>(LoadLittleEndian(p.value));
      break;
    case CEVT_UI4:
      v.val.ulVal = LoadLittleEndian(p.value);
      break;
    case CEVT_BOOL:
      v.val.boolVal = static_cast<BOOL>(LoadLittleEndian(p.value));
      break;
    case CEVT_LPWSTR: {
      auto* text = reinterpret_cast<WCHAR*>(data);
      const std::size_t units = p.value.size() / 2;
      if constexpr (std::endian::native == std::endian::little) {
        if (units > 0) std::memcpy(text, p.value.data(), units * 2);
      } else {
        for (std::size_t u = 0; u < units; ++u) {
          text[u] = static_cast<WCHAR>(p.value[2 * u] | (p.value[2 * u + 1] << 8));
        }
      }
      text[units] = 0;
      v.val.lpwstr = text;
      data += BufferBytes(p);
      break;
    }
    case CEVT_BLOB:
      v.val.blob.dwCount = static_cast<DWORD>(p.value.size());
      v.val.blob.lpb = data;
      if (!p.value.empty()) std::memcpy(data, p.value.data(), p.value.size());
      data += BufferBytes(p);
      break;
    default:
      break;
  }
  return data;
}

}  // namespace

int OpenDatabase::Slot(const DatabaseInfo& info) const {
  if (sortProperty_ == 0) return kNaturalOrder;
  for (std::size_t i = 0; i < info.sorts.size(); ++i) {
    if (info.sorts[i].propid == sortProperty_) return static_cast<int>(i);
  }
  return kNaturalOrder;
}

// Rows fetched at a time for a walk forward.
constexpr std::uint32_t kReadAhead = 64;

std::optional<OrderRow> OpenDatabase::NextRow(int slot, Status* failure) {
  const bool fresh = aheadAfter_ == current_.oid && aheadSlot_ == slot &&
                     aheadOrderStamp_ == volume_->OrderStamp(db_) &&
                     aheadContentStamp_ == volume_->ContentStamp(db_) && !current_.deleted;
  if (!fresh || aheadAt_ >= ahead_.size()) {
    if (!volume_->FollowingRows(db_, slot, current_.key, current_.oid, kReadAhead, &ahead_,
                                failure)) {
      return std::nullopt;
    }
    aheadAt_ = 0;
    aheadSlot_ = slot;
    aheadOrderStamp_ = volume_->OrderStamp(db_);
    aheadContentStamp_ = volume_->ContentStamp(db_);
  }
  if (aheadAt_ >= ahead_.size()) {
    aheadAfter_ = 0;
    *failure = PlatformFailure(ERROR_NO_MORE_ITEMS, "no record is there");
    return std::nullopt;
  }
  OrderRow row = std::move(ahead_[aheadAt_++]);
  aheadAfter_ = row.oid;  // the rows left follow the one handed out
  return row;
}

const std::vector<StoredProperty>* OpenDatabase::Decoded() {
  if (!decodedValid_) {
    auto props = DecodeRecordImage(current_.image);
    if (!props) return nullptr;
    decoded_ = std::move(*props);
    decodedValid_ = true;
  }
  return &decoded_;
}

void OpenDatabase::Take(OrderRow&& row, std::int64_t position, int slot) {
  decodedValid_ = false;
  current_.valid = true;
  current_.deleted = false;
  current_.oid = row.oid;
  current_.key = std::move(row.key);
  current_.image = std::move(row.image);
  current_.position = position;
  current_.slot = slot;
  current_.orderStamp = volume_->OrderStamp(db_);
  current_.contentStamp = volume_->ContentStamp(db_);
}

void OpenDatabase::Forget(CEOID oid) {
  if (current_.valid && current_.oid == oid) {
    current_.deleted = true;
    current_.position = -1;
  }
}

// Brings the current record up to date after writes: its key may have moved
// it, and positions may have shifted.
bool OpenDatabase::Revalidate(const DatabaseInfo& info, int slot, Status* failure) {
  if (!current_.valid) return true;
  if (current_.orderStamp == volume_->OrderStamp(db_) && current_.slot == slot) return true;
  current_.position = -1;
  current_.slot = slot;
  current_.orderStamp = volume_->OrderStamp(db_);
  if (current_.deleted) return true;
  Status lookup;
  auto record = volume_->Record(current_.oid, &lookup);
  if (!record || record->first != db_) {
    if (record || lookup.platformError() == ERROR_NO_MORE_ITEMS) {
      // Deleted by another handle or process: the old key keeps its place.
      current_.deleted = true;
      return true;
    }
    *failure = lookup;
    return false;
  }
  current_.key = volume_->KeyOf(info, slot, record->second);
  current_.image = std::move(record->second);
  decodedValid_ = false;
  current_.contentStamp = volume_->ContentStamp(db_);
  return true;
}

// Reaches a position by the cheapest walk: from the current record, from
// the first or from the last.
std::optional<OrderRow> OpenDatabase::MoveToPosition(const DatabaseInfo& info, int slot,
                                                     std::uint32_t position, Status* failure) {
  const std::uint32_t count = info.count;
  const std::uint32_t fromStart = position;
  const std::uint32_t fromEnd = count - 1 - position;
  std::uint32_t fromCurrent = UINT32_MAX;
  if (current_.valid && !current_.deleted && current_.position >= 0) {
    const std::int64_t d = static_cast<std::int64_t>(position) - current_.position;
    fromCurrent = static_cast<std::uint32_t>(d < 0 ? -d : d);
  }
  if (fromCurrent == 0) {
    // The current record may have been written since it was taken: its
    // image is read again then, or the seek would hand back the old values
    // as fresh.
    if (!RefreshCurrentImage(failure)) return std::nullopt;
    OrderRow row{current_.oid, current_.key, current_.image};
    return row;
  }
  if (fromCurrent == 1 && position > current_.position) return NextRow(slot, failure);
  if (fromCurrent <= fromStart && fromCurrent <= fromEnd) {
    const bool back = position < current_.position;
    return volume_->Following(db_, slot, current_.key, current_.oid, fromCurrent - 1, back,
                              failure);
  }
  if (fromStart <= fromEnd) return volume_->AtPosition(db_, slot, fromStart, false, failure);
  return volume_->AtPosition(db_, slot, fromEnd, true, failure);
}

CEOID OpenDatabase::Seek(DWORD seekType, std::uintptr_t value, DWORD* index, Status* failure) {
  const DatabaseInfo* info = volume_->Database(db_);
  if (!info) {
    *failure = PlatformFailure(ERROR_INVALID_HANDLE, "the database was deleted");
    return 0;
  }
  const int slot = Slot(*info);
  started_ = true;
  if (!Revalidate(*info, slot, failure)) return 0;
  switch (seekType) {
    case CEDB_SEEK_CEOID:
      return SeekRecord(*info, slot, static_cast<CEOID>(value), index, failure);
    case CEDB_SEEK_BEGINNING:
    case CEDB_SEEK_END:
      return SeekPosition(*info, slot, seekType == CEDB_SEEK_END, static_cast<DWORD>(value), index,
                          failure);
    case CEDB_SEEK_CURRENT:
      return SeekFromCurrent(*info, slot, static_cast<std::int32_t>(static_cast<DWORD>(value)),
                             index, failure);
    case CEDB_SEEK_VALUEFIRSTEQUAL:
    case CEDB_SEEK_VALUENEXTEQUAL:
    case CEDB_SEEK_VALUESMALLER:
    case CEDB_SEEK_VALUEGREATER:
      return SeekValue(*info, slot, seekType, reinterpret_cast<const CEPROPVAL*>(value), index,
                       failure);
    default:
      *failure = PlatformFailure(ERROR_INVALID_PARAMETER, "unknown seek type");
      return 0;
  }
}

// Makes a found row current; a seek that found nothing (row empty, failure
// filled) leaves the current record as it was.
CEOID OpenDatabase::Land(std::optional<OrderRow> row, std::int64_t position, int slot, DWORD* index,
                         Status* failure) {
  if (!row) return 0;
  Take(std::move(*row), position, slot);
  return ReportCurrent(slot, index, failure);
}

// The current record's identifier, with its position in *index when the
// caller asks for it; a position not yet known is counted.
CEOID OpenDatabase::ReportCurrent(int slot, DWORD* index, Status* failure) {
  if (index != nullptr) {
    if (current_.position < 0) {
      auto found = volume_->PositionOf(db_, slot, current_.key, current_.oid, failure);
      if (!found) return 0;
      current_.position = *found;
    }
    *index = static_cast<DWORD>(current_.position);
  }
  return current_.oid;
}

CEOID OpenDatabase::SeekRecord(const DatabaseInfo& info, int slot, CEOID oid, DWORD* index,
                               Status* failure) {
  auto record = volume_->Record(oid, failure);
  if (!record) return 0;
  if (record->first != db_) return NoRecord(failure);
  return Land(OrderRow{oid, volume_->KeyOf(info, slot, record->second), std::move(record->second)},
              -1, slot, index, failure);
}

// From the beginning, value counts forward from the first record; from the
// end, it is an offset of zero or less from the last.
CEOID OpenDatabase::SeekPosition(const DatabaseInfo& info, int slot, bool fromEnd, DWORD value,
                                 DWORD* index, Status* failure) {
  std::int64_t target = static_cast<std::int64_t>(value);
  if (fromEnd) {
    const auto offset = static_cast<std::int32_t>(value);
    if (offset > 0) return NoRecord(failure);
    target = static_cast<std::int64_t>(info.count) - 1 + offset;
  }
  if (target < 0 || target >= info.count) return NoRecord(failure);
  return Land(MoveToPosition(info, slot, static_cast<std::uint32_t>(target), failure), target, slot,
              index, failure);
}

CEOID OpenDatabase::SeekFromCurrent(const DatabaseInfo& info, int slot, std::int32_t offset,
                                    DWORD* index, Status* failure) {
  if (!current_.valid) {
    if (info.count == 0) return NoRecord(failure);
    // No current record yet: the first one is current.
    auto first = volume_->AtPosition(db_, slot, 0, false, failure);
    if (!first) return 0;
    Take(std::move(*first), 0, slot);
  }
  if (offset == 0) {
    if (current_.deleted) return NoRecord(failure);
    return ReportCurrent(slot, index, failure);
  }
  std::optional<OrderRow> row;
  if (offset == 1) {
    row = NextRow(slot, failure);
  } else {
    const bool back = offset < 0;
    const std::uint32_t steps = back ? static_cast<std::uint32_t>(-(std::int64_t)offset)
                                     : static_cast<std::uint32_t>(offset);
    // From a deleted record, the first step forward lands on the record
    // that followed it.
    row = volume_->Following(db_, slot, current_.key, current_.oid, steps - 1, back, failure);
  }
  const std::int64_t position = row && current_.position >= 0 ? current_.position + offset : -1;
  return Land(std::move(row), position, slot, index, failure);
}

// A seek by value needs a value of the handle's own sort property; it is
// compared by that sort order's key.
CEOID OpenDatabase::SeekValue(const DatabaseInfo& info, int slot, DWORD seekType,
                              const CEPROPVAL* wanted, DWORD* index, Status* failure) {
  if (wanted == nullptr || slot == kNaturalOrder ||
      wanted->propid != info.sorts[static_cast<std::size_t>(slot)].propid) {
    *failure = PlatformFailure(ERROR_INVALID_PARAMETER,
                               "a value seek needs a value of the handle's sort property");
    return 0;
  }
  std::vector<std::uint8_t> bytes;
  if (!AppendValueBytes(*wanted, bytes)) {
    *failure = PlatformFailure(ERROR_INVALID_PARAMETER, "the value to seek is not valid");
    return 0;
  }
  const SortKey key = volume_->KeyOfValue(info.sorts[static_cast<std::size_t>(slot)], bytes);
  switch (seekType) {
    case CEDB_SEEK_VALUEFIRSTEQUAL:
      return Land(volume_->FirstWithKey(db_, slot, key, failure), -1, slot, index, failure);
    case CEDB_SEEK_VALUENEXTEQUAL:
      return SeekNextEqual(slot, key, index, failure);
    default:
      return Land(volume_->NearestKey(db_, slot, key, seekType == CEDB_SEEK_VALUESMALLER, failure),
                  -1, slot, index, failure);
  }
}

// The record after the current one, when its key is the one sought.
CEOID OpenDatabase::SeekNextEqual(int slot, const SortKey& key, DWORD* index, Status* failure) {
  if (!current_.valid) return NoRecord(failure);
  std::optional<OrderRow> row = NextRow(slot, failure);
  if (row && row->key != key) {
    // Not taken: it goes back to follow the current record.
    ahead_[--aheadAt_] = std::move(*row);
    aheadAfter_ = current_.oid;
    return NoRecord(failure);
  }
  const std::int64_t position = row && current_.position >= 0 ? current_.position + 1 : -1;
  return Land(std::move(row), position, slot, index, failure);
}

CEOID OpenDatabase::Read(DWORD flags, WORD* count, const CEPROPID* ids, BYTE** buffer,
                         DWORD* bufferBytes, Status* failure) {
  if (count == nullptr || buffer == nullptr || bufferBytes == nullptr ||
      (ids != nullptr && *count == 0)) {
    *failure = PlatformFailure(ERROR_INVALID_PARAMETER, "missing arguments to a read");
    return 0;
  }
  const DatabaseInfo* info = volume_->Database(db_);
  if (!info) {
    *failure = PlatformFailure(ERROR_INVALID_HANDLE, "the database was deleted");
    return 0;
  }
  if (!started_ && !StartAtFirstRecord(*info, failure)) return 0;
  const std::vector<StoredProperty>* props = CurrentProperties(failure);
  if (!props) return 0;
  ChooseProperties(*props, ids, *count);
  if (!FitBuffer(flags, buffer, bufferBytes, failure)) return 0;
  FillBuffer(*buffer);
  *count = static_cast<WORD>(chosen_.size());
  const CEOID oid = current_.oid;
  if (flags_ & CEDB_AUTOINCREMENT) StepAfterRead();
  return oid;
}

// A handle's first call, when it is a read, reads the first record.
bool OpenDatabase::StartAtFirstRecord(const DatabaseInfo& info, Status* failure) {
  started_ = true;
  if (info.count == 0) return true;
  auto row = volume_->AtPosition(db_, Slot(info), 0, false, failure);
  if (!row) return false;
  Take(std::move(*row), 0, Slot(info));
  return true;
}

// The current record's properties as they are now in the volume; null, with
// *failure filled, when there is no current record or it is damaged.
const std::vector<StoredProperty>* OpenDatabase::CurrentProperties(Status* failure) {
  if (!current_.valid || current_.deleted) {
    *failure = PlatformFailure(ERROR_NO_MORE_ITEMS, "there is no current record");
    return nullptr;
  }
  if (!RefreshCurrentImage(failure)) return nullptr;
  const std::vector<StoredProperty>* props = Decoded();
  if (!props) {
    *failure = PlatformFailure(ERROR_FILE_CORRUPT,
                               "the record is damaged in volume '" + volume_->path() + "'");
  }
  return props;
}

// Reads the current record again when a write may have changed it since it
// was taken; a record deleted meanwhile is marked so.
bool OpenDatabase::RefreshCurrentImage(Status* failure) {
  if (current_.contentStamp == volume_->ContentStamp(db_)) return true;
  auto record = volume_->Record(current_.oid, failure);
  if (!record || record->first != db_) {
    if (record || failure->platformError() == ERROR_NO_MORE_ITEMS) {
      current_.deleted = true;
      *failure = PlatformFailure(ERROR_NO_MORE_ITEMS, "the current record was deleted");
    }
    return false;
  }
  current_.image = std::move(record->second);
  current_.contentStamp = volume_->ContentStamp(db_);
  decodedValid_ = false;
  return true;
}

// Which stored property answers each slot of the result, into chosen_ (null:
// not found) and the identifier asked for into wanted_; with no ids, every
// stored property in stored order. Callers mostly ask for properties in
// stored order, so each search starts after the previous match and wraps
// around.
void OpenDatabase::ChooseProperties(const std::vector<StoredProperty>& props, const CEPROPID* ids,
                                    WORD count) {
  chosen_.clear();
  wanted_.clear();
  if (ids == nullptr) {
    for (const auto& p : props) {
      chosen_.push_back(&p);
      wanted_.push_back(p.id);
    }
    return;
  }
  std::size_t next = 0;
  for (WORD i = 0; i < count; ++i) {
    const StoredProperty* match = nullptr;
    for (std::size_t k = 0; k < props.size(); ++k) {
      const std::size_t at = (next + k) % props.size();
      if (props[at].id == ids[i]) {
        match = &props[at];
        next = at + 1;
        break;
      }
    }
    chosen_.push_back(match);
    wanted_.push_back(ids[i]);
  }
}

// The bytes the chosen properties take in a read buffer: their CEPROPVALs,
// then the strings and byte blocks they point to.
std::size_t OpenDatabase::BytesNeeded() const {
  std::size_t needed = AlignUp(chosen_.size() * sizeof(CEPROPVAL));
  for (const StoredProperty* p : chosen_) {
    if (p) needed += BufferBytes(*p);
  }
  if (needed == 0) needed = sizeof(CEPROPVAL);  // a record without properties
  return needed;
}

// Makes sure the caller's buffer holds the result: grown when the caller
// allows it, otherwise refused with the size needed.
bool OpenDatabase::FitBuffer(DWORD flags, BYTE** buffer, DWORD* bufferBytes, Status* failure) {
  const std::size_t needed = BytesNeeded();
  if (*buffer != nullptr && *bufferBytes >= needed) return true;
  if (!(flags & CEDB_ALLOWREALLOC)) {
    *bufferBytes = static_cast<DWORD>(needed);
    *failure = PlatformFailure(ERROR_INSUFFICIENT_BUFFER, "the buffer is too small for the record");
    return false;
  }
  void* grown = std::realloc(*buffer, needed);
  if (grown == nullptr) {
    *failure = PlatformFailure(ERROR_NOT_ENOUGH_MEMORY, "out of memory reading a record");
    return false;
  }
  *buffer = static_cast<BYTE*>(grown);
  *bufferBytes = static_cast<DWORD>(needed);
  return true;
}

// Writes the chosen properties into a buffer of BytesNeeded() bytes.
void OpenDatabase::FillBuffer(BYTE* buffer) const {
  auto* vals = reinterpret_cast<CEPROPVAL*>(buffer);
  BYTE* data = buffer + AlignUp(chosen_.size() * sizeof(CEPROPVAL));
  for (std::size_t i = 0; i < chosen_.size(); ++i) {
    CEPROPVAL& v = vals[i];
    std::memset(&v, 0, sizeof v);
    v.propid = wanted_[i];
    const StoredProperty* p = chosen_[i];
    if (p == nullptr) {
      v.wFlags = CEDB_PROPNOTFOUND;
      continue;
    }
    data = CopyValue(*p, v, data);
  }
}

// A handle opened to move on after each read makes the next record current,
// or none past the last.
void OpenDatabase::StepAfterRead() {
  Status ignored;
  auto next =
      volume_->Following(db_, current_.slot, current_.key, current_.oid, 0, false, &ignored);
  if (next) {
    const std::int64_t position = current_.position >= 0 ? current_.position + 1 : -1;
    Take(std::move(*next), position, current_.slot);
  } else {
    current_.valid = false;  // past the last record
  }
}

}  // namespace tbm::store
