// Keeping exceptions inside the C-callable window calls.
#pragma once

#include <new>

#include "WinTypes.h"

namespace tbm::wnd {

// Sets the last error and returns failure, for the many "fail with this
// error" exits of the window calls.
template <typename Result>
Result Fail(DWORD error, Result failure) {
  SetLastError(error);
  return failure;
}

// Runs body and returns its result; an exception from our own code (only
// allocation failure is expected) becomes the failure value with the last
// error set. Window procedures and enumeration callbacks are called through
// noexcept wrappers, so what they throw is never mistaken for our failure.
template <typename Result, typename Body>
Result Guarded(Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY, failure);
  } catch (...) {
    return Fail(ERROR_INTERNAL_ERROR, failure);
  }
}

}  // namespace tbm::wnd
