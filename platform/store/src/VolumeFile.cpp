#include "VolumeFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>

#include "HostErrors.h"

namespace tbm::store {
namespace {

constexpr std::int64_t kApplicationId = 0x54424D56;  // "TBMV"
constexpr std::chrono::milliseconds kLockPoll{10};

bool FailWithErrno(Status* failure, int error, const std::string& what) {
  DWORD code = ERROR_INTERNAL_ERROR;
  switch (error) {
    case ENOENT:
      code = ERROR_FILE_NOT_FOUND;
      break;
    case EEXIST:
      code = ERROR_FILE_EXISTS;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
      code = ERROR_ACCESS_DENIED;
      break;
    case ENOSPC:
    case EDQUOT:
      code = ERROR_DISK_FULL;
      break;
    case ENAMETOOLONG:
      code = ERROR_FILENAME_EXCED_RANGE;
      break;
    default:
      break;
  }
  *failure = PlatformFailure(code, what + ": " + std::strerror(error));
  return false;
}

bool SameFile(int fd, const std::string& path) {
  struct stat held {};
  struct stat named {};
  return ::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

std::string InUse(const std::string& path) {
  return "'" + path +
         "' is in use by another program (the handheld program, a synchronisation or another "
         "tool); try again when it has finished";
}

}  // namespace

HeaderCheck CheckHeader(int fd) {
  std::uint8_t header[100];
  ssize_t got = 0;
  while (got < static_cast<ssize_t>(sizeof header)) {
    const ssize_t n = ::pread(fd, header + got, sizeof header - static_cast<std::size_t>(got), got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return HeaderCheck::kUnreadable;
    if (n == 0) break;
    got += n;
  }
  if (got == 0) return HeaderCheck::kEmpty;
  if (got < static_cast<ssize_t>(sizeof header)) return HeaderCheck::kForeign;
  if (std::memcmp(header, "SQLite format 3", 16) != 0) return HeaderCheck::kForeign;
  const std::int64_t appId =
      (std::int64_t{header[68]} << 24) | (header[69] << 16) | (header[70] << 8) | header[71];
  return appId == kApplicationId ? HeaderCheck::kVolume : HeaderCheck::kForeign;
}

VolumeFileLock::VolumeFileLock(VolumeFileLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)) {}

VolumeFileLock& VolumeFileLock::operator=(VolumeFileLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void VolumeFileLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing drops the lock
  fd_ = -1;
}

bool VolumeFileLock::Acquire(const std::string& path, Mode mode, Status* failure) {
  Release();
  const int operation = (mode == Mode::kShared ? LOCK_SH : LOCK_EX) | LOCK_NB;
  const auto deadline = std::chrono::steady_clock::now() + kFileLockWait;
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return FailWithErrno(failure, errno, "cannot open '" + path + "'");
    int rc;
    while ((rc = ::flock(fd, operation)) != 0 && errno == EWOULDBLOCK &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kLockPoll);
    }
    if (rc != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK) {
        *failure = PlatformFailure(ERROR_SHARING_VIOLATION, InUse(path));
        return false;
      }
      return FailWithErrno(failure, error, "cannot lock '" + path + "'");
    }
    if (SameFile(fd, path)) {
      fd_ = fd;
      return true;
    }
    // Replaced (or removed) while this process waited: the file now at the
    // name is the one to lock.
    ::close(fd);
    if (std::chrono::steady_clock::now() >= deadline) {
      *failure = PlatformFailure(ERROR_SHARING_VIOLATION, InUse(path));
      return false;
    }
  }
}

bool VolumeFileLock::Create(const std::string& path, Status* failure) {
  Release();
  const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int error = errno;
    FailWithErrno(failure, error, "cannot create '" + path + "'");
    if (error == ENOENT) {  // the folder is missing
      *failure = PlatformFailure(ERROR_PATH_NOT_FOUND, failure->message());
    }
    return false;
  }
  // Nobody else can hold a file made a moment ago, so this cannot wait.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    ::unlink(path.c_str());
    return FailWithErrno(failure, error, "cannot lock '" + path + "'");
  }
  fd_ = fd;
  return true;
}

void VolumeFileLock::Downgrade() {
  if (fd_ >= 0) ::flock(fd_, LOCK_SH);
}

bool VolumeFileLock::TryExclusive() { return fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0; }

bool ReplaceVolumeFile(const std::string& target, const std::string& replacement, Status* failure) {
  VolumeFileLock incoming;
  if (!incoming.Acquire(replacement, VolumeFileLock::Mode::kExclusive, failure)) return false;
  if (CheckHeader(incoming.fd()) != HeaderCheck::kVolume || Exists(replacement + "-wal")) {
    *failure = PlatformFailure(
        ERROR_BAD_FORMAT, "'" + replacement + "' is not a complete Tabulon Mobile database volume");
    return false;
  }
  VolumeFileLock outgoing;
  if (!outgoing.Acquire(target, VolumeFileLock::Mode::kExclusive, failure)) {
    if (failure->platformError() != ERROR_FILE_NOT_FOUND) return false;
    // Nothing to replace; a file that appears meanwhile is not overwritten.
    if (::renameat2(AT_FDCWD, replacement.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) !=
        0) {
      return FailWithErrno(failure, errno, "cannot put '" + replacement + "' in place");
    }
    return true;
  }
  if (CheckHeader(outgoing.fd()) != HeaderCheck::kVolume) {
    *failure = PlatformFailure(
        ERROR_BAD_FORMAT,
        "'" + target + "' is not a Tabulon Mobile database volume; it is not replaced");
    return false;
  }
  // Nobody uses the old file, so a WAL beside it is a leftover of a process
  // that died; it belongs to the old file and must not meet the new one. It
  // goes first: should this process die before the rename, the old file
  // stays whole, only without the writes the leftover held.
  if (::unlink((target + "-wal").c_str()) != 0 && errno != ENOENT) {
    return FailWithErrno(failure, errno, "cannot remove '" + target + "-wal'");
  }
  if (::rename(replacement.c_str(), target.c_str()) != 0) {
    return FailWithErrno(failure, errno, "cannot put '" + replacement + "' in place");
  }
  ::unlink((target + "-shm").c_str());
  return true;
}

}  // namespace tbm::store
