// Starting and stopping libTBMDBCE.so: the table layer's environment, and
// the one connection to the handheld that every store and file call of the
// process goes over.
//
// The connection belongs to the process, not to the library: a program
// that connected before (the desktop connection service, whose sync
// provider then starts this library) keeps its connection, and the library
// only closes a connection it opened itself, once the last environment that
// started on it has shut down.
#include <mutex>
#include <set>

#include "Environment.h"
#include "MDb.h"
#include "Rapi.h"

using namespace tbm::engine;

namespace {

struct ConnectionUse {
  std::mutex mutex;
  // The environments MDbInit connected (null counts as one too).
  std::multiset<const MDbEnv*> users;
  // Whether this library opened the connection they use.
  bool openedHere = false;
};

ConnectionUse& Use() {
  static ConnectionUse use;
  return use;
}

}  // namespace

extern "C" {

std::int32_t MDbInit(MDbEnv* env) {
  const std::int32_t marked = StartEnvironment(env);
  // Connected whatever became of env: the matching MDbShutdown ends its use
  // of the connection in every case too.
  const HRESULT connected = CeRapiInit();
  if (connected != S_OK && connected != CERAPI_E_ALREADYINITIALIZED) return MDbErrFailed;
  ConnectionUse& use = Use();
  const std::lock_guard lock(use.mutex);
  if (connected == S_OK) use.openedHere = true;
  use.users.insert(env);
  return marked;
}

std::int32_t MDbShutdown(MDbEnv* env) {
  ConnectionUse& use = Use();
  bool close = false;
  {
    const std::lock_guard lock(use.mutex);
    const auto user = use.users.find(env);
    if (user != use.users.end()) {
      use.users.erase(user);
      close = use.users.empty() && use.openedHere;
      if (close) use.openedHere = false;
    }
  }
  const std::int32_t result = StopEnvironment(env);
  if (close) CeRapiUninit();
  return result;
}

}  // extern "C"
