// Database attributes: the one object-table entry (MDbObjAttributes, 0)
// holding the 78-byte attribute block (four attribute words, the date and
// time formats) and the database's name. The application keeps its view
// settings in attribute words 2 and 3 and rewrites only those.
#include <cstring>

#include "Description.h"
#include "Guard.h"
#include "Utf16.h"

using namespace tbm::engine;

namespace {

bool AttrsReady(const MDbEnv* env, const MDbRef* ref, const MDbAttrTbl* tbl) {
  return RefReady(env, ref) && tbl != nullptr && tbl->opened;
}

std::int32_t ReadBlock(MDbRef* ref, std::int16_t index, std::uint8_t block[MDbAttrBytes]) {
  if (index < 0) return MDbErrFailed;
  return ReadEntryBlock(ref, MDbObjAttributes, static_cast<std::uint16_t>(index), kAttrProp, block,
                        MDbAttrBytes);
}

}  // namespace

namespace tbm::engine {

std::int32_t GetAttrWord(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl, std::uint8_t id,
                         std::uint32_t* value) {
  if (!AttrsReady(env, ref, tbl) || value == nullptr) return MDbErrFailed;
  if (id >= kAttrWordCount) {
    *value = 0;
    return MDbErrNone;
  }
  std::uint8_t block[MDbAttrBytes];
  if (ReadBlock(ref, 0, block) != MDbErrNone) return MDbErrFailed;
  *value = LoadAttrWord(block, id);
  return MDbErrNone;
}

std::int32_t SetAttrWord(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl, std::uint8_t id,
                         std::uint32_t value) {
  if (!AttrsReady(env, ref, tbl) || id >= kAttrWordCount) return MDbErrFailed;
  std::uint8_t block[MDbAttrBytes];
  if (ReadBlock(ref, 0, block) != MDbErrNone) return MDbErrFailed;
  StoreAttrWord(block, id, value);
  CEPROPVAL v{};
  v.propid = kAttrProp;
  v.val.blob.dwCount = sizeof block;
  v.val.blob.lpb = block;
  // The entry was just read, so this overwrites it.
  if (WriteEntry(ref, MDbObjAttributes, 0, &v, 1) != MDbErrNone) return MDbErrFailed;
  return CeFlushDBVol(&ref->volume) ? MDbErrNone : MDbErrFailed;
}

}  // namespace tbm::engine

extern "C" {

std::int32_t MDbAttrTblCreateEx(MDbEnv* env, MDbRef* ref, const std::uint8_t attrs[78],
                                const char16_t* dbName) {
  if (!RefReady(env, ref) || attrs == nullptr || dbName == nullptr) return MDbErrFailed;
  return Guarded([&]() -> std::int32_t {
    if (SeekEntry(ref, MDbObjAttributes, 0) == MDbErrNone) return MDbErrFailed;
    return WriteBlockAndName(ref, MDbObjAttributes, 0, kAttrProp, attrs, MDbAttrBytes, kDbNameProp,
                             dbName);
  });
}

std::int32_t MDbAttrTblDelete(MDbEnv* env, MDbRef* ref) {
  if (!RefReady(env, ref)) return MDbErrFailed;
  return Guarded([&] { return DeleteEntries(ref, MDbObjAttributes); });
}

std::int32_t MDbAttrTblOpen(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl) {
  if (!RefReady(env, ref) || tbl == nullptr || tbl->opened) return MDbErrFailed;
  tbl->opened = 1;
  return MDbErrNone;
}

// Closing needs no open volume: a handle can always be put back to closed.
std::int32_t MDbAttrTblClose(MDbEnv* /*env*/, MDbRef* /*ref*/, MDbAttrTbl* tbl) {
  if (tbl == nullptr) return MDbErrFailed;
  tbl->opened = 0;
  return MDbErrNone;
}

std::uint8_t MDbAttrTblIsOpened(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl) {
  return AttrsReady(env, ref, tbl) ? 1 : 0;
}

std::int32_t MDbAttrTblReadAttrs(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl, std::int16_t index,
                                 std::uint8_t attrs[78]) {
  if (!AttrsReady(env, ref, tbl) || attrs == nullptr) return MDbErrFailed;
  return Guarded([&] {
    std::uint8_t block[MDbAttrBytes];
    if (ReadBlock(ref, index, block) != MDbErrNone) return MDbErrFailed;
    std::memcpy(attrs, block, sizeof block);
    return MDbErrNone;
  });
}

std::int32_t MDbAttrTblReadDbName(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl, std::int16_t index,
                                  char16_t* name, std::uint32_t nameBytes) {
  if (!AttrsReady(env, ref, tbl) || name == nullptr || nameBytes < 2 || index < 0) {
    return MDbErrFailed;
  }
  return Guarded([&] {
    TextRead text;
    if (ReadEntryText(ref, MDbObjAttributes, static_cast<std::uint16_t>(index), kDbNameProp,
                      &text) != MDbErrNone) {
      return MDbErrFailed;
    }
    tbm::CopyUtf16Cut(name, nameBytes, text.text);
    return MDbErrNone;
  });
}

}  // extern "C"
