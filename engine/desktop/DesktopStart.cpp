// Starting and stopping libTBMDBCE.so: the table layer's environment, and
// the one connection to the handheld that every store and file call of the
// process goes over.
#include "Environment.h"
#include "MDb.h"
#include "Rapi.h"

using namespace tbm::engine;

extern "C" {

std::int32_t MDbInit(MDbEnv* env) {
  const std::int32_t marked = StartEnvironment(env);
  // Connected whatever became of env: the matching MDbShutdown ends the
  // connection in every case too.
  if (FAILED(CeRapiInit())) return MDbErrFailed;
  return marked;
}

std::int32_t MDbShutdown(MDbEnv* env) {
  const std::int32_t result = StopEnvironment(env);
  CeRapiUninit();
  return result;
}

}  // extern "C"
