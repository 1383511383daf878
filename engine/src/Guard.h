// Keeping exceptions inside the engine. Every exported call whose work may
// allocate memory, or reach code that may throw (the store's calls
// allocate), runs that work through Guarded, so that nothing is thrown
// across the C interface. Work that must clean up after a failed step
// (creating a volume, opening a database) guards the steps and cleans up
// after the guard, so that a thrown step is cleaned up like a failed one.
#pragma once

#include <cstdint>
#include <new>

#include "MDb.h"

namespace tbm::engine {

// Makes MDbGetFailureCause report ERROR_NOT_ENOUGH_MEMORY on this thread
// until MDbClearFailureCause, when the store has no cause of its own.
[[gnu::visibility("hidden")]] void NoteOutOfMemory();

// Runs body and returns its result; an exception (only running out of
// memory is expected) gives MDbErrFailed instead.
template <typename Body>
std::int32_t Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    NoteOutOfMemory();
    return MDbErrFailed;
  } catch (...) {
    return MDbErrFailed;
  }
}

}  // namespace tbm::engine
