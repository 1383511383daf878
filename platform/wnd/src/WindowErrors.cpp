// Sentences for the errors of the window calls.
#include "WinUser.h"

const char* DescribeWindowError(DWORD error) {
  switch (error) {
    case ERROR_INVALID_WINDOW_HANDLE:
      return "the window does not exist (has its program ended?)";
    case ERROR_INVALID_INDEX:
      return "the window has no such value";
    case ERROR_NO_SYSTEM_RESOURCES:
      return "the system is out of resources for windows and messages";
    case ERROR_TIMEOUT:
      return "the window did not answer in time";
    case ERROR_ACCESS_DENIED:
      return "the window belongs to another program or user";
    case ERROR_INVALID_DATA:
      return "the window's answer was not understood";
    default:
      return DescribeError(error);
  }
}
