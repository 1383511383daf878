// Starting and stopping the engine: the table layer's environment, and the
// word-break library that find works with.
#include "Environment.h"
#include "MDb.h"
#include "TBMWbrk.h"

using namespace tbm::engine;

extern "C" {

std::int32_t MDbInit(MDbEnv* env, std::uint8_t wordBreak) {
  if (StartEnvironment(env) != MDbErrNone) return MDbErrFailed;
  // The word-break library keeps its own exceptions inside.
  if (wordBreak != 0 && (TBMWbrInit() & 0xFFFF) != 0) return MDbErrWordBreak;
  return MDbErrNone;
}

std::int32_t MDbShutdown(MDbEnv* env) {
  const std::int32_t result = StopEnvironment(env);
  TBMWbrShutdown();
  return result;
}

}  // extern "C"
