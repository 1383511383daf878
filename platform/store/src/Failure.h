// The outcome of a failed store operation inside the store: a platform error
// number and a sentence for people. The calls of CeDb.h hand both on as the
// thread's last error and StoreLastMessage().
#pragma once

#include <string>

#include "WinTypes.h"

namespace tbm::store {

struct Failure {
  DWORD error;
  std::string message;
};

}  // namespace tbm::store
