#include "RunningProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "Machine.h"

namespace tbm::tools {

bool HasDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform != nullptr && std::strcmp(platform, "offscreen") == 0) return false;
  if (platform != nullptr && *platform != '\0') return true;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

int StopSignalDescriptor() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, signal);
  if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  return ::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);
}

Status InstanceLock::Take(const std::string& lockName, const std::string& who,
                          const std::string& advice,
                          const std::function<void(const std::string&)>& warn) {
  const std::string root = MachineRoot(Machine::Desktop);
  std::error_code error;
  std::filesystem::create_directories(root, error);
  const std::string path = root + "/" + lockName;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd_ < 0) {
    const int e = errno;
    return Status(e == EACCES   ? StatusCode::kNoPermission
                  : e == ENOSPC ? StatusCode::kNoSpace
                                : StatusCode::kIoFailed,
                  "the desktop's lock file " + path + " cannot be made (" + std::strerror(e) + ")");
  }
  if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    char text[32] = {};
    const ssize_t got = ::pread(fd_, text, sizeof text - 1, 0);
    const long other = got > 0 ? std::strtol(text, nullptr, 10) : 0;
    return Status(StatusCode::kBusy,
                  who + " is running already on this desktop" +
                      (other > 0 ? " (process " + std::to_string(other) + ")" : std::string()) +
                      "; " + advice);
  }
  const std::string pid = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd_, 0) != 0 || ::pwrite(fd_, pid.data(), pid.size(), 0) < 0) {
    warn("the process id could not be written to " + path);
  }
  return {};
}

}  // namespace tbm::tools
