// Field options: object-table entries (MDbObjFieldOptions, field) holding
// the 6-byte option block (property 2) and the 9-byte extended block
// (property 3, byte 6 the display order). The engine treats both as opaque
// bytes apart from the display order.
//
// The application draws every list row from the extended blocks, so with
// mode bit 0 a table keeps each field's two blocks in memory after the
// first read: the cache, one slot per option entry counted at the first
// read of a field that lies among them. A slot holds the store's own answer
// to one read of both properties; it lives until the table is closed and is
// updated by writes made through the same table.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "Description.h"
#include "Guard.h"

using namespace tbm::engine;

namespace {

constexpr std::uint32_t kCacheMode = 0x1;

struct OptionCache {
  // One per option entry; an empty buffer: the field was not read yet.
  std::vector<PropertyRead> slots;
};

OptionCache* CacheOf(const MDbFieldOpTbl* tbl) { return static_cast<OptionCache*>(tbl->cache); }

bool CacheOn(const MDbFieldOpTbl* tbl) { return (tbl->mode & kCacheMode) != 0; }

bool OptionsReady(const MDbEnv* env, const MDbRef* ref, const MDbFieldOpTbl* tbl) {
  return RefReady(env, ref) && tbl != nullptr && tbl->opened;
}

CEPROPID PropOf(OptionBlock which) {
  return which == OptionBlock::kOption ? kOptionProp : kOptionExProp;
}

std::uint32_t BytesOf(OptionBlock which) {
  return which == OptionBlock::kOption ? MDbOptionBytes : MDbOptionExBytes;
}

// Where a read of both blocks keeps `which`: its data inside the read's own
// buffer, or null when the store's answer is not what the layout says.
std::uint8_t* BlockIn(const PropertyRead& read, OptionBlock which) {
  const std::size_t slot = which == OptionBlock::kOption ? 0 : 1;
  if (!read.buffer || read.size < 2 * sizeof(CEPROPVAL)) return nullptr;
  const CEPROPVAL& value = read.value()[slot];
  if (value.propid != PropOf(which) || value.val.blob.dwCount != BytesOf(which)) return nullptr;
  const auto begin = reinterpret_cast<std::uintptr_t>(read.buffer.get());
  const auto at = reinterpret_cast<std::uintptr_t>(value.val.blob.lpb);
  if (at < begin || at - begin > read.size || read.size - (at - begin) < BytesOf(which)) {
    return nullptr;
  }
  return value.val.blob.lpb;
}

// Reads both option blocks of entry (MDbObjFieldOptions, field) in one
// store read and checks them.
std::int32_t ReadBothBlocks(MDbRef* ref, std::uint16_t field, PropertyRead* out) {
  if (SeekEntry(ref, MDbObjFieldOptions, field) != MDbErrNone) return MDbErrFailed;
  const CEPROPID ids[2] = {kOptionProp, kOptionExProp};
  if (ReadProperties(ref->objHandle, ids, 2, out) != MDbErrNone) return MDbErrFailed;
  if (BlockIn(*out, OptionBlock::kOption) == nullptr ||
      BlockIn(*out, OptionBlock::kOptionEx) == nullptr) {
    return MDbErrFailed;
  }
  return MDbErrNone;
}

// Makes the cache with `slots` empty slots, or null when memory runs out:
// the reads then simply go on without one.
std::unique_ptr<OptionCache> MakeCache(std::uint16_t slots) {
  try {
    auto cache = std::make_unique<OptionCache>();
    cache->slots.resize(slots);
    return cache;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

void FreeCache(MDbFieldOpTbl* tbl) {
  std::unique_ptr<OptionCache> owned(CacheOf(tbl));
  tbl->cache = nullptr;
  tbl->cacheSlots = 0;
}

// Overwrites one property of the existing entry (MDbObjFieldOptions, field);
// never creates one.
std::int32_t OverwriteBlock(MDbRef* ref, std::uint16_t field, OptionBlock which,
                            const std::uint8_t* in) {
  if (SeekEntry(ref, MDbObjFieldOptions, field) != MDbErrNone) return MDbErrFailed;
  const CEOID oid = CeSeekDatabase(ref->objHandle, CEDB_SEEK_CURRENT, 0, nullptr);
  if (oid == 0) return MDbErrFailed;
  std::uint8_t block[MDbOptionExBytes];
  std::memcpy(block, in, BytesOf(which));
  CEPROPVAL value{};
  value.propid = PropOf(which);
  value.val.blob.dwCount = BytesOf(which);
  value.val.blob.lpb = block;
  return CeWriteRecordProps(ref->objHandle, oid, 1, &value) != 0 ? MDbErrNone : MDbErrFailed;
}

// WriteFieldOption without the flush, for callers that write several.
// *written tells whether the volume was changed, whatever the result.
std::int32_t WriteOptionNoFlush(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl, std::int16_t field,
                                OptionBlock which, const std::uint8_t* in, bool* written) {
  *written = false;
  if (!OptionsReady(env, ref, tbl) || field < 0 || in == nullptr) return MDbErrFailed;
  const auto index = static_cast<std::uint16_t>(field);
  if (OverwriteBlock(ref, index, which, in) != MDbErrNone) return MDbErrFailed;
  *written = true;
  if (!CacheOn(tbl)) return MDbErrNone;
  // The volume holds the new block now; only a kept copy can be refreshed,
  // and a field without one reports failure.
  OptionCache* cache = CacheOf(tbl);
  if (cache == nullptr || index >= cache->slots.size()) return MDbErrFailed;
  std::uint8_t* kept = BlockIn(cache->slots[index], which);
  if (kept == nullptr) return MDbErrFailed;
  std::memcpy(kept, in, BytesOf(which));
  return MDbErrNone;
}

}  // namespace

namespace tbm::engine {

std::int32_t ReadFieldOption(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl, std::int16_t field,
                             OptionBlock which, std::uint8_t* out) {
  if (!OptionsReady(env, ref, tbl) || field < 0 || out == nullptr) return MDbErrFailed;
  const auto index = static_cast<std::uint16_t>(field);
  if (!CacheOn(tbl)) {
    return ReadEntryBlock(ref, MDbObjFieldOptions, index, PropOf(which), out, BytesOf(which));
  }
  OptionCache* cache = CacheOf(tbl);
  if (cache != nullptr && index < cache->slots.size()) {
    if (const std::uint8_t* kept = BlockIn(cache->slots[index], which)) {
      std::memcpy(out, kept, BytesOf(which));
      return MDbErrNone;
    }
  }
  PropertyRead read;
  if (ReadBothBlocks(ref, index, &read) != MDbErrNone) return MDbErrFailed;
  // out is written last, so that a read that fails on the way leaves it as
  // it was.
  std::uint8_t block[MDbOptionExBytes];
  std::memcpy(block, BlockIn(read, which), BytesOf(which));
  if (cache == nullptr) {
    // The cache is sized once, by the option entries present at the first
    // read of a field among them.
    std::uint16_t count = 0;
    if (CountEntries(ref, MDbObjFieldOptions, &count) == MDbErrNone && index < count) {
      if (auto made = MakeCache(count)) {
        cache = made.release();
        tbl->cache = cache;
        tbl->cacheSlots = count;
      }
    }
  }
  if (cache != nullptr && index < cache->slots.size()) cache->slots[index] = std::move(read);
  std::memcpy(out, block, BytesOf(which));
  return MDbErrNone;
}

std::int32_t WriteFieldOption(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl, std::int16_t field,
                              OptionBlock which, const std::uint8_t* in) {
  bool written = false;
  const std::int32_t result = WriteOptionNoFlush(env, ref, tbl, field, which, in, &written);
  // Flushed even when only the kept copy was missing: the volume was written.
  if (written && !CeFlushDBVol(&ref->volume)) return MDbErrFailed;
  return result;
}

std::int32_t GetDisplayOrders(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl, std::uint16_t orders[],
                              std::int16_t n) {
  if (!OptionsReady(env, ref, tbl) || orders == nullptr) return MDbErrFailed;
  std::uint16_t stored = 0;
  if (CacheOn(tbl) && CacheOf(tbl) != nullptr) {
    stored = tbl->cacheSlots;
  } else if (CountEntries(ref, MDbObjFieldOptions, &stored) != MDbErrNone) {
    return MDbErrFailed;
  }
  std::int32_t result = MDbErrNone;
  std::int16_t i = 0;
  for (; i < n && i < stored; ++i) {
    std::uint8_t ex[MDbOptionExBytes];
    result = ReadFieldOption(env, ref, tbl, i, OptionBlock::kOptionEx, ex);
    if (result != MDbErrNone) break;
    orders[i] = ex[kDisplayOrderByte];
  }
  for (; i < n; ++i) orders[i] = static_cast<std::uint16_t>(i);
  return result;
}

std::int32_t SetDisplayOrders(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl,
                              std::uint16_t fieldCount, const std::uint16_t orders[]) {
  if (!OptionsReady(env, ref, tbl) || orders == nullptr) return MDbErrFailed;
  std::int32_t result = MDbErrNone;
  bool wrote = false;
  for (std::uint16_t i = 0; i < fieldCount && i <= 0x7FFF; ++i) {
    const auto field = static_cast<std::int16_t>(i);
    std::uint8_t ex[MDbOptionExBytes];
    result = ReadFieldOption(env, ref, tbl, field, OptionBlock::kOptionEx, ex);
    if (result != MDbErrNone) break;
    ex[kDisplayOrderByte] = static_cast<std::uint8_t>(orders[i]);
    bool written = false;
    result = WriteOptionNoFlush(env, ref, tbl, field, OptionBlock::kOptionEx, ex, &written);
    wrote = wrote || written;
    if (result != MDbErrNone) break;
  }
  if (wrote && !CeFlushDBVol(&ref->volume)) return MDbErrFailed;
  return result;
}

}  // namespace tbm::engine

extern "C" {

std::int32_t MDbFieldOpTblCreateEx(MDbEnv* env, MDbRef* ref, const std::uint8_t* options,
                                   std::int16_t count) {
  if (!RefReady(env, ref)) return MDbErrFailed;
  return Guarded([&]() -> std::int32_t {
    if (SeekEntry(ref, MDbObjFieldOptions, 0) == MDbErrNone) return MDbErrFailed;
    if (count > 0 && options == nullptr) return MDbErrFailed;
    for (std::int16_t i = 0; i < count; ++i) {
      std::uint8_t entry[MDbOptionEntryBytes];
      std::memcpy(entry, options + std::size_t{MDbOptionEntryBytes} * static_cast<std::size_t>(i),
                  sizeof entry);
      CEPROPVAL values[2]{};
      values[0].propid = kOptionProp;
      values[0].val.blob.dwCount = MDbOptionBytes;
      values[0].val.blob.lpb = entry;
      values[1].propid = kOptionExProp;
      values[1].val.blob.dwCount = MDbOptionExBytes;
      values[1].val.blob.lpb = entry + MDbOptionBytes;
      const std::int32_t result =
          WriteEntry(ref, MDbObjFieldOptions, static_cast<std::uint16_t>(i), values, 2);
      if (result != MDbErrNone) return result;
    }
    return MDbErrNone;
  });
}

std::int32_t MDbFieldOpTblDelete(MDbEnv* env, MDbRef* ref) {
  if (!RefReady(env, ref)) return MDbErrFailed;
  return Guarded([&] { return DeleteEntries(ref, MDbObjFieldOptions); });
}

std::int32_t MDbFieldOpTblOpen(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl, std::uint32_t mode) {
  if (!RefReady(env, ref) || tbl == nullptr || tbl->opened) return MDbErrFailed;
  // A closed handle owns no cache (closing frees it), whatever these hold.
  tbl->mode = mode;
  tbl->cache = nullptr;
  tbl->cacheSlots = 0;
  tbl->opened = 1;
  return MDbErrNone;
}

// Closing needs no open volume, so that the cache is freed in every case.
std::int32_t MDbFieldOpTblClose(MDbEnv* /*env*/, MDbRef* /*ref*/, MDbFieldOpTbl* tbl) {
  if (tbl == nullptr) return MDbErrFailed;
  if (tbl->opened) FreeCache(tbl);
  tbl->opened = 0;
  tbl->mode = 0;
  tbl->cache = nullptr;
  tbl->cacheSlots = 0;
  return MDbErrNone;
}

std::uint8_t MDbFieldOpTblIsOpened(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl) {
  return OptionsReady(env, ref, tbl) ? 1 : 0;
}

std::int32_t MDbFieldOpTblReadOptionEx(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl,
                                       std::int16_t field, std::uint8_t ex[9]) {
  return Guarded([&] { return ReadFieldOption(env, ref, tbl, field, OptionBlock::kOptionEx, ex); });
}

std::int32_t MDbFieldOpTblGetDefOptionEx(std::uint8_t ex[9], std::uint8_t displayOrder,
                                         std::int16_t fieldCount) {
  if (ex == nullptr) return MDbErrFailed;
  // The list view's 225 pixels shared by up to three columns; a database
  // always has a field, but a count below 1 is taken as 1 all the same.
  const int columns = fieldCount < 1 ? 1 : fieldCount > 3 ? 3 : fieldCount;
  ex[0] = static_cast<std::uint8_t>(225 / columns);
  ex[1] = 1;
  std::memset(ex + 2, 0, 4);
  ex[kDisplayOrderByte] = displayOrder;
  ex[7] = 0;
  // ex[8] is the caller's.
  return MDbErrNone;
}

}  // extern "C"
