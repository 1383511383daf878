#include "SetAsideFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Utf16.h"

namespace tbm::bridge {
namespace {

constexpr char kVerticalTab = 11;

Status FileFailure(const char* doing, const std::string& path, int error) {
  const StatusCode code = error == ENOSPC || error == EDQUOT ? StatusCode::kNoSpace
                          : error == EACCES || error == EPERM || error == EROFS
                              ? StatusCode::kNoPermission
                          : error == ENOENT ? StatusCode::kNotFound
                                            : StatusCode::kIoFailed;
  return Status(code,
                std::string(doing) + " the set-aside file " + path + ": " + std::strerror(error));
}

}  // namespace

std::string SetAsideLine(std::span<const std::string> values) {
  std::string line;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) line += ',';
    line += '"';
    for (const char c : values[i]) {
      if (c == '"') {
        line += "\"\"";
      } else if (c == '\r') {
        line += kVerticalTab;
      } else {
        line += c;
      }
    }
    line += '"';
  }
  line += "\r\n";
  return line;
}

Status SetAsideFileName(std::string_view handheldName, sync::AnsiCodePage& codePage,
                        std::string* fileName) {
  std::u16string name;
  if (Status status = codePage.ToUtf16(handheldName, &name); !status.ok()) {
    return Status(StatusCode::kInvalidArgument,
                  "the handheld database's name does not convert: " + status.message());
  }
  if (const std::size_t dot = name.rfind(u'.'); dot != std::u16string::npos) name.resize(dot);
  for (char16_t& c : name) {
    if (c == u'/' || c == u'\\' || c < 0x20 || c == 0x7F) c = u'_';
  }
  if (name.find_first_not_of(u'.') == std::u16string::npos) {
    return Status(StatusCode::kInvalidArgument,
                  "the handheld database's name \"" + std::string(handheldName) +
                      "\" leaves no name for its set-aside file; rename the database on the "
                      "handheld");
  }
  *fileName = Utf16ToUtf8(name) + ".csv";
  return Status();
}

SetAsideFile::~SetAsideFile() {
  if (fd_ >= 0) ::close(fd_);
}

Status SetAsideFile::Open(const std::string& path) {
  if (fd_ >= 0) ::close(fd_);
  path_ = path;
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd_ < 0) return FileFailure("cannot open", path, errno);
  return Status();
}

Status SetAsideFile::Append(std::span<const std::string> values) {
  if (fd_ < 0) return Status(StatusCode::kInvalidArgument, "the set-aside file is not open");
  const std::string line = SetAsideLine(values);
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t put = ::write(fd_, data, left);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return FileFailure("cannot write to", path_, put < 0 ? errno : EIO);
    data += put;
    left -= static_cast<std::size_t>(put);
  }
  return Status();
}

Status SetAsideFile::Close() {
  if (fd_ < 0) return Status();
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) return FileFailure("cannot close", path_, errno);
  return Status();
}

}  // namespace tbm::bridge
