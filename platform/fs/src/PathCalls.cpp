// The calls that work on names rather than open files: delete, move,
// attributes, and making and removing folders.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "Descriptor.h"
#include "DevicePath.h"
#include "FileCalls.h"
#include "HostErrors.h"
#include "HostFileInfo.h"
#include "Utf16.h"

namespace tbm::fs {

namespace {

// The last component of a path as the caller spelled it, for a rename that
// only changes case. Trailing separators are not part of it.
std::u16string_view LastComponent(std::u16string_view path) {
  const char16_t separator = path.find(u'/') != std::u16string_view::npos ? u'/' : u'\\';
  while (!path.empty() && path.back() == separator) path.remove_suffix(1);
  const std::size_t cut = path.find_last_of(separator);
  return cut == std::u16string_view::npos ? path : path.substr(cut + 1);
}

std::string ParentOf(const std::string& hostPath) {
  const std::size_t slash = hostPath.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? std::string("/") : hostPath.substr(0, slash);
}

bool SameEntry(const std::string& a, const std::string& b) {
  struct stat first {
  }, second{};
  return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

// Copies the bytes of source to target. Returns 0 or an errno.
int CopyBytes(int source, int target) {
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const ssize_t got = ::read(source, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    if (const int error = WriteAll(target, buffer.data(), static_cast<std::size_t>(got))) {
      return error;
    }
  }
}

// Moves a regular file to another host file system: copies it to a new file
// to (which must not exist), keeping its permissions and last write time,
// then deletes from. On failure nothing is left at to and from is untouched.
// Returns 0 or an errno.
int CopyThenDelete(const std::string& from, const std::string& to) {
  Descriptor source(::open(from.c_str(), O_RDONLY | O_CLOEXEC));
  if (source.get() < 0) return errno;
  struct stat info {};
  if (::fstat(source.get(), &info) != 0) return errno;
  Descriptor target(
      ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, info.st_mode & 07777));
  if (target.get() < 0) return errno;

  int error = CopyBytes(source.get(), target.get());
  if (error == 0 && ::fsync(target.get()) != 0) error = errno;
  if (error == 0) {
    const timespec times[2] = {info.st_atim, info.st_mtim};
    ::futimens(target.get(), times);
  }
  if (const int closed = target.Close(); error == 0) error = closed;
  if (error == 0 && ::unlink(from.c_str()) != 0) error = errno;
  if (error != 0) ::unlink(to.c_str());
  return error;
}

BOOL Move(const WCHAR* existingName, const WCHAR* newName) {
  const MappedPath from = HostPathFromDevicePath(Utf16View(existingName));
  if (!from) return Fail(from.error, FALSE);
  const MappedPath to = HostPathFromDevicePath(Utf16View(newName));
  if (!to) return Fail(to.error, FALSE);
  struct stat info {};
  if (::lstat(from.hostPath.c_str(), &info) != 0) {
    return Fail(ErrorFromErrno(errno, from.hostPath), FALSE);
  }

  // The case-blind mapping found the source itself under the new name: the
  // caller is changing the case of a name.
  if (to.hostPath == from.hostPath) {
    const std::string respelled =
        ParentOf(to.hostPath) + "/" + Utf16ToUtf8(LastComponent(Utf16View(newName)));
    if (respelled == from.hostPath) return TRUE;
    if (::rename(from.hostPath.c_str(), respelled.c_str()) != 0) {
      return Fail(ErrorFromErrno(errno, respelled), FALSE);
    }
    return TRUE;
  }

  if (::renameat2(AT_FDCWD, from.hostPath.c_str(), AT_FDCWD, to.hostPath.c_str(),
                  RENAME_NOREPLACE) == 0) {
    return TRUE;
  }
  int error = errno;
  if (error == EINVAL || error == ENOSYS) {
    // Either the host file system cannot refuse to replace, or a folder is
    // moving into itself; a plain rename after our own check tells which.
    struct stat existing {};
    if (::lstat(to.hostPath.c_str(), &existing) == 0) return Fail(ERROR_ALREADY_EXISTS, FALSE);
    if (::rename(from.hostPath.c_str(), to.hostPath.c_str()) == 0) return TRUE;
    error = errno;
    if (error == EINVAL) return Fail(ERROR_ACCESS_DENIED, FALSE);
  }
  if (error == EXDEV && S_ISREG(info.st_mode)) error = CopyThenDelete(from.hostPath, to.hostPath);
  if (error == 0) return TRUE;
  return Fail(ErrorFromErrno(error, to.hostPath), FALSE);
}

BOOL RemoveFolder(const WCHAR* pathName) {
  const MappedPath mapped = HostPathFromDevicePath(Utf16View(pathName));
  if (!mapped) return Fail(mapped.error, FALSE);
  if (SameEntry(mapped.hostPath, DeviceRoot())) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (::rmdir(mapped.hostPath.c_str()) == 0) return TRUE;
  const int error = errno;
  struct stat info {};
  if (error == ENOTDIR && ::lstat(mapped.hostPath.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
    return Fail(ERROR_DIRECTORY, FALSE);
  }
  return Fail(ErrorFromErrno(error, mapped.hostPath, ERROR_DIR_NOT_EMPTY), FALSE);
}

}  // namespace

}  // namespace tbm::fs

using tbm::ErrorFromErrno;
using tbm::Fail;
using tbm::Guarded;

extern "C" BOOL DeleteFileW(const WCHAR* fileName) {
  return Guarded(FALSE, [&] {
    const tbm::MappedPath mapped = tbm::HostPathFromDevicePath(tbm::Utf16View(fileName));
    if (!mapped) return Fail(mapped.error, FALSE);
    if (::unlink(mapped.hostPath.c_str()) != 0) {
      return Fail(ErrorFromErrno(errno, mapped.hostPath), FALSE);
    }
    return TRUE;
  });
}

extern "C" BOOL MoveFileW(const WCHAR* existingName, const WCHAR* newName) {
  return Guarded(FALSE, [&] { return tbm::fs::Move(existingName, newName); });
}

extern "C" DWORD GetFileAttributesW(const WCHAR* fileName) {
  return Guarded(INVALID_FILE_ATTRIBUTES, [&] {
    const tbm::MappedPath mapped = tbm::HostPathFromDevicePath(tbm::Utf16View(fileName));
    if (!mapped) return Fail(mapped.error, INVALID_FILE_ATTRIBUTES);
    const auto info = tbm::fs::ReadHostFileInfo(mapped.hostPath);
    if (!info) return Fail(ErrorFromErrno(errno, mapped.hostPath), INVALID_FILE_ATTRIBUTES);
    return info->attributes;
  });
}

extern "C" BOOL CreateDirectoryW(const WCHAR* pathName, void* /*security*/) {
  return Guarded(FALSE, [&] {
    const tbm::MappedPath mapped = tbm::HostPathFromDevicePath(tbm::Utf16View(pathName));
    if (!mapped) return Fail(mapped.error, FALSE);
    if (::mkdir(mapped.hostPath.c_str(), 0777) != 0) {
      // mkdir says ENOENT only when the parent is missing.
      const DWORD error =
          errno == ENOENT ? ERROR_PATH_NOT_FOUND : ErrorFromErrno(errno, mapped.hostPath);
      return Fail(error, FALSE);
    }
    return TRUE;
  });
}

extern "C" BOOL RemoveDirectoryW(const WCHAR* pathName) {
  return Guarded(FALSE, [&] { return tbm::fs::RemoveFolder(pathName); });
}
