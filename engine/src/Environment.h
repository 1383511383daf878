// The environment's life as the layers inside the engine see it. The table
// layer starts and stops an environment on its own; MDbInit and MDbShutdown
// (Start.cpp) put the word-break library around that, and a build of the
// table layer without the record set brings its own start and stop.
//
// The two calls below are not among the shared library's exported names.
#pragma once

#include <cstdint>

#include "MDb.h"

namespace tbm::engine {

// Marks env initialised. MDbErrFailed when env is null or already
// initialised.
[[gnu::visibility("hidden")]] std::int32_t StartEnvironment(MDbEnv* env);

// Closes the option cache of an initialised env (the one table handle that
// owns memory) and resets env as MDbEnvInitialize does; a null env is not
// touched. MDbErrNone when env was initialised, MDbErrFailed otherwise.
[[gnu::visibility("hidden")]] std::int32_t StopEnvironment(MDbEnv* env);

// The environment has an open database as MDbAgentOpenDb leaves it:
// initialised, reference opened, data and schema tables open.
bool EnvOpen(const MDbEnv* env);

}  // namespace tbm::engine
