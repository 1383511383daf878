// One named object (a section or a mutex) as the host keeps it, and its
// life between processes.
//
// An object is a file in the host's shared-memory folder (/dev/shm), named
// "tbm-<machine tag>-<name>". Its first page is a header (kind, name, size);
// the payload (the section's bytes, or the mutex) follows at the next page.
//
// Creating is race-free: a new object is made as an unnamed file, filled in
// completely, and only then given its name with one link that fails when
// the name is taken; so no process ever sees a half-made object, and of two
// processes creating one name at once, one makes it and the other opens it.
//
// Lifetime follows the holders, with file locks doing the counting: every
// process that holds an object keeps a shared lock on its own open of the
// file. The process that lets go last finds it can take the lock
// exclusively, and removes the name while it has it. A process that dies
// loses its locks with it, so a leftover without holders is recognised by
// the next opener (it, too, gets the exclusive lock) and discarded.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "WinTypes.h"

namespace tbm::shm {

enum class ObjectKind : std::uint32_t { kSection = 1, kMutex = 2 };

// The longest name, in UTF-16 units, terminator not counted.
constexpr std::size_t kMaxNameUnits = 259;

class SharedObject : public std::enable_shared_from_this<SharedObject> {
 public:
  // Takes over descriptor, an open of the object's file. path is its name
  // on the host, empty while it has none.
  SharedObject(int descriptor, ObjectKind kind, std::uint64_t payloadOffset,
               std::uint64_t payloadBytes, std::string path);
  ~SharedObject();
  SharedObject(const SharedObject&) = delete;
  SharedObject& operator=(const SharedObject&) = delete;

  ObjectKind kind() const { return kind_; }
  int descriptor() const { return descriptor_; }
  // Where the payload starts in the file (one page in), and its size.
  std::uint64_t payloadOffset() const { return payloadOffset_; }
  std::uint64_t payloadBytes() const { return payloadBytes_; }

  // The whole payload, mapped for reading and writing once and kept mapped
  // while the object lives in this process; null when it cannot be mapped.
  void* Payload();

  // While pinned, the object stays in this process even when no handle or
  // view refers to it any more (a mutex owned by one of its threads must
  // stay mapped, or the host could not mark it abandoned when that thread
  // dies). Pins are counted.
  void Pin();
  void Unpin();
  // Forgets all pins and pins once: for a mutex taken over from an owner
  // that died, whose pins (if it was a thread of this process) will never
  // be unpinned.
  void PinAfresh();

  // Gives an unnamed object the name path, unless the name is taken
  // (ERROR_ALREADY_EXISTS); other failures are host errors.
  DWORD Publish(const std::string& path);

  // The host file's identity, and whether this process opened it (a child
  // made by fork holds its parent's objects without having opened them).
  dev_t device() const { return device_; }
  ino_t inode() const { return inode_; }
  bool OpenedByThisProcess() const;

 private:
  const int descriptor_;
  const ObjectKind kind_;
  const std::uint64_t payloadOffset_;
  const std::uint64_t payloadBytes_;
  const pid_t ownerProcess_;  // a child made by fork inherits the object but never removes it
  std::string path_;          // empty while unnamed
  dev_t device_ = 0;
  ino_t inode_ = 0;

  std::mutex lock_;
  void* payload_ = nullptr;
  std::size_t pins_ = 0;
  std::shared_ptr<SharedObject> pinnedSelf_;
};

struct OpenResult {
  std::shared_ptr<SharedObject> object;  // null on failure
  bool existed = false;                  // opened rather than created
  DWORD error = ERROR_SUCCESS;
};

// Opens the existing object of that name on the current machine. Errors:
// ERROR_FILE_NOT_FOUND (no such object, or only a leftover of dead
// processes, which is discarded), ERROR_INVALID_HANDLE (the name is an
// object of the other kind), ERROR_INVALID_DATA (the host file is not one
// of ours), ERROR_FILENAME_EXCED_RANGE, host errors.
OpenResult OpenExisting(ObjectKind kind, std::u16string_view name);

// Opens the object of that name, or creates it with payloadBytes of zeros
// when there is none. A new object is handed to prepare before anyone else
// can see it (to set up a mutex, say); if another process publishes the
// name first, discard undoes what prepare did and the other's object is
// opened instead. prepare returns ERROR_SUCCESS or the error to fail with.
// An empty name makes an unnamed object. Errors as OpenExisting, and
// ERROR_NOT_ENOUGH_MEMORY when the host has no room for the payload.
OpenResult CreateOrOpen(ObjectKind kind, std::u16string_view name, std::uint64_t payloadBytes,
                        const std::function<DWORD(SharedObject&)>& prepare,
                        const std::function<void(SharedObject&)>& discard);

// The host file name standing for name on the current machine: the
// machine's tag, then the name with every UTF-16 unit but ASCII letters,
// digits, '-', '_' and '.' written as %XXXX; a long name is cut and followed
// by a hash of the whole, to stay within the host's limit on names.
std::string HostObjectName(std::u16string_view name);

}  // namespace tbm::shm
