// Publishing, reading and sweeping window directory entries.
#include "WindowDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>

#include "Machine.h"
#include "UniqueFd.h"

namespace tbm::wnd {

namespace {

constexpr std::string_view kEntrySuffix = ".window";
constexpr std::string_view kTemporarySuffix = ".tmp";

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOSPC:
    case EDQUOT:
      return ERROR_DISK_FULL;
    case EACCES:
    case EPERM:
    case EROFS:
      return ERROR_ACCESS_DENIED;
    case ENOENT:
    case ENOTDIR:
      return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
      return ERROR_TOO_MANY_OPEN_FILES;
    case ENOMEM:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_WRITE_FAULT;
  }
}

std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// Eight lower-case hex digits as a number, or nullopt.
std::optional<std::uint32_t> ParseHex8(std::string_view digits) {
  if (digits.size() != 8) return std::nullopt;
  std::uint32_t value = 0;
  for (const char c : digits) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else {
      return std::nullopt;
    }
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

// The handle an entry file name stands for ("0a1b2c3d.window"), or nullopt
// for any other name.
std::optional<std::uint32_t> HandleOfEntryName(std::string_view name) {
  if (name.size() != 8 + kEntrySuffix.size() || !name.ends_with(kEntrySuffix)) return std::nullopt;
  return ParseHex8(name.substr(0, 8));
}

// The writer's process id in a temporary file's name (".0a1b2c3d.4121.tmp"),
// or nullopt for any other name.
std::optional<std::uint32_t> WriterOfTemporaryName(std::string_view name) {
  if (!name.starts_with('.') || !name.ends_with(kTemporarySuffix)) return std::nullopt;
  const std::string_view middle = name.substr(1, name.size() - 1 - kTemporarySuffix.size());
  const std::size_t dot = middle.find('.');
  if (dot != 8 || !ParseHex8(middle.substr(0, 8))) return std::nullopt;
  const std::string_view digits = middle.substr(dot + 1);
  if (digits.empty() || digits.size() > 9) return std::nullopt;
  std::uint32_t pid = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    pid = pid * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return pid;
}

// One entry file as read: its parsed text (nullopt when it is missing,
// foreign or damaged) and the file's identity, so that a sweeper removes
// exactly the file it judged and not one written in its place since.
struct EntryFile {
  std::optional<WindowEntry> entry;
  dev_t device = 0;
  ino_t inode = 0;
};

EntryFile ReadEntryFile(const std::string& path) {
  EntryFile file;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (!fd) return file;
  struct stat status {};
  if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid() ||
      status.st_size < 0 || static_cast<std::uint64_t>(status.st_size) > kMaxEntryBytes) {
    return file;
  }
  file.device = status.st_dev;
  file.inode = status.st_ino;
  std::string text(static_cast<std::size_t>(status.st_size) + 1, '\0');
  std::size_t filled = 0;
  while (filled < text.size()) {
    const ssize_t n = ::read(fd.get(), text.data() + filled, text.size() - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return file;
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  text.resize(filled);  // a file that grew past its size is refused by the parser's limit
  file.entry = ParseWindowEntry(text);
  return file;
}

void RemoveIfSame(const std::string& path, const EntryFile& judged) {
  struct stat status {};
  if (::lstat(path.c_str(), &status) == 0 && status.st_dev == judged.device &&
      status.st_ino == judged.inode) {
    ::unlink(path.c_str());
  }
}

// Liveness of writers, asked once per process during one listing.
class LivenessCache {
 public:
  bool Alive(const WindowEntry& entry) {
    auto [at, added] = startTimes_.try_emplace(entry.pid);
    if (added) at->second = ProcessStartTime(entry.pid);
    return at->second && *at->second == entry.started;
  }
  bool Running(std::uint32_t pid) {
    auto [at, added] = startTimes_.try_emplace(pid);
    if (added) at->second = ProcessStartTime(pid);
    return at->second.has_value();
  }

 private:
  std::map<std::uint32_t, std::optional<std::uint64_t>> startTimes_;
};

}  // namespace

std::optional<std::uint64_t> ProcessStartTime(std::uint32_t pid) {
  if (pid == 0) return std::nullopt;
  const std::string path = "/proc/" + std::to_string(pid) + "/stat";
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  char buffer[1024];
  const ssize_t n = ::read(fd.get(), buffer, sizeof buffer - 1);
  if (n <= 0) return std::nullopt;
  const std::string_view text(buffer, static_cast<std::size_t>(n));
  // "pid (name) state ppid ..." where the name may hold spaces and ')':
  // the fields after the last ')' are counted from the state (field 3); the
  // start time is field 22.
  const std::size_t close = text.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::size_t at = close + 1;
  for (int field = 3; field <= 22; ++field) {
    while (at < text.size() && text[at] == ' ') ++at;
    const std::size_t end = std::min(text.find(' ', at), text.size());
    if (field == 22) {
      std::uint64_t value = 0;
      if (end == at) return std::nullopt;
      for (std::size_t i = at; i < end; ++i) {
        if (text[i] < '0' || text[i] > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
      }
      return value;
    }
    at = end;
  }
  return std::nullopt;
}

bool WriterIsAlive(const WindowEntry& entry) {
  const auto started = ProcessStartTime(entry.pid);
  return started && *started == entry.started;
}

WindowDirectory WindowDirectory::OfCurrentMachine() {
  return WindowDirectory(MachineRoot() + "/.windows");
}

std::string WindowDirectory::EntryPath(std::uint32_t hwnd) const {
  return path_ + "/" + Hex8(hwnd) + std::string(kEntrySuffix);
}

DWORD WindowDirectory::Publish(const WindowEntry& entry) const {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), error);
  if (::mkdir(path_.c_str(), 0700) != 0 && errno != EEXIST) return ErrorFromErrno(errno);

  const std::string text = FormatWindowEntry(entry);
  const std::string temporary = path_ + "/." + Hex8(entry.hwnd) + "." + std::to_string(::getpid()) +
                                std::string(kTemporarySuffix);
  {
    UniqueFd fd(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd) return ErrorFromErrno(errno);
    std::size_t written = 0;
    while (written < text.size()) {
      const ssize_t n = ::write(fd.get(), text.data() + written, text.size() - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        const int failure = n < 0 ? errno : ENOSPC;
        ::unlink(temporary.c_str());
        return ErrorFromErrno(failure);
      }
      written += static_cast<std::size_t>(n);
    }
  }
  if (::rename(temporary.c_str(), EntryPath(entry.hwnd).c_str()) != 0) {
    const int failure = errno;
    ::unlink(temporary.c_str());
    return ErrorFromErrno(failure);
  }
  return ERROR_SUCCESS;
}

