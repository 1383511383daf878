// A volume file as the processes that use it share it.
//
// Every process that mounts a volume holds a shared lock on its file
// (flock, so it never meets SQLite's own record locks) from before SQLite
// opens it until after SQLite has closed it. Replacing or deleting a volume
// file takes the exclusive lock on it first, so it can never happen under a
// process that uses the file: that process would otherwise go on writing
// into the old file while its WAL and shared-memory files, which belong to
// the name, would be read against the new one.
//
// Locks belong to an open file, not to a name: a process that locked a file
// a replace then renamed away notices (the name now leads elsewhere) and
// starts again on the file now at the name.
#pragma once

#include <chrono>
#include <string>

#include "Status.h"

namespace tbm::store {

// How long taking a lock waits for a process that holds it the other way.
constexpr std::chrono::milliseconds kFileLockWait{5000};

// What the first bytes of a file say it is. A file of another program is
// never handed to SQLite, which could roll back that program's hot journal
// and so change its file.
enum class HeaderCheck { kVolume, kEmpty, kForeign, kUnreadable };
HeaderCheck CheckHeader(int fd);

class VolumeFileLock {
 public:
  enum class Mode { kShared, kExclusive };

  VolumeFileLock() = default;
  ~VolumeFileLock() { Release(); }
  VolumeFileLock(VolumeFileLock&& other) noexcept;
  VolumeFileLock& operator=(VolumeFileLock&& other) noexcept;
  VolumeFileLock(const VolumeFileLock&) = delete;
  VolumeFileLock& operator=(const VolumeFileLock&) = delete;

  // Opens the existing file at path and locks it in mode, waiting up to
  // kFileLockWait while another process holds it the other way (then
  // ERROR_SHARING_VIOLATION). On success the name still leads to the locked
  // file. ERROR_FILE_NOT_FOUND when there is no file.
  bool Acquire(const std::string& path, Mode mode, Status* failure);

  // Makes a new, empty file at path, locked exclusively from the start, so
  // nobody mounts it before it is a volume. ERROR_FILE_EXISTS when the name
  // is taken.
  bool Create(const std::string& path, Status* failure);

  // Exclusive to shared, once a new volume is complete.
  void Downgrade();
  // Shared to exclusive when nobody else holds the file; false otherwise
  // (the lock is then still shared).
  bool TryExclusive();

  bool held() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // Unlocks and closes. Must come after SQLite has closed the file: closing
  // any descriptor of a file drops the process's record locks on it.
  void Release();

 private:
  int fd_ = -1;
};

// Puts the volume file at replacement in the place of the volume file at
// target, in one step that no user of either file sees half of: both are
// locked exclusively (waiting up to kFileLockWait for users of target to
// finish), target must be a volume (or absent), replacement a complete
// volume that was closed cleanly, and target's leftover WAL and
// shared-memory files go with it. Both paths are host paths in one folder.
bool ReplaceVolumeFile(const std::string& target, const std::string& replacement, Status* failure);

}  // namespace tbm::store
