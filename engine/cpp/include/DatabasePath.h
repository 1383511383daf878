// Where a database named by a person is: a handheld path
// ("\My Documents\Tabulon\Sales.tbm", inside the device root) or a host
// path (anything holding '/'), with the path the engine is handed.
#pragma once

#include <string>

#include "Status.h"

namespace tbm::engine {

struct DatabasePath {
  std::string given;      // as typed, for messages
  std::string host;       // where the file is on this machine
  std::u16string engine;  // what the engine is handed
};

// Resolves given into *path. A handheld path that cannot exist is refused in
// words that name the real cause: the path's own fault, a device root that
// cannot be used and why, or a symbolic link out of the device root. The
// mapping's error travels as the platform error, and the kind follows it
// (a bad name or a path too long is kInvalidArgument).
Status ResolveDatabasePath(const std::string& given, DatabasePath* path);

}  // namespace tbm::engine
