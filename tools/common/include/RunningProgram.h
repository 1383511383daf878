// What the programs that run until they are stopped (Tabulon Pro, the
// desktop connection service, the handheld program) share: one running
// instance per machine, the stop signals as a descriptor an event loop
// watches, and whether there is a display to show windows on.
#pragma once

#include <functional>
#include <string>

#include "Status.h"

namespace tbm::tools {

// Whether windows can be shown: QT_QPA_PLATFORM names a platform other
// than "offscreen", or DISPLAY or WAYLAND_DISPLAY is set.
bool HasDisplay();

// Blocks SIGTERM, SIGINT and SIGHUP for every thread started afterwards and
// returns a descriptor on which they arrive instead (non-blocking), or -1.
// Call before any thread starts.
int StopSignalDescriptor();

// The one running instance of a program on its machine: an exclusive lock
// on a file in the machine root holding the process id, for the message a
// second one gives. The lock goes with the process, however it ends.
class InstanceLock {
 public:
  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock file lockName in the desktop root. When another process
  // holds it: kBusy, "<who> is running already on this desktop (process
  // N); <advice>". A lock file that cannot be made is kNoPermission,
  // kNoSpace or kIoFailed in words. A process id that cannot be written is
  // told to warn, and the lock is still held.
  Status Take(const std::string& lockName, const std::string& who, const std::string& advice,
              const std::function<void(const std::string&)>& warn);

 private:
  int fd_ = -1;
};

}  // namespace tbm::tools
