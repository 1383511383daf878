// What the platform reports about a file, read from the host's stat data:
// attributes, size and time stamps. GetFileAttributesW and the find calls
// both report through here, so they always agree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "FileTypes.h"

namespace tbm::fs {

struct HostFileInfo {
  DWORD attributes = FILE_ATTRIBUTE_NORMAL;
  std::uint64_t size = 0;  // 0 for folders
  FILETIME creationTime{};
  FILETIME lastAccessTime{};
  FILETIME lastWriteTime{};
};

// Reads the information of the entry at hostPath, following symbolic links.
// Returns nullopt with errno set when the host cannot tell.
std::optional<HostFileInfo> ReadHostFileInfo(const std::string& hostPath);

}  // namespace tbm::fs
