// The engine's result codes told to a person, for a database named in the
// message. A code that stands for a failure of the store (MDbErrFailed,
// MDbErrCannotOpen) says what the store reports as its cause: busy, no
// space, no permission, the disk failing, no memory. So call
// MDbClearFailureCause before the calls whose failure is to be told.
#pragma once

#include <cstdint>
#include <string>

#include "Status.h"

namespace tbm::engine {

// "file: what went wrong" for the engine's code, and where it can, what to
// do about it.
std::string EngineCodeInWords(std::int32_t code, const std::string& file);

// The same sentence as a failure whose kind follows the store's cause
// (kBusy, kNoSpace, kNoPermission, kDamaged, kIoFailed, kNoMemory, with the
// cause as its platform error) or else the code: a file that cannot be
// opened as a database is kDamaged, a date or time that does not fit the
// database's format kInvalidArgument, anything else kFailed.
// REQUIRES: code is not MDbErrNone.
Status EngineFailure(std::int32_t code, const std::string& file);

}  // namespace tbm::engine
