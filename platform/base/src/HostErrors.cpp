#include "HostErrors.h"

#include <sys/stat.h>

#include <cerrno>
#include <utility>

namespace tbm {

namespace {

// True when the folder that would hold hostPath exists.
bool ParentFolderExists(const std::string& hostPath) {
  const std::size_t slash = hostPath.find_last_of('/');
  std::string parent;
  if (slash == std::string::npos) {
    parent = ".";
  } else if (slash == 0) {
    parent = "/";
  } else {
    parent = hostPath.substr(0, slash);
  }
  struct stat info {};
  return ::stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

DWORD ErrorFromErrno(int error, const std::string& hostPath, DWORD existsError) {
  switch (error) {
    case 0:
      return ERROR_SUCCESS;
    case ENOENT:
      return ParentFolderExists(hostPath) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
    case ELOOP:
      return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case EBUSY:
      return ERROR_ACCESS_DENIED;
    case EEXIST:
      return existsError;
    case ENOTEMPTY:
      return ERROR_DIR_NOT_EMPTY;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return ERROR_DISK_FULL;
    case ENAMETOOLONG:
      return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    case EXDEV:
      return ERROR_NOT_SAME_DEVICE;
    case EINVAL:
      return ERROR_INVALID_PARAMETER;
    case EIO:
      return ERROR_READ_FAULT;
    default:
      return ERROR_INTERNAL_ERROR;
  }
}

namespace {

StatusCode CodeForPlatformError(DWORD error) {
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return StatusCode::kBusy;
    case ERROR_DISK_FULL:
      return StatusCode::kNoSpace;
    case ERROR_ACCESS_DENIED:
      return StatusCode::kNoPermission;
    case ERROR_FILE_CORRUPT:
    case ERROR_BAD_FORMAT:
    case ERROR_INVALID_DATA:
      return StatusCode::kDamaged;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return StatusCode::kNotFound;
    case ERROR_NOT_ENOUGH_MEMORY:
      return StatusCode::kNoMemory;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
      return StatusCode::kInvalidArgument;
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
      return StatusCode::kIoFailed;
    default:
      return StatusCode::kFailed;
  }
}

}  // namespace

Status PlatformFailure(DWORD error, std::string message) {
  return Status(CodeForPlatformError(error), std::move(message), error);
}

}  // namespace tbm
