// A database's description: field definitions (schema), field options,
// attributes with the database name, and value lists, each a kind of
// object-table entry. The exported table calls live in SchemaTable.cpp,
// FieldOptionTable.cpp, AttributeTable.cpp and ValueListTable.cpp; this
// header gives the record-set and agent layers the operations they build
// their own exports on, and names the stored layouts once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "MDb.h"
#include "ObjectTable.h"

namespace tbm::engine {

// ---- stored layouts ----

// Field definition, entry (MDbObjSchema, field).
constexpr CEPROPID kFieldInfoProp = PropId(2, CEVT_BLOB);    // MDbFieldInfoBytes; byte 0 the type
constexpr CEPROPID kFieldNameProp = PropId(3, CEVT_LPWSTR);  // the field's name

// Field options, entry (MDbObjFieldOptions, field).
constexpr CEPROPID kOptionProp = PropId(2, CEVT_BLOB);    // MDbOptionBytes
constexpr CEPROPID kOptionExProp = PropId(3, CEVT_BLOB);  // MDbOptionExBytes
// Byte of the extended block holding the field's display order.
constexpr std::size_t kDisplayOrderByte = 6;

// Attributes, entry (MDbObjAttributes, 0).
constexpr CEPROPID kAttrProp = PropId(2, CEVT_BLOB);      // MDbAttrBytes
constexpr CEPROPID kDbNameProp = PropId(3, CEVT_LPWSTR);  // the database's name
// Attribute word id (0 .. kAttrWordCount - 1) is a little-endian unsigned
// 32-bit value at kAttrWordOffset + 4 * id of the attribute block.
constexpr std::size_t kAttrWordOffset = 8;
constexpr std::uint8_t kAttrWordCount = 4;

// Value list, entry (MDbObjValueList, number): the items in one string.
constexpr CEPROPID kValueListProp = PropId(2, CEVT_LPWSTR);

// The two option blocks of a field.
enum class OptionBlock {
  kOption,    // MDbOptionBytes, property 2: flags, display style, value-list number
  kOptionEx,  // MDbOptionExBytes, property 3: list-view settings and display order
};

// REQUIRES: id < kAttrWordCount.
inline std::uint32_t LoadAttrWord(const std::uint8_t attrs[MDbAttrBytes], std::uint8_t id) {
  const std::uint8_t* p = attrs + kAttrWordOffset + 4u * id;
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// REQUIRES: id < kAttrWordCount.
inline void StoreAttrWord(std::uint8_t attrs[MDbAttrBytes], std::uint8_t id, std::uint32_t value) {
  std::uint8_t* p = attrs + kAttrWordOffset + 4u * id;
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// ---- state and stored text, shared by the description tables ----

// The environment is initialised and ref names a mounted volume.
inline bool RefReady(const MDbEnv* env, const MDbRef* ref) {
  return env != nullptr && env->initialised && ref != nullptr && ref->opened;
}

// A string property of an entry, read whole. text views into read's buffer
// and stops at the first terminator, which the buffer is known to hold.
struct TextRead {
  PropertyRead read;
  std::u16string_view text;
};

// Reads string property id of entry (kind, index). MDbErrFailed when the
// entry or the property is missing, the property has another type, or its
// text is not terminated inside the bytes the store handed back.
inline std::int32_t ReadEntryText(MDbRef* ref, std::uint16_t kind, std::uint16_t index, CEPROPID id,
                                  TextRead* out) {
  if (TypeFromPropId(id) != CEVT_LPWSTR || ReadEntry(ref, kind, index, id, &out->read) != 0) {
    return MDbErrFailed;
  }
  if (out->read.size < sizeof(CEPROPVAL)) return MDbErrFailed;
  const auto begin = reinterpret_cast<std::uintptr_t>(out->read.buffer.get());
  const auto end = begin + out->read.size;
  const char16_t* text = out->read.value()->val.lpwstr;
  const auto at = reinterpret_cast<std::uintptr_t>(text);
  if (text == nullptr || at < begin || at >= end || (at - begin) % alignof(char16_t) != 0) {
    return MDbErrFailed;
  }
  const std::size_t room = (end - at) / sizeof(char16_t);
  std::size_t length = 0;
  while (length < room && text[length] != 0) ++length;
  if (length == room) return MDbErrFailed;  // no terminator inside the data
  out->text = std::u16string_view(text, length);
  return MDbErrNone;
}

// ---- field options ----

// Reads one option block of field into out (MDbOptionBytes or
// MDbOptionExBytes bytes, as `which` says). With tbl's mode bit 0 (the
// cache) the field's two blocks are read together and, when field lies
// below the number of option entries counted at the first such read, kept
// until the table is closed; later reads of the field come from memory.
// Without it, only the wanted block is read, every time.
// MDbErrFailed when env, ref or tbl is not open, the entry is missing or
// damaged (a block of another size or type); out is then unchanged.
std::int32_t ReadFieldOption(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl, std::int16_t field,
                             OptionBlock which, std::uint8_t* out);

// Overwrites one option block of field's existing entry and flushes the
// volume. A missing entry gives MDbErrFailed and nothing is created.
// With the cache on, the kept copy is updated as well; when the field has
// no kept copy (its options were not read since the table was opened, or
// it lies beyond the cache) the result is MDbErrFailed although the volume
// was written.
std::int32_t WriteFieldOption(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl, std::int16_t field,
                              OptionBlock which, const std::uint8_t* in);

// Fills orders[0 .. n) (position to field): for each field i below the
// number of cache slots (cache on and allocated) or else below the number
// of option entries, orders[i] is the display-order byte of its extended
// block; every later position p gets p. The first failed read ends the
// reading, the positions from it on get their own index, and its code is
// returned. MDbErrFailed without touching orders when env, ref or tbl is
// not open or orders is null.
std::int32_t GetDisplayOrders(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl, std::uint16_t orders[],
                              std::int16_t n);

// For fields 0 .. fieldCount - 1 (the schema count; orders holds that many
// values) sets the display-order byte of the extended block to the low byte
// of orders[i], through ReadFieldOption and WriteFieldOption, stopping at
// the first failure with its code; the fields written before it keep their
// new order. The volume is flushed once at the end.
std::int32_t SetDisplayOrders(MDbEnv* env, MDbRef* ref, MDbFieldOpTbl* tbl,
                              std::uint16_t fieldCount, const std::uint16_t orders[]);

// ---- attributes ----

// Attribute word id (0 .. 3) of the attribute block. Any other id stores 0
// in *value and returns 0 without reading. MDbErrFailed when env, ref or
// tbl is not open, value is null, or the block is missing or damaged.
std::int32_t GetAttrWord(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl, std::uint8_t id,
                         std::uint32_t* value);

// Replaces attribute word id (0 .. 3), rewriting the whole attribute block,
// and flushes the volume. Any other id gives MDbErrFailed and writes
// nothing, as do a table that is not open and a missing or damaged block.
std::int32_t SetAttrWord(MDbEnv* env, MDbRef* ref, MDbAttrTbl* tbl, std::uint8_t id,
                         std::uint32_t value);

// ---- fields ----

// The largest value a field of `type` may hold, in characters with the
// terminator: text 2049 in a database of at most 20 fields, 1537 for 21 to
// 30, 1025 for 31 or more; number, date and time 256. Another type, or a
// null size, gives MDbErrFailed and leaves *size unchanged.
std::int32_t FieldMaxSize(std::uint8_t type, std::uint16_t fieldCount, std::uint32_t* size);

// ---- value lists ----

// Copies value list `index` (items separated by CR LF) into buffer under
// the buffer rule: at most bytes / 2 - 1 characters, always terminated.
// MDbErrFailed, buffer unchanged, when env, ref or tbl is not open, the
// list is missing or damaged, buffer is null or bytes below 2.
std::int32_t ReadValueList(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl, std::int16_t index,
                           char16_t* buffer, std::uint32_t bytes);

// Bytes of value list `index` including its terminator.
std::int32_t GetValueListSize(MDbEnv* env, MDbRef* ref, MDbValListTbl* tbl, std::int16_t index,
                              std::uint32_t* bytes);

}  // namespace tbm::engine
