#include "Explanations.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Database.h"
#include "DevicePath.h"
#include "Utf16.h"

namespace tbm::tbmdb {

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

}  // namespace

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

bool HasNumberPastLastYear(std::u16string_view text) {
  long run = 0;
  for (const char16_t c : text) {
    if (c >= u'0' && c <= u'9') {
      run = std::min(run * 10 + (c - u'0'), 100000L);
      if (run > kLastDateYear) return true;
    } else {
      run = 0;
    }
  }
  return false;
}

// The field's limit counts UTF-16 units of the stored text, where a line
// break (CR LF) and a character beyond U+FFFF take two.
std::string TooLongInWords(const std::u16string& value, std::uint32_t maxChars) {
  const std::u16string shown = Utf8ToUtf16(ShownText(value));
  std::size_t characters = 0;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (!(shown[i] >= 0xDC00 && shown[i] <= 0xDFFF && i > 0 && shown[i - 1] >= 0xD800 &&
          shown[i - 1] <= 0xDBFF)) {
      ++characters;
    }
  }
  if (characters == value.size()) {
    return "the value has " + std::to_string(characters) + " characters; the field holds at most " +
           std::to_string(maxChars);
  }
  return "the value has " + std::to_string(characters) + " characters, which take " +
         std::to_string(value.size()) + " places; the field holds at most " +
         std::to_string(maxChars) +
         " (a line break takes 2, as does a character beyond U+FFFF such as an emoji)";
}

}  // namespace tbm::tbmdb
