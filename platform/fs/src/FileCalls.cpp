// The calls on open files: create or open, read, write, position, size,
// close. An open file is a host file descriptor in the handle table; its
// position is the descriptor's own, so data goes straight to the host file.

#include "FileCalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <limits>
#include <memory>

#include "DevicePath.h"
#include "FileHandles.h"
#include "HostErrors.h"
#include "Utf16.h"

namespace tbm::fs {

namespace {

// One file opened by CreateFileW. Closes its descriptor when the last user
// lets go, which may be after CloseFileHandle when another thread is still
// in a call on it.
struct OpenFile {
  static constexpr HandleKind kKind = HandleKind::kFile;

  OpenFile(int descriptor, bool canRead, bool canWrite)
      : descriptor(descriptor), canRead(canRead), canWrite(canWrite) {}
  ~OpenFile() { ::close(descriptor); }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;

  const int descriptor;
  const bool canRead;
  const bool canWrite;
};

// open(2) that retries when a signal interrupts it.
int OpenRetrying(const std::string& path, int flags, mode_t mode = 0666) {
  int descriptor;
  do {
    descriptor = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (descriptor < 0 && errno == EINTR);
  return descriptor;
}

// Opens path, creating it when missing; an existing file is opened with
// existingFlags added (O_TRUNC to empty it). Sets *existed to say which
// happened. Creating first with O_EXCL tells the two apart without a race;
// an existing file removed between the two opens is simply created.
int OpenOrCreate(const std::string& path, int flags, int existingFlags, bool* existed) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    const int created = OpenRetrying(path, flags | O_CREAT | O_EXCL);
    if (created >= 0 || errno != EEXIST) {
      *existed = false;
      return created;
    }
    const int opened = OpenRetrying(path, flags | existingFlags);
    if (opened >= 0 || errno != ENOENT) {
      *existed = true;
      return opened;
    }
  }
  errno = EBUSY;
  return -1;
}

HANDLE CreateFile(const WCHAR* fileName, DWORD access, DWORD disposition) {
  if ((access & ~(GENERIC_READ | GENERIC_WRITE)) != 0) {
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }
  const bool canRead = (access & GENERIC_READ) != 0;
  const bool canWrite = (access & GENERIC_WRITE) != 0;
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING) {
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }
  if (disposition == TRUNCATE_EXISTING && !canWrite) {
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }
  const MappedPath mapped = HostPathFromDevicePath(Utf16View(fileName));
  if (!mapped) return Fail(mapped.error, INVALID_HANDLE_VALUE);
  const std::string& path = mapped.hostPath;

  const int flags = canWrite ? (canRead ? O_RDWR : O_WRONLY) : O_RDONLY;
  bool existed = true;
  int descriptor = -1;
  switch (disposition) {
    case CREATE_NEW:
      descriptor = OpenRetrying(path, flags | O_CREAT | O_EXCL);
      existed = false;
      break;
    case CREATE_ALWAYS:
      descriptor = OpenOrCreate(path, flags, O_TRUNC, &existed);
      break;
    case OPEN_EXISTING:
      descriptor = OpenRetrying(path, flags);
      break;
    case OPEN_ALWAYS:
      descriptor = OpenOrCreate(path, flags, 0, &existed);
      break;
    case TRUNCATE_EXISTING:
      descriptor = OpenRetrying(path, flags | O_TRUNC);
      break;
  }
  if (descriptor < 0) {
    return Fail(ErrorFromErrno(errno, path, ERROR_FILE_EXISTS), INVALID_HANDLE_VALUE);
  }

  // A folder opens for reading on the host, but it is not a file here.
  struct stat info {};
  if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(descriptor);
    return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  }

  auto file = std::make_shared<OpenFile>(descriptor, canRead, canWrite);
  const HANDLE handle = FileHandles().Add(std::move(file));
  if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) {
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  }
  return handle;
}

