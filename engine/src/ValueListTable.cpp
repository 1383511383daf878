// Value lists: object-table entries (MDbObjValueList, number), each one
// string holding a list's items separated by CR LF. A field's option block
// names the list its pick list offers; the agent layer hands the text out.
#include "Description.h"
#include "Guard.h"
#include "Utf16.h"

using namespace tbm::engine;

namespace {

bool ListsReady(const MDbEnv* env, const MDbRef* ref, const MDbValListTbl* tbl) {
  return RefReady(env, ref) && tbl != nullptr && tbl->opened;
}

std::int32_t ReadList(MDbRef* ref, std::int16_t index, TextRead* text) {
  if (index < 0) return MDbErrFailed;
  return ReadEntryText(ref, MDbObjValueList, static_cast<std::uint16_t>(index), kValueListProp,
                       text);
}

}  // namespace

namespace tbm::engine {

std::int32_t ReadValueList(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl, std::int16_t index,
                           char16_t* buffer, std::uint32_t bytes) {
  if (!ListsReady(env, ref, tbl) || buffer == nullptr || bytes < 2) return MDbErrFailed;
  TextRead text;
  if (ReadList(ref, index, &text) != MDbErrNone) return MDbErrFailed;
  tbm::CopyUtf16Cut(buffer, bytes, text.text);
  return MDbErrNone;
}

std::int32_t GetValueListSize(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl, std::int16_t index,
                              std::uint32_t* bytes) {
  if (!ListsReady(env, ref, tbl) || bytes == nullptr) return MDbErrFailed;
  TextRead text;
  if (ReadList(ref, index, &text) != MDbErrNone) return MDbErrFailed;
  *bytes = static_cast<std::uint32_t>((text.text.size() + 1) * sizeof(char16_t));
  return MDbErrNone;
}

}  // namespace tbm::engine

extern "C" {

std::int32_t MDbValListTblCreateEx(MDbEnv* env, MDbRef* ref, const char16_t* const* lists,
                                   std::int16_t count) {
  if (!RefReady(env, ref)) return MDbErrFailed;
  return Guarded([&]() -> std::int32_t {
    if (SeekEntry(ref, MDbObjValueList, 0) == MDbErrNone) return MDbErrFailed;
    if (count > 0 && lists == nullptr) return MDbErrFailed;
    for (std::int16_t i = 0; i < count; ++i) {
      if (lists[i] == nullptr) return MDbErrFailed;
      CEPROPVAL v{};
      v.propid = kValueListProp;
      v.val.lpwstr = const_cast<char16_t*>(lists[i]);  // the store only reads it
      const std::int32_t result =
          WriteEntry(ref, MDbObjValueList, static_cast<std::uint16_t>(i), &v, 1);
      if (result != MDbErrNone) return result;
    }
    return MDbErrNone;
  });
}

std::int32_t MDbValListTblDelete(MDbEnv* env, MDbRef* ref) {
  if (!RefReady(env, ref)) return MDbErrFailed;
  return Guarded([&] { return DeleteEntries(ref, MDbObjValueList); });
}

std::int32_t MDbValListTblOpen(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl) {
  if (!RefReady(env, ref) || tbl == nullptr || tbl->opened) return MDbErrFailed;
  tbl->opened = 1;
  return MDbErrNone;
}

// Closing needs no open volume: a handle can always be put back to closed.
std::int32_t MDbValListTblClose(MDbEnv* /*env*/, MDbRef* /*ref*/, MDbValListTbl* tbl) {
  if (tbl == nullptr) return MDbErrFailed;
  tbl->opened = 0;
  return MDbErrNone;
}

std::uint8_t MDbValListTblIsOpened(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl) {
  return ListsReady(env, ref, tbl) ? 1 : 0;
}

}  // extern "C"
