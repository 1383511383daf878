// The schema: field definitions, object-table entries (MDbObjSchema, field)
// holding the 18-byte field-information block (byte 0 the type, then the
// field key synchronisation recognises the field by) and the field's name.
// The synchronisation agents write it; the application only reads it.
#include <cstring>

#include "Description.h"
#include "Guard.h"
#include "Utf16.h"

using namespace tbm::engine;

namespace {

bool SchemaReady(const MDbEnv* env, const MDbRef* ref, const MDbSchemaTbl* tbl) {
  return RefReady(env, ref) && tbl != nullptr && tbl->opened;
}

std::int32_t ReadFieldInfo(MDbRef* ref, std::int16_t field, std::uint8_t info[MDbFieldInfoBytes]) {
  if (field < 0) return MDbErrFailed;
  return ReadEntryBlock(ref, MDbObjSchema, static_cast<std::uint16_t>(field), kFieldInfoProp, info,
                        MDbFieldInfoBytes);
}

std::int32_t ReadFieldName(MDbRef* ref, std::int16_t field, TextRead* name) {
  if (field < 0) return MDbErrFailed;
  return ReadEntryText(ref, MDbObjSchema, static_cast<std::uint16_t>(field), kFieldNameProp, name);
}

std::int32_t WriteFieldDefinition(MDbRef* ref, std::uint16_t field, const std::uint8_t* info,
                                  const char16_t* name) {
  if (name == nullptr) return MDbErrFailed;
  return WriteBlockAndName(ref, MDbObjSchema, field, kFieldInfoProp, info, MDbFieldInfoBytes,
                           kFieldNameProp, name);
}

}  // namespace

namespace tbm::engine {

std::int32_t FieldMaxSize(std::uint8_t type, std::uint16_t fieldCount, std::uint32_t* size) {
  if (size == nullptr) return MDbErrFailed;
  switch (type) {
    case MDbFieldText:
      // A record holds every field's text; the more fields, the less each
      // may take.
      *size = fieldCount <= 20 ? 2049 : fieldCount <= 30 ? 1537 : 1025;
      return MDbErrNone;
    case MDbFieldNumber:
    case MDbFieldDate:
    case MDbFieldTime:
      *size = 256;
      return MDbErrNone;
    default:
      return MDbErrFailed;
  }
}

}  // namespace tbm::engine

