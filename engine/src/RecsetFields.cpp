// The record set's field description: forwards to the schema and option
// tables of the environment, each refused while the set is invalid.
#include "Description.h"
#include "Guard.h"
#include "Recset.h"

using namespace tbm::engine;

namespace {

bool Valid(const MDbEnv* env, const MDbRecset* rs) {
  return rs != nullptr && rs->valid && EnvOpen(env);
}

}  // namespace

extern "C" {

std::int32_t MDbRecsetGetFldCount(MDbEnv* env, MDbRecset* rs, std::uint16_t* count) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return MDbSchemaTblGetCount(env, &env->ref, &env->schema, count);
}

std::int32_t MDbRecsetGetFldType(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                 std::uint8_t* type) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return MDbSchemaTblReadFldType(env, &env->ref, &env->schema, field, type);
}

std::int32_t MDbRecsetGetFldNameSize(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                     std::uint32_t* bytes) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return MDbSchemaTblGetNameSize(env, &env->ref, &env->schema, field, bytes);
}

std::int32_t MDbRecsetGetFldName(MDbEnv* env, MDbRecset* rs, std::int16_t field, char16_t* buffer,
                                 std::uint32_t bytes) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return MDbSchemaTblReadFldName(env, &env->ref, &env->schema, field, buffer, bytes);
}

std::int32_t MDbRecsetGetFieldMaxSize(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                      std::uint32_t* size) {
  if (!Valid(env, rs)) return MDbErrFailed;
  std::uint8_t type = 0;
  std::uint16_t count = 0;
  if (MDbSchemaTblReadFldType(env, &env->ref, &env->schema, field, &type) != MDbErrNone ||
      MDbSchemaTblGetCount(env, &env->ref, &env->schema, &count) != MDbErrNone) {
    return MDbErrFailed;
  }
  return FieldMaxSize(type, count, size);
}

std::int32_t MDbRecsetGetFldOption(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                   std::uint8_t option[6]) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return Guarded([&] {
    return ReadFieldOption(env, &env->ref, &env->fieldOptions, field, OptionBlock::kOption, option);
  });
}

std::int32_t MDbRecsetSetFldOption(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                   const std::uint8_t option[6]) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return Guarded([&] {
    return WriteFieldOption(env, &env->ref, &env->fieldOptions, field, OptionBlock::kOption,
                            option);
  });
}

std::int32_t MDbRecsetGetFldOptionEx(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                     std::uint8_t ex[9]) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return Guarded([&] {
    return ReadFieldOption(env, &env->ref, &env->fieldOptions, field, OptionBlock::kOptionEx, ex);
  });
}

std::int32_t MDbRecsetSetFldOptionEx(MDbEnv* env, MDbRecset* rs, std::int16_t field,
                                     const std::uint8_t ex[9]) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return Guarded([&] {
    return WriteFieldOption(env, &env->ref, &env->fieldOptions, field, OptionBlock::kOptionEx, ex);
  });
}

std::int32_t MDbRecsetGetDisplayOrders(MDbEnv* env, MDbRecset* rs, std::uint16_t orders[],
                                       std::int16_t n) {
  if (!Valid(env, rs)) return MDbErrFailed;
  return Guarded([&] { return GetDisplayOrders(env, &env->ref, &env->fieldOptions, orders, n); });
}

std::int32_t MDbRecsetSetDisplayOrders(MDbEnv* env, MDbRecset* rs, const std::uint16_t orders[]) {
  if (!Valid(env, rs)) return MDbErrFailed;
  std::uint16_t count = 0;
  if (MDbSchemaTblGetCount(env, &env->ref, &env->schema, &count) != MDbErrNone) {
    return MDbErrFailed;
  }
  return Guarded(
      [&] { return SetDisplayOrders(env, &env->ref, &env->fieldOptions, count, orders); });
}

std::int32_t MDbRecsetGetDefOptionEx(MDbEnv* env, MDbRecset* rs, std::uint8_t ex[9],
                                     std::uint8_t displayOrder) {
  if (!Valid(env, rs)) return MDbErrFailed;
  std::uint16_t count = 0;
  if (MDbSchemaTblGetCount(env, &env->ref, &env->schema, &count) != MDbErrNone) {
    return MDbErrFailed;
  }
  return MDbFieldOpTblGetDefOptionEx(ex, displayOrder, static_cast<std::int16_t>(count));
}

}  // extern "C"
