// Keeping exceptions inside the C-callable platform calls, and the one-line
// failure exits they share.
#pragma once

#include <exception>
#include <new>
#include <string>

#include "WinTypes.h"

namespace tbm {

// Sets the last error and returns failure, for the many "fail with this
// error" exits of the platform calls.
template <typename Result>
Result Fail(DWORD error, Result failure) {
  SetLastError(error);
  return failure;
}

// Runs body and returns its result; an exception (only allocation failure is
// expected) becomes the failure value with the last error set
// (ERROR_NOT_ENOUGH_MEMORY, or ERROR_INTERNAL_ERROR for anything else), so
// nothing is thrown across a C-callable interface. A call that runs code of
// its caller's (a callback) should call it through a noexcept function of
// its own, so that what the callback throws is not mistaken for the call's
// own failure.
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

// What the exception being handled says, for a log; called only inside a
// catch block.
inline std::string CaughtException() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return "memory ran out";
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an unknown exception";
  }
}

}  // namespace tbm