extern "C" {

std::int32_t MDbGetFieldMaxSize(std::uint8_t type, std::uint16_t fieldCount, std::uint32_t* size) {
  return tbm::engine::FieldMaxSize(type, fieldCount, size);
}

std::int32_t MDbSchemaTblCreateEx(MDbEnv* env, MDbRef* ref, const std::uint8_t* infos,
                                  const char16_t* const* names, std::int16_t count) {
  if (!RefReady(env, ref)) return MDbErrFailed;
  const std::int32_t result = Guarded([&]() -> std::int32_t {
    // A refresh deletes the old schema first; creation never writes over one.
    if (SeekEntry(ref, MDbObjSchema, 0) == MDbErrNone) return MDbErrFailed;
    if (count > 0 && (infos == nullptr || names == nullptr)) return MDbErrFailed;
    MDbSchemaTbl own{};
    if (MDbSchemaTblOpen(env, ref, &own) != MDbErrNone) return MDbErrFailed;
    std::int32_t rc = MDbErrNone;
    for (std::int16_t i = 0; i < count && rc == MDbErrNone; ++i) {
      rc = WriteFieldDefinition(
          ref, static_cast<std::uint16_t>(i),
          infos + std::size_t{MDbFieldInfoBytes} * static_cast<std::size_t>(i), names[i]);
    }
    MDbSchemaTblClose(env, ref, &own);
    return rc;
  });
  // The environment's own handle counts the fields again.
  env->schema.countKnown = 0;
  return result;
}

std::int32_t MDbSchemaTblDelete(MDbEnv* env, MDbRef* ref) {
  if (!RefReady(env, ref)) return MDbErrFailed;
  env->schema.countKnown = 0;
  return Guarded([&] { return DeleteEntries(ref, MDbObjSchema); });
}

std::int32_t MDbSchemaTblOpen(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl) {
  if (!RefReady(env, ref) || tbl == nullptr || tbl->opened) return MDbErrFailed;
  tbl->opened = 1;
  tbl->countKnown = 0;
  return MDbErrNone;
}

// Closing needs no open volume: a handle can always be put back to closed.
std::int32_t MDbSchemaTblClose(MDbEnv* /*env*/, MDbRef* /*ref*/, MDbSchemaTbl* tbl) {
  if (tbl == nullptr) return MDbErrFailed;
  tbl->opened = 0;
  tbl->countKnown = 0;
  return MDbErrNone;
}

std::uint8_t MDbSchemaTblIsOpened(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl) {
  return SchemaReady(env, ref, tbl) ? 1 : 0;
}

std::int32_t MDbSchemaTblGetCount(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                  std::uint16_t* count) {
  if (!SchemaReady(env, ref, tbl) || count == nullptr) return MDbErrFailed;
  if (!tbl->countKnown) {
    if (Guarded([&] { return CountEntries(ref, MDbObjSchema, &tbl->count); }) != MDbErrNone) {
      return MDbErrFailed;
    }
    tbl->countKnown = 1;
  }
  *count = tbl->count;
  return MDbErrNone;
}

std::int32_t MDbSchemaTblRead(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl, std::int16_t field,
                              std::uint8_t info[18], char16_t* name, std::uint32_t nameBytes) {
  if (!SchemaReady(env, ref, tbl) || info == nullptr || name == nullptr || nameBytes < 2) {
    return MDbErrFailed;
  }
  return Guarded([&] {
    // Both are checked before either buffer is touched.
    std::uint8_t block[MDbFieldInfoBytes];
    TextRead text;
    if (ReadFieldInfo(ref, field, block) != MDbErrNone ||
        ReadFieldName(ref, field, &text) != MDbErrNone) {
      return MDbErrFailed;
    }
    std::memcpy(info, block, sizeof block);
    tbm::CopyUtf16Cut(name, nameBytes, text.text);
    return MDbErrNone;
  });
}

std::int32_t MDbSchemaTblReadFldInfo(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                     std::int16_t field, std::uint8_t info[18]) {
  if (!SchemaReady(env, ref, tbl) || info == nullptr) return MDbErrFailed;
  return Guarded([&] {
    std::uint8_t block[MDbFieldInfoBytes];
    if (ReadFieldInfo(ref, field, block) != MDbErrNone) return MDbErrFailed;
    std::memcpy(info, block, sizeof block);
    return MDbErrNone;
  });
}

std::int32_t MDbSchemaTblReadFldType(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                     std::int16_t field, std::uint8_t* type) {
  if (!SchemaReady(env, ref, tbl) || type == nullptr) return MDbErrFailed;
  return Guarded([&] {
    std::uint8_t block[MDbFieldInfoBytes];
    if (ReadFieldInfo(ref, field, block) != MDbErrNone) return MDbErrFailed;
    *type = block[0];
    return MDbErrNone;
  });
}

std::int32_t MDbSchemaTblReadFldName(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                     std::int16_t field, char16_t* name, std::uint32_t nameBytes) {
  if (!SchemaReady(env, ref, tbl) || name == nullptr || nameBytes < 2) return MDbErrFailed;
  return Guarded([&] {
    TextRead text;
    if (ReadFieldName(ref, field, &text) != MDbErrNone) return MDbErrFailed;
    tbm::CopyUtf16Cut(name, nameBytes, text.text);
    return MDbErrNone;
  });
}

std::int32_t MDbSchemaTblGetNameSize(MDbEnv* env, MDbRef* ref, MDbSchemaTbl* tbl,
                                     std::int16_t field, std::uint32_t* bytes) {
  if (!SchemaReady(env, ref, tbl) || bytes == nullptr) return MDbErrFailed;
  return Guarded([&] {
    TextRead text;
    if (ReadFieldName(ref, field, &text) != MDbErrNone) return MDbErrFailed;
    *bytes = static_cast<std::uint32_t>((text.text.size() + 1) * sizeof(char16_t));
    return MDbErrNone;
  });
}

}  // extern "C"
