#include "WinTypes.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}  // namespace

extern "C" DWORD GetLastError() { return lastError; }

extern "C" void SetLastError(DWORD error) { lastError = error; }

const char* DescribeError(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return "no error";
    case ERROR_FILE_NOT_FOUND:
      return "the file does not exist";
    case ERROR_PATH_NOT_FOUND:
      return "the folder does not exist";
    case ERROR_TOO_MANY_OPEN_FILES:
      return "too many files are open";
    case ERROR_NOT_SAME_DEVICE:
      return "the folder cannot be moved to another disk";
    case ERROR_MOD_NOT_FOUND:
      return "the module is not loaded";
    case ERROR_NEGATIVE_SEEK:
      return "the position would be before the start of the file";
    case ERROR_DIRECTORY:
      return "a folder was expected, but it is a file";
    case ERROR_ACCESS_DENIED:
      return "access was refused (is it a folder, or read-only?)";
    case ERROR_INVALID_HANDLE:
      return "the handle is not open";
    case ERROR_NOT_ENOUGH_MEMORY:
      return "there is not enough memory";
    case ERROR_BAD_FORMAT:
      return "the file is not a Tabulon Mobile database volume";
    case ERROR_INVALID_DATA:
      return "the data is not valid";
    case ERROR_NO_MORE_FILES:
      return "no more files match";
    case ERROR_WRITE_FAULT:
      return "the write did not reach the file";
    case ERROR_READ_FAULT:
      return "the file could not be read";
    case ERROR_SHARING_VIOLATION:
      return "another program is using the file";
    case ERROR_HANDLE_EOF:
      return "the end of the file was reached";
    case ERROR_DUP_NAME:
      return "the name is already in use";
    case ERROR_FILE_EXISTS:
      return "the file already exists";
    case ERROR_INVALID_PARAMETER:
      return "an argument is not valid";
    case ERROR_DISK_FULL:
      return "the disk is full";
    case ERROR_INSUFFICIENT_BUFFER:
      return "the buffer is too small";
    case ERROR_INVALID_NAME:
      return "the name is not valid";
    case ERROR_DIR_NOT_EMPTY:
      return "the folder is not empty";
    case ERROR_BAD_PATHNAME:
      return "the path is not valid";
    case ERROR_BUSY:
      return "another program holds the database; try again";
    case ERROR_ALREADY_EXISTS:
      return "it already exists";
    case ERROR_FILENAME_EXCED_RANGE:
      return "the name is too long";
    case ERROR_MORE_DATA:
      return "the buffer is too small for the data";
    case ERROR_NOT_OWNER:
      return "the mutex is not held by this thread";
    case ERROR_INVALID_ADDRESS:
      return "the address is not that of a mapped view";
    case ERROR_KEY_DELETED:
      return "the registry key has been deleted";
    case ERROR_MAPPED_ALIGNMENT:
      return "the offset is not a multiple of the allocation granularity";
    case ERROR_NO_MORE_ITEMS:
      return "there are no more items";
    case ERROR_INTERNAL_ERROR:
      return "an internal error occurred";
    case ERROR_FILE_CORRUPT:
      return "the file is damaged";
    default:
      return "an unknown error occurred";
  }
}
