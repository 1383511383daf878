// Files the tools write under a temporary name beside their target and
// rename into place when they are complete, and what keeps such names from
// outliving the process that made them.
//
// A temporary name is hidden and carries the id of the process that made it
// (".Sales.tbm.creating-4711"), so that a later run can tell a temporary of
// a process that is gone (removed) from one still being written (kept).
// A process ended by Ctrl-C, SIGTERM or SIGHUP removes its own temporaries
// on the way out; only SIGKILL or a power failure leaves one behind, and
// the next run on the same target removes it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tbm::tools {

// The suffixes of the files a database volume keeps beside itself while it
// is open ("-wal", "-shm"): 4 bytes at most.
inline constexpr std::size_t kJournalSuffixBytes = 4;

// The most bytes one name may have in folder (the file system's limit; 255
// when the folder cannot be asked).
std::size_t NameLimit(const std::string& folder);

// The temporary name beside target (a host path) for this process:
// "<folder>/.<name>.<purpose>-<pid>". The target's name is cut (at a
// character boundary) where it must be so that the temporary name and its
// journal files fit NameLimit, whatever the process id; so every target
// whose name fits the folder has a temporary name that fits too.
std::string TemporaryNameBeside(const std::string& target, std::string_view purpose);

// Removes the temporaries that processes other than this one made for
// target and purpose, with any journal suffix, when their process no
// longer runs. A temporary whose process still runs (or cannot be asked
// about) is kept. Returns the number of files removed.
int RemoveStaleTemporaries(const std::string& target, std::string_view purpose);

// While an object lives, its paths are removed when SIGINT, SIGTERM or
// SIGHUP ends the process; the signal then ends the process as it would
// have without it. A signal the process ignores (as under nohup) stays
// ignored. The removal runs inside the signal handler, on paths prepared
// beforehand, with nothing but unlink(2). Up to 16 paths may be held at
// once by all objects together; more are not guarded. Not for use from
// more than one thread.
class RemovedOnSignal {
 public:
  explicit RemovedOnSignal(std::vector<std::string> paths);
  ~RemovedOnSignal();
  RemovedOnSignal(const RemovedOnSignal&) = delete;
  RemovedOnSignal& operator=(const RemovedOnSignal&) = delete;

 private:
  std::vector<std::string> paths_;
  std::vector<std::size_t> slots_;
};

}  // namespace tbm::tools
