#include "SharedObject.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>

#include "HostErrors.h"
#include "Machine.h"

namespace tbm::shm {

namespace {

// Where the host keeps named shared memory. The objects are made here
// directly rather than through shm_open, because only a file made unnamed
// and linked in afterwards gives a creation no other process can see half
// done.
constexpr const char* kFolder = "/dev/shm";

constexpr char kMagic[8] = {'T', 'B', 'M', 'S', 'H', 'M', '0', '1'};

// The first bytes of every object file. Written once, before the object
// has a name; read and checked by every process that opens it.
struct FileHeader {
  char magic[8];
  std::uint32_t kind;
  std::uint32_t nameUnits;
  std::uint64_t payloadOffset;
  std::uint64_t payloadBytes;
  char16_t name[kMaxNameUnits + 1];
};

// Larger payloads are refused outright, before the host is asked (which
// could take memory page by page before finding it has too little).
constexpr std::uint64_t kMaxPayloadBytes = std::uint64_t{1} << 30;

// Opening and creating retry when another process removes or replaces the
// object under them; each retry means another process made progress, so
// the bound is only a guard against a host that misbehaves.
constexpr int kMaxAttempts = 1000;

std::uint64_t PageSize() {
  static const long size = ::sysconf(_SC_PAGESIZE);
  return size > 0 ? static_cast<std::uint64_t>(size) : 4096;
}

// The platform error for a failed host call on an object file. Running out
// of room is running out of memory here, not a full disk.
DWORD ObjectError(int error, const std::string& path) {
  switch (error) {
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ErrorFromErrno(error, path);
  }
}

// flock that resumes after a signal.
int LockFile(int descriptor, int operation) {
  int result;
  do {
    result = ::flock(descriptor, operation);
  } while (result != 0 && errno == EINTR);
  return result;
}

// True when path still names the file open as descriptor.
bool PathNamesDescriptor(const std::string& path, int descriptor) {
  struct stat named {};
  struct stat open {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(descriptor, &open) == 0 &&
         named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

// Removes path if it still names descriptor's file. The caller holds the
// file's lock exclusively, so nobody else holds the object, and nobody can
// give the name to another file while this one has it.
void RemoveName(const std::string& path, int descriptor) {
  if (PathNamesDescriptor(path, descriptor)) ::unlink(path.c_str());
}

// The objects this process holds, by host file, so that all handles to one
// object in a process share one open, one lock and one mapping (a mutex
// must be used through one mapping per process). The lock also serialises
// the opening and creating of this process's threads.
class Directory {
 public:
  static Directory& Instance() {
    static Directory* directory = new Directory;  // outlives every object
    return *directory;
  }

  std::mutex& lock() { return lock_; }

  // The live object of this process for that file, if any. Needs lock().
  std::shared_ptr<SharedObject> Find(dev_t device, ino_t inode) {
    const auto found = objects_.find({device, inode});
    if (found == objects_.end()) return nullptr;
    std::shared_ptr<SharedObject> object = found->second.lock();
    if (!object || !object->OpenedByThisProcess()) return nullptr;
    return object;
  }

  // Needs lock().
  void Remember(const std::shared_ptr<SharedObject>& object) {
    for (auto it = objects_.begin(); it != objects_.end();) {
      it = it->second.expired() ? objects_.erase(it) : std::next(it);
    }
    objects_[{object->device(), object->inode()}] = object;
  }

 private:
  std::mutex lock_;
  std::map<std::pair<dev_t, ino_t>, std::weak_ptr<SharedObject>> objects_;
};

std::string HostPath(std::u16string_view name) {
  return std::string(kFolder) + "/" + HostObjectName(name);
}

// Reads and checks the header of an object file opened as descriptor, of
// size fileBytes. Errors: ERROR_INVALID_DATA (not one of ours),
// ERROR_INVALID_HANDLE (another kind, or another name under a hashed host
// name).
DWORD CheckHeader(int descriptor, std::uint64_t fileBytes, ObjectKind kind,
                  std::u16string_view name, FileHeader& header) {
  if (fileBytes < sizeof header ||
      ::pread(descriptor, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
    return ERROR_INVALID_DATA;
  }
  if (std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.nameUnits > kMaxNameUnits ||
      header.payloadOffset != PageSize() || header.payloadBytes == 0 ||
      header.payloadBytes > kMaxPayloadBytes ||
      fileBytes < header.payloadOffset + header.payloadBytes) {
    return ERROR_INVALID_DATA;
  }
  if (header.kind != static_cast<std::uint32_t>(ObjectKind::kSection) &&
      header.kind != static_cast<std::uint32_t>(ObjectKind::kMutex)) {
    return ERROR_INVALID_DATA;
  }
  if (header.kind != static_cast<std::uint32_t>(kind)) return ERROR_INVALID_HANDLE;
  if (std::u16string_view(header.name, header.nameUnits) != name) return ERROR_INVALID_HANDLE;
  return ERROR_SUCCESS;
}

// One attempt at opening the object named path. Needs the directory lock.
// retry is set when the object went away while it was being opened.
OpenResult TryOpen(ObjectKind kind, std::u16string_view name, const std::string& path,
                   bool& retry) {
  retry = false;
  const int descriptor = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (descriptor < 0) {
    return {nullptr, false, errno == ENOENT ? ERROR_FILE_NOT_FOUND : ObjectError(errno, path)};
  }
  auto fail = [descriptor](DWORD error) {
    ::close(descriptor);
    return OpenResult{nullptr, false, error};
  };
  struct stat info {};
  if (::fstat(descriptor, &info) != 0) return fail(ObjectError(errno, path));
  if (!S_ISREG(info.st_mode)) return fail(ERROR_INVALID_DATA);
  if (info.st_uid != ::geteuid()) return fail(ERROR_ACCESS_DENIED);

  if (std::shared_ptr<SharedObject> held = Directory::Instance().Find(info.st_dev, info.st_ino)) {
    ::close(descriptor);
    if (held->kind() != kind) return {nullptr, false, ERROR_INVALID_HANDLE};
    return {std::move(held), true, ERROR_SUCCESS};
  }

  // Nobody holds it: every process that did has died. Discard the leftover.
  if (LockFile(descriptor, LOCK_EX | LOCK_NB) == 0) {
    RemoveName(path, descriptor);
    return fail(ERROR_FILE_NOT_FOUND);
  }
  if (LockFile(descriptor, LOCK_SH) != 0) return fail(ObjectError(errno, path));
  // Its last holder may have let it go between the open and the lock.
  if (!PathNamesDescriptor(path, descriptor)) {
    retry = true;
    return fail(ERROR_FILE_NOT_FOUND);
  }
  if (::fstat(descriptor, &info) != 0) return fail(ObjectError(errno, path));

  FileHeader header{};
  const DWORD error =
      CheckHeader(descriptor, static_cast<std::uint64_t>(info.st_size), kind, name, header);
  if (error != ERROR_SUCCESS) return fail(error);
  auto object = std::make_shared<SharedObject>(descriptor, kind, header.payloadOffset,
                                               header.payloadBytes, path);
  Directory::Instance().Remember(object);
  return {std::move(object), true, ERROR_SUCCESS};
}

OpenResult OpenLocked(ObjectKind kind, std::u16string_view name) {
  const std::string path = HostPath(name);
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    bool retry = false;
    OpenResult result = TryOpen(kind, name, path, retry);
    if (!retry) return result;
  }
  return {nullptr, false, ERROR_INTERNAL_ERROR};
}

// A new object without a name: zero-filled, its memory reserved, its
// header written, held by this process (shared lock taken).
OpenResult MakeUnnamed(ObjectKind kind, std::u16string_view name, std::uint64_t payloadBytes) {
  if (payloadBytes == 0 || payloadBytes > kMaxPayloadBytes) {
    return {nullptr, false, payloadBytes == 0 ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY};
  }
  const int descriptor = ::open(kFolder, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (descriptor < 0) return {nullptr, false, ObjectError(errno, kFolder)};
  auto fail = [descriptor](DWORD error) {
    ::close(descriptor);
    return OpenResult{nullptr, false, error};
  };

  FileHeader header{};
  std::memcpy(header.magic, kMagic, sizeof kMagic);
  header.kind = static_cast<std::uint32_t>(kind);
  header.nameUnits = static_cast<std::uint32_t>(name.size());
  name.copy(header.name, name.size());
  header.payloadOffset = PageSize();
  header.payloadBytes = payloadBytes;
  const auto fileBytes = static_cast<off_t>(header.payloadOffset + payloadBytes);
  if (const int error = ::posix_fallocate(descriptor, 0, fileBytes); error != 0) {
    return fail(ObjectError(error, kFolder));
  }
  if (::pwrite(descriptor, &header, sizeof header, 0) != static_cast<ssize_t>(sizeof header)) {
    return fail(ObjectError(errno, kFolder));
  }
  if (LockFile(descriptor, LOCK_SH) != 0) return fail(ObjectError(errno, kFolder));
  return {std::make_shared<SharedObject>(descriptor, kind, header.payloadOffset, payloadBytes,
                                         std::string()),
          false, ERROR_SUCCESS};
}

std::uint64_t HashUnits(std::u16string_view text) {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a, 64 bits, over the UTF-16 units
  for (const char16_t unit : text) {
    hash ^= static_cast<std::uint8_t>(unit & 0xFF);
    hash *= 1099511628211ull;
    hash ^= static_cast<std::uint8_t>(unit >> 8);
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

SharedObject::SharedObject(int descriptor, ObjectKind kind, std::uint64_t payloadOffset,
                           std::uint64_t payloadBytes, std::string path)
    : descriptor_(descriptor),
      kind_(kind),
      payloadOffset_(payloadOffset),
      payloadBytes_(payloadBytes),
      ownerProcess_(::getpid()),
      path_(std::move(path)) {
  struct stat info {};
  if (::fstat(descriptor_, &info) == 0) {
    device_ = info.st_dev;
    inode_ = info.st_ino;
  }
}

SharedObject::~SharedObject() {
  if (payload_ != nullptr) ::munmap(payload_, static_cast<std::size_t>(payloadBytes_));
  // The last holder anywhere gets the lock exclusively and removes the
  // name; anyone else merely lets go. A child made by fork shares its
  // parent's lock and must leave the decision to the parent.
  if (!path_.empty() && OpenedByThisProcess() && LockFile(descriptor_, LOCK_EX | LOCK_NB) == 0) {
    RemoveName(path_, descriptor_);
  }
  ::close(descriptor_);
}

bool SharedObject::OpenedByThisProcess() const { return ownerProcess_ == ::getpid(); }

void* SharedObject::Payload() {
  std::lock_guard guard(lock_);
  if (payload_ == nullptr) {
    void* mapped = ::mmap(nullptr, static_cast<std::size_t>(payloadBytes_), PROT_READ | PROT_WRITE,
                          MAP_SHARED, descriptor_, static_cast<off_t>(payloadOffset_));
    if (mapped != MAP_FAILED) payload_ = mapped;
  }
  return payload_;
}

void SharedObject::Pin() {
  std::lock_guard guard(lock_);
  if (pins_++ == 0) pinnedSelf_ = shared_from_this();
}

void SharedObject::PinAfresh() {
  std::lock_guard guard(lock_);
  pins_ = 1;
  if (!pinnedSelf_) pinnedSelf_ = shared_from_this();
}

void SharedObject::Unpin() {
  std::shared_ptr<SharedObject> released;  // may be the last reference: dropped after the lock
  std::lock_guard guard(lock_);
  if (pins_ > 0 && --pins_ == 0) released = std::move(pinnedSelf_);
}

DWORD SharedObject::Publish(const std::string& path) {
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", descriptor_);
  if (::linkat(AT_FDCWD, self, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) {
    return errno == EEXIST ? ERROR_ALREADY_EXISTS : ObjectError(errno, path);
  }
  path_ = path;
  return ERROR_SUCCESS;
}

OpenResult OpenExisting(ObjectKind kind, std::u16string_view name) {
  if (name.empty()) return {nullptr, false, ERROR_INVALID_PARAMETER};
  if (name.size() > kMaxNameUnits) return {nullptr, false, ERROR_FILENAME_EXCED_RANGE};
  std::lock_guard guard(Directory::Instance().lock());
  return OpenLocked(kind, name);
}

OpenResult CreateOrOpen(ObjectKind kind, std::u16string_view name, std::uint64_t payloadBytes,
                        const std::function<DWORD(SharedObject&)>& prepare,
                        const std::function<void(SharedObject&)>& discard) {
  if (name.size() > kMaxNameUnits) return {nullptr, false, ERROR_FILENAME_EXCED_RANGE};
  if (name.empty()) {
    OpenResult fresh = MakeUnnamed(kind, name, payloadBytes);
    if (fresh.object) {
      if (const DWORD error = prepare(*fresh.object); error != ERROR_SUCCESS) {
        return {nullptr, false, error};
      }
    }
    return fresh;
  }

  const std::string path = HostPath(name);
  std::lock_guard guard(Directory::Instance().lock());
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    OpenResult opened = OpenLocked(kind, name);
    if (opened.object || opened.error != ERROR_FILE_NOT_FOUND) return opened;

    OpenResult fresh = MakeUnnamed(kind, name, payloadBytes);
    if (!fresh.object) return fresh;
    if (const DWORD error = prepare(*fresh.object); error != ERROR_SUCCESS) {
      return {nullptr, false, error};
    }
    const DWORD error = fresh.object->Publish(path);
    if (error == ERROR_SUCCESS) {
      Directory::Instance().Remember(fresh.object);
      return fresh;
    }
    discard(*fresh.object);
    if (error != ERROR_ALREADY_EXISTS) return {nullptr, false, error};
    // Another process published the name first: open theirs.
  }
  return {nullptr, false, ERROR_INTERNAL_ERROR};
}

std::string HostObjectName(std::u16string_view name) {
  static constexpr std::size_t kMaxReadable = 160;
  std::string encoded;
  for (const char16_t unit : name) {
    const bool plain = (unit >= u'a' && unit <= u'z') || (unit >= u'A' && unit <= u'Z') ||
                       (unit >= u'0' && unit <= u'9') || unit == u'-' || unit == u'_' ||
                       unit == u'.';
    if (plain) {
      encoded += static_cast<char>(unit);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "%%%04X", static_cast<unsigned>(unit));
      encoded += escaped;
    }
  }
  // '~' never appears in an encoded name, so a cut name cannot equal one.
  if (encoded.size() > kMaxReadable + 20) {
    char hash[24];
    std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(HashUnits(name)));
    encoded = encoded.substr(0, kMaxReadable) + hash;
  }
  return "tbm-" + MachineTag() + "-" + encoded;
}

}  // namespace tbm::shm
