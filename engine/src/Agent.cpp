// The agent layer: opening a database with all its tables into an
// environment, closing it, the database name, attribute words and value
// lists. Building the record set for show-all or a find (MDbAgentQuery) is
// the record set's, in Find.cpp.
#include "Description.h"
#include "Environment.h"
#include "Guard.h"

using namespace tbm::engine;

namespace {

bool RefOpen(const MDbEnv* env) { return env != nullptr && env->initialised && env->ref.opened; }

}  // namespace

namespace tbm::engine {

bool EnvOpen(const MDbEnv* env) {
  return env != nullptr && env->initialised && env->ref.opened && env->data.opened &&
         env->schema.opened;
}

}  // namespace tbm::engine

extern "C" {

std::int32_t MDbAgentInit() { return MDbErrNone; }

std::int32_t MDbAgentShutdown() { return MDbErrNone; }

std::int32_t MDbAgentOpenDb(MDbEnv* env, const char16_t* path) {
  if (env == nullptr) return MDbErrFailed;
  std::int32_t rc = MDbOpen(env, path, &env->ref);
  if (rc == MDbErrNone) {
    rc = MDbVerifyChecksome(env, &env->ref);
  }
  if (rc == MDbErrNone) rc = MDbSchemaTblOpen(env, &env->ref, &env->schema);
  if (rc == MDbErrNone) {
    std::uint16_t fields = 0;
    rc = MDbSchemaTblGetCount(env, &env->ref, &env->schema, &fields);
    if (rc == MDbErrNone && fields == 0) rc = MDbErrNoFields;
  }
  if (rc == MDbErrNone) rc = MDbFieldOpTblOpen(env, &env->ref, &env->fieldOptions, 1);
  if (rc == MDbErrNone) rc = MDbAttrTblOpen(env, &env->ref, &env->attributes);
  if (rc == MDbErrNone) rc = MDbValListTblOpen(env, &env->ref, &env->valueLists);
  if (rc == MDbErrNone) rc = MDbDataTblOpen(env, &env->ref, &env->data, nullptr);
  if (rc != MDbErrNone) MDbAgentCloseDb(env);
  return rc;
}

std::int32_t MDbAgentCloseDb(MDbEnv* env) {
  if (env == nullptr) return MDbErrFailed;
  std::int32_t rc = MDbErrNone;
  auto keep = [&rc](std::int32_t step) {
    if (rc == MDbErrNone) rc = step;
  };
  if (env->data.opened) keep(MDbDataTblClose(env, &env->ref, &env->data));
  if (env->valueLists.opened) keep(MDbValListTblClose(env, &env->ref, &env->valueLists));
  if (env->attributes.opened) keep(MDbAttrTblClose(env, &env->ref, &env->attributes));
  if (env->fieldOptions.opened) keep(MDbFieldOpTblClose(env, &env->ref, &env->fieldOptions));
  if (env->schema.opened) keep(MDbSchemaTblClose(env, &env->ref, &env->schema));
  if (env->ref.opened) keep(MDbClose(env, &env->ref));
  return rc;
}

std::int32_t MDbAgentGetDbName(MDbEnv* env, char16_t* name, std::uint32_t bytes) {
  if (!RefOpen(env)) return MDbErrFailed;
  return MDbAttrTblReadDbName(env, &env->ref, &env->attributes, 0, name, bytes);
}

std::int32_t MDbAgentGetAttr(MDbEnv* env, std::uint8_t id, std::uint32_t* value) {
  if (!RefOpen(env)) return MDbErrFailed;
  return Guarded([&] { return GetAttrWord(env, &env->ref, &env->attributes, id, value); });
}

std::int32_t MDbAgentSetAttr(MDbEnv* env, std::uint8_t id, std::uint32_t value) {
  if (!RefOpen(env)) return MDbErrFailed;
  return Guarded([&] { return SetAttrWord(env, &env->ref, &env->attributes, id, value); });
}

std::int32_t MDbAgentGetValListSize(MDbEnv* env, std::int16_t list, std::uint32_t* bytes) {
  if (!RefOpen(env)) return MDbErrFailed;
  return Guarded([&] { return GetValueListSize(env, &env->ref, &env->valueLists, list, bytes); });
}

std::int32_t MDbAgentGetValList(MDbEnv* env, std::int16_t list, char16_t* buffer,
                                std::uint32_t bytes) {
  if (!RefOpen(env)) return MDbErrFailed;
  return Guarded(
      [&] { return ReadValueList(env, &env->ref, &env->valueLists, list, buffer, bytes); });
}

}  // extern "C"
