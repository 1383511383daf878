// Whole-file writes through a temporary file and a rename.
#include "ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tbm::sample {
namespace {

// The process's umask; reading it means setting it, so it is put straight
// back (this program has a single thread).
mode_t CurrentUmask() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

std::string Failure(const std::filesystem::path& path, int error) {
  return "cannot write \"" + path.string() + "\": " + std::strerror(error);
}

}  // namespace

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

std::string ReplaceFileContents(const std::filesystem::path& path, std::string_view bytes) {
  if (path.filename().empty()) return "cannot write \"" + path.string() + "\": it names a folder";
  const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
  std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();

  const int fd = ::mkstemp(temporary.data());
  if (fd < 0) return Failure(path, errno);
  bool written =
      ::fchmod(fd, 0666 & ~CurrentUmask()) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
  int error = errno;
  if (::close(fd) != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && ::rename(temporary.c_str(), path.c_str()) == 0) return {};
  if (written) error = errno;
  ::unlink(temporary.c_str());
  return Failure(path, error);
}

}  // namespace tbm::sample
