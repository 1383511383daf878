#include "DatabasePath.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "DevicePath.h"
#include "HostErrors.h"
#include "Utf16.h"

namespace tbm::engine {

namespace {

// Why the device root cannot hold the handheld's folders, or empty when it
// can.
std::string DeviceRootTrouble() {
  if (PrepareDeviceRoot() == ERROR_SUCCESS) return {};
  namespace stdfs = std::filesystem;
  const std::string root = DeviceRoot();
  std::error_code error;
  std::string why;
  if (!stdfs::exists(root, error)) {
    stdfs::create_directories(root, error);
    why = "it cannot be made (" + error.message() + ")";
  } else if (!stdfs::is_directory(root, error)) {
    why = "it is not a folder";
  } else if (::access(root.c_str(), W_OK) != 0) {
    why = "its My Documents and Temp folders cannot be made in it (" +
          std::string(std::strerror(errno)) + ")";
  } else {
    why = "its My Documents and Temp folders cannot be made in it";
  }
  return "the device root " + root + " cannot be used: " + why +
         "; set TBM_DEVICE_ROOT to a folder you may write in";
}

// Why a handheld path of `characters` characters has no host path, given
// the error of the mapping: the path's own fault, a device root that
// cannot be used (and why), or a symbolic link out of the device root.
std::string UnmappedInWords(DWORD error, std::size_t characters) {
  if (error == ERROR_FILENAME_EXCED_RANGE) {
    return "the handheld path has " + std::to_string(characters) +
           " characters; a handheld path has at most " + std::to_string(MAX_PATH - 1);
  }
  if (error != ERROR_INVALID_NAME) {
    if (std::string trouble = DeviceRootTrouble(); !trouble.empty()) return trouble;
  }
  if (error == ERROR_ACCESS_DENIED) {
    return "the path leads out of the device root " + DeviceRoot() +
           " through a symbolic link, and a handheld path stays inside it (name the file by a "
           "path on this machine, holding '/', instead)";
  }
  return "not a handheld path a database can have: a name in it is empty or '..', or holds a "
         "control character or one of : * ? \" < > | (a handheld path such as "
         "\\My Documents\\Tabulon\\Sales.tbm, or a path on this machine holding '/')";
}

}  // namespace

Status ResolveDatabasePath(const std::string& given, DatabasePath* path) {
  path->given = given;
  const std::u16string wide = Utf8ToUtf16(given);
  if (given.find('/') != std::string::npos) {
    path->host = given;
  } else {
    const MappedPath mapped = HostPathFromDevicePath(wide);
    if (!mapped) {
      return PlatformFailure(mapped.error,
                             given + ": " + UnmappedInWords(mapped.error, wide.size()));
    }
    path->host = mapped.hostPath;
  }
  path->engine = Utf8ToUtf16(path->host);
  return {};
}

}  // namespace tbm::engine