void WindowDirectory::Withdraw(std::uint32_t hwnd) const { ::unlink(EntryPath(hwnd).c_str()); }

std::optional<WindowEntry> WindowDirectory::ReadLive(std::uint32_t hwnd) const {
  if (hwnd == 0) return std::nullopt;
  const std::string path = EntryPath(hwnd);
  const EntryFile file = ReadEntryFile(path);
  if (!file.entry || file.entry->hwnd != hwnd) return std::nullopt;
  if (!WriterIsAlive(*file.entry)) {
    RemoveIfSame(path, file);
    return std::nullopt;
  }
  return file.entry;
}

std::vector<WindowEntry> WindowDirectory::ListLive() const {
  std::vector<WindowEntry> live;
  DIR* folder = ::opendir(path_.c_str());
  if (folder == nullptr) return live;
  std::vector<std::string> names;
  while (const dirent* item = ::readdir(folder)) names.emplace_back(item->d_name);
  ::closedir(folder);

  LivenessCache liveness;
  for (const std::string& name : names) {
    const std::string path = path_ + "/" + name;
    if (const auto writer = WriterOfTemporaryName(name)) {
      if (!liveness.Running(*writer)) ::unlink(path.c_str());
      continue;
    }
    const auto hwnd = HandleOfEntryName(name);
    if (!hwnd) continue;
    const EntryFile file = ReadEntryFile(path);
    if (!file.entry || file.entry->hwnd != *hwnd) continue;  // damaged or foreign: left alone
    if (!liveness.Alive(*file.entry)) {
      RemoveIfSame(path, file);
      continue;
    }
    live.push_back(*file.entry);
  }
  std::sort(live.begin(), live.end(), [](const WindowEntry& a, const WindowEntry& b) {
    return a.created != b.created ? a.created > b.created : a.hwnd < b.hwnd;
  });
  return live;
}

}  // namespace tbm::wnd