BOOL Read(HANDLE handle, void* buffer, DWORD bytesToRead, DWORD* bytesRead, void* overlapped) {
  if (bytesRead != nullptr) *bytesRead = 0;
  const auto file = FileHandles().Lookup<OpenFile>(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (overlapped != nullptr || (buffer == nullptr && bytesToRead != 0)) {
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  }
  if (!file->canRead) return Fail(ERROR_ACCESS_DENIED, FALSE);

  auto* bytes = static_cast<unsigned char*>(buffer);
  DWORD done = 0;
  while (done < bytesToRead) {
    const ssize_t n = ::read(file->descriptor, bytes + done, bytesToRead - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (bytesRead != nullptr) *bytesRead = done;
      return Fail(ERROR_READ_FAULT, FALSE);
    }
    if (n == 0) break;  // the end of the file
    done += static_cast<DWORD>(n);
  }
  if (bytesRead != nullptr) *bytesRead = done;
  return TRUE;
}

BOOL Write(HANDLE handle, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
           void* overlapped) {
  if (bytesWritten != nullptr) *bytesWritten = 0;
  const auto file = FileHandles().Lookup<OpenFile>(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (overlapped != nullptr || (buffer == nullptr && bytesToWrite != 0)) {
    return Fail(ERROR_INVALID_PARAMETER, FALSE);
  }
  if (!file->canWrite) return Fail(ERROR_ACCESS_DENIED, FALSE);

  const auto* bytes = static_cast<const unsigned char*>(buffer);
  DWORD done = 0;
  while (done < bytesToWrite) {
    const ssize_t n = ::write(file->descriptor, bytes + done, bytesToWrite - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : ENOSPC;
      if (bytesWritten != nullptr) *bytesWritten = done;
      const bool full = error == ENOSPC || error == EDQUOT || error == EFBIG;
      return Fail(full ? ERROR_DISK_FULL : ERROR_WRITE_FAULT, FALSE);
    }
    done += static_cast<DWORD>(n);
  }
  if (bytesWritten != nullptr) *bytesWritten = done;
  return TRUE;
}

DWORD Seek(HANDLE handle, LONG distance, LONG* distanceHigh, DWORD moveMethod) {
  const auto file = FileHandles().Lookup<OpenFile>(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE, INVALID_SET_FILE_POINTER);

  // The 64-bit distance is built from its two halves, the low one unsigned.
  const std::int64_t move =
      distanceHigh == nullptr
          ? static_cast<std::int64_t>(distance)
          : static_cast<std::int64_t>(
                (static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32) |
                static_cast<std::uint32_t>(distance));

  std::int64_t origin = 0;
  if (moveMethod == FILE_CURRENT) {
    origin = ::lseek(file->descriptor, 0, SEEK_CUR);
  } else if (moveMethod == FILE_END) {
    struct stat info {};
    origin = ::fstat(file->descriptor, &info) == 0 ? info.st_size : -1;
  } else if (moveMethod != FILE_BEGIN) {
    return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  }
  if (origin < 0) return Fail(ERROR_READ_FAULT, INVALID_SET_FILE_POINTER);

  std::int64_t target = 0;
  if (__builtin_add_overflow(origin, move, &target)) {
    return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  }
  if (target < 0) return Fail(ERROR_NEGATIVE_SEEK, INVALID_SET_FILE_POINTER);
  if (distanceHigh == nullptr && target > std::int64_t{0xFFFFFFFF}) {
    return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  }
  if (::lseek(file->descriptor, target, SEEK_SET) < 0) {
    return Fail(ERROR_INVALID_PARAMETER, INVALID_SET_FILE_POINTER);
  }
  if (distanceHigh != nullptr) *distanceHigh = static_cast<LONG>(target >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(target & 0xFFFFFFFF);
}

DWORD Size(HANDLE handle, DWORD* sizeHigh) {
  const auto file = FileHandles().Lookup<OpenFile>(handle);
  if (!file) return Fail(ERROR_INVALID_HANDLE, INVALID_FILE_SIZE);
  struct stat info {};
  if (::fstat(file->descriptor, &info) != 0) return Fail(ERROR_READ_FAULT, INVALID_FILE_SIZE);
  const auto size = static_cast<std::uint64_t>(info.st_size);
  if (sizeHigh != nullptr) *sizeHigh = static_cast<DWORD>(size >> 32);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(size & 0xFFFFFFFF);
}

}  // namespace

}  // namespace tbm::fs

using tbm::Fail;
using tbm::Guarded;

extern "C" HANDLE CreateFileW(const WCHAR* fileName, DWORD access, DWORD /*shareMode*/,
                              void* /*security*/, DWORD disposition, DWORD /*flagsAndAttributes*/,
                              HANDLE /*templateFile*/) {
  return Guarded(INVALID_HANDLE_VALUE,
                 [&] { return tbm::fs::CreateFile(fileName, access, disposition); });
}

extern "C" BOOL ReadFile(HANDLE file, void* buffer, DWORD bytesToRead, DWORD* bytesRead,
                         void* overlapped) {
  return Guarded(FALSE,
                 [&] { return tbm::fs::Read(file, buffer, bytesToRead, bytesRead, overlapped); });
}

extern "C" BOOL WriteFile(HANDLE file, const void* buffer, DWORD bytesToWrite, DWORD* bytesWritten,
                          void* overlapped) {
  return Guarded(
      FALSE, [&] { return tbm::fs::Write(file, buffer, bytesToWrite, bytesWritten, overlapped); });
}

extern "C" DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod) {
  return Guarded(INVALID_SET_FILE_POINTER,
                 [&] { return tbm::fs::Seek(file, distance, distanceHigh, moveMethod); });
}

extern "C" DWORD GetFileSize(HANDLE file, DWORD* sizeHigh) {
  return Guarded(INVALID_FILE_SIZE, [&] { return tbm::fs::Size(file, sizeHigh); });
}

extern "C" BOOL CloseFileHandle(HANDLE file) {
  return Guarded(FALSE, [&] {
    if (!tbm::fs::FileHandles().Remove<tbm::fs::OpenFile>(file)) {
      return Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
  });
}
