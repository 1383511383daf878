#include "EngineEnvironment.h"

namespace tbm::engine {

EngineEnvironment::EngineEnvironment() { MDbEnvInitialize(&env_); }

EngineEnvironment::~EngineEnvironment() {
  Close();
  if (started()) MDbShutdown(&env_);
}

std::int32_t EngineEnvironment::Start(bool wordBreak) {
  if (started()) return MDbErrFailed;
  return MDbInit(&env_, wordBreak ? 1 : 0);
}

std::int32_t EngineEnvironment::OpenWithTables(const char16_t* path) {
  if (!ReadyToOpen()) return MDbErrFailed;
  return MDbAgentOpenDb(&env_, path);
}

std::int32_t EngineEnvironment::OpenVolume(const char16_t* path) {
  if (!ReadyToOpen()) return MDbErrFailed;
  return MDbOpen(&env_, path, &env_.ref);
}

std::int32_t EngineEnvironment::CreateVolume(const char16_t* path) {
  if (!ReadyToOpen()) return MDbErrFailed;
  return MDbCreate(&env_, path, &env_.ref);
}

std::int32_t EngineEnvironment::Close() {
  // The agent layer's close takes each table only when it is open, and the
  // volume last; it serves a volume opened by any of the three ways.
  return MDbAgentCloseDb(&env_);
}

}  // namespace tbm::engine
