#include "HostFileInfo.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace tbm::fs {

namespace {

// Seconds from 1601-01-01, where the platform's clock starts, to 1970-01-01.
constexpr std::int64_t kSecondsFrom1601To1970 = 11644473600;

FILETIME FileTimeFromHost(std::int64_t seconds, std::uint32_t nanoseconds) {
  const std::int64_t since1601 = seconds + kSecondsFrom1601To1970;
  const std::uint64_t ticks =
      since1601 < 0 ? 0 : static_cast<std::uint64_t>(since1601) * 10'000'000u + nanoseconds / 100u;
  return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

}  // namespace

std::optional<HostFileInfo> ReadHostFileInfo(const std::string& hostPath) {
  struct statx info {};
  if (::statx(AT_FDCWD, hostPath.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &info) != 0) {
    return std::nullopt;
  }
  HostFileInfo result;
  DWORD attributes = 0;
  if (S_ISDIR(info.stx_mode)) {
    attributes |= FILE_ATTRIBUTE_DIRECTORY;
  } else {
    result.size = info.stx_size;
  }
  if ((info.stx_mode & S_IWUSR) == 0) attributes |= FILE_ATTRIBUTE_READONLY;
  result.attributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;

  result.lastWriteTime = FileTimeFromHost(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
  result.lastAccessTime = FileTimeFromHost(info.stx_atime.tv_sec, info.stx_atime.tv_nsec);
  result.creationTime = (info.stx_mask & STATX_BTIME) != 0
                            ? FileTimeFromHost(info.stx_btime.tv_sec, info.stx_btime.tv_nsec)
                            : result.lastWriteTime;
  return result;
}

}  // namespace tbm::fs
