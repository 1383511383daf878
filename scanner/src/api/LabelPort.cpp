#include "LabelPort.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "ScannerLog.h"

namespace tbm::scan {
namespace {

constexpr auto kRetryInterval = std::chrono::seconds(1);
constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kMostPerRead = 64 * 1024;

struct Speed {
  std::uint32_t baud;
  speed_t code;
};

constexpr Speed kSpeeds[] = {{1200, B1200},     {2400, B2400},     {4800, B4800},
                             {9600, B9600},     {19200, B19200},   {38400, B38400},
                             {57600, B57600},   {115200, B115200}, {230400, B230400},
                             {460800, B460800}, {921600, B921600}};

std::string WhyNotOpened(int error) {
  switch (error) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return "it does not exist (is the reader plugged in?)";
    case EACCES:
    case EPERM:
      return "no permission to read it (for a serial device, the user usually belongs in the "
             "dialout group)";
    case EBUSY:
      return "it is busy: another program holds it";
    default:
      return std::strerror(error);
  }
}

}  // namespace

LabelPort::LabelPort(std::string path, std::uint32_t baudRate)
    : path_(std::move(path)), baudRate_(baudRate) {}

void LabelPort::Maintain(Clock::time_point now) {
  if (fd_) {
    struct stat now_there {};
    if (::stat(path_.c_str(), &now_there) == 0 && now_there.st_dev == device_ &&
        now_there.st_ino == inode_) {
      return;
    }
    Lost("its path names another file now, or none");
    tried_ = false;  // look for the new one at once
  }
  if (tried_ && now - lastTry_ < kRetryInterval) return;
  tried_ = true;
  lastTry_ = now;
  Open();
}

bool LabelPort::Open() {
  std::string problem;
  struct stat info {};
  if (::stat(path_.c_str(), &info) != 0) {
    problem = WhyNotOpened(errno);
  } else if (!S_ISCHR(info.st_mode) && !S_ISFIFO(info.st_mode)) {
    problem = "it is not a serial device or a FIFO";
  } else {
    // A FIFO is opened for writing too, so that it does not read as ended
    // whenever the last program writing to it lets go.
    const int access = S_ISFIFO(info.st_mode) ? O_RDWR : O_RDONLY;
    const int fd = ::open(path_.c_str(), access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      problem = WhyNotOpened(errno);
    } else {
      fd_.Reset(fd);
    }
  }
  if (!fd_) {
    if (problem != lastProblem_) {
      ScannerLog(LogLevel::kWarning, "cannot read labels from " + path_ + ": " + problem +
                                         "; it is looked for again every second");
      lastProblem_ = problem;
    }
    return false;
  }
  struct stat opened {};
  ::fstat(fd_.get(), &opened);
  device_ = opened.st_dev;
  inode_ = opened.st_ino;
  lastProblem_.clear();
  ++openings_;
  if (::isatty(fd_.get())) {
    termios settings{};
    speed_t speed = B9600;
    bool known = false;
    for (const Speed& s : kSpeeds) {
      if (s.baud == baudRate_) {
        speed = s.code;
        known = true;
      }
    }
    if (!known) {
      ScannerLog(LogLevel::kWarning, "the baud rate " + std::to_string(baudRate_) +
                                         " is not one a serial port takes; 9600 is used");
    }
    if (::tcgetattr(fd_.get(), &settings) == 0) {
      ::cfmakeraw(&settings);
      ::cfsetispeed(&settings, speed);
      ::cfsetospeed(&settings, speed);
      settings.c_cflag |= CLOCAL | CREAD;
      settings.c_cc[VMIN] = 1;
      settings.c_cc[VTIME] = 0;
    }
    if (::tcsetattr(fd_.get(), TCSANOW, &settings) != 0) {
      ScannerLog(LogLevel::kWarning, "cannot set up the serial port " + path_ + ": " +
                                         std::strerror(errno) + "; it is read as it is");
    }
  }
  ScannerLog(LogLevel::kInfo, "reading labels from " + path_);
  return true;
}

bool LabelPort::Read(std::string& bytes) {
  if (!fd_) return false;
  char chunk[kReadChunk];
  std::size_t taken = 0;
  while (taken < kMostPerRead) {
    const ssize_t got = ::read(fd_.get(), chunk, sizeof chunk);
    if (got > 0) {
      bytes.append(chunk, static_cast<std::size_t>(got));
      taken += static_cast<std::size_t>(got);
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    Lost(got == 0 ? "it ended" : std::strerror(errno));
    return false;
  }
  return true;
}

void LabelPort::Lost(const char* why) {
  if (!fd_) return;
  ScannerLog(LogLevel::kWarning, "the label port " + path_ + " went away (" + why +
                                     "); it is looked for again every second");
  Close();
}

void LabelPort::Close() {
  fd_.Reset();
  device_ = 0;
  inode_ = 0;
}

}  // namespace tbm::scan
