#include "TemporaryFile.h"

#include <dirent.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <memory>

namespace tbm::tools {

namespace {

// The most digits a process id can have (pid_max is at most 2^22; 2^32 for
// safety).
constexpr std::size_t kPidDigits = 10;
constexpr std::array<std::string_view, 4> kSuffixes = {"", "-wal", "-shm", "-journal"};
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

void SplitPath(const std::string& path, std::string* folder, std::string* name) {
  const std::size_t slash = path.rfind('/');
  *folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  if (slash == 0) *folder = "/";
  *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// "." + the target's name cut to fit + "." + purpose + "-": what every
// temporary of target and purpose starts with.
std::string TemporaryPrefix(const std::string& folder, const std::string& name,
                            std::string_view purpose) {
  const std::size_t fixed = 1 + 1 + purpose.size() + 1 + kPidDigits + kJournalSuffixBytes;
  const std::size_t limit = NameLimit(folder);
  std::size_t keep = limit > fixed ? std::min(name.size(), limit - fixed) : 0;
  // Never cut inside a UTF-8 sequence.
  while (keep > 0 && keep < name.size() &&
         (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) {
    --keep;
  }
  return "." + name.substr(0, keep) + "." + std::string(purpose) + "-";
}

// The process id of a temporary's name after its prefix ("4711-wal"), or 0
// when the rest is not a process id and a known suffix.
pid_t ProcessOf(std::string_view rest) {
  std::size_t digits = 0;
  long long pid = 0;
  while (digits < rest.size() && digits < kPidDigits && rest[digits] >= '0' &&
         rest[digits] <= '9') {
    pid = pid * 10 + (rest[digits] - '0');
    ++digits;
  }
  if (digits == 0 || pid <= 0 || pid > INT_MAX) return 0;
  for (const std::string_view suffix : kSuffixes) {
    if (rest.substr(digits) == suffix) return static_cast<pid_t>(pid);
  }
  return 0;
}

// The paths removed on a signal: written only with the signals blocked,
// read by the handler.
std::array<std::atomic<const char*>, 16> guarded{};
bool handlersInstalled = false;

void RemoveGuardedAndReraise(int signal) {
  for (std::atomic<const char*>& slot : guarded) {
    if (const char* path = slot.load()) ::unlink(path);
  }
  // SA_RESETHAND put the default action back; the signal, blocked while
  // this runs, ends the process once the handler returns.
  ::raise(signal);
}

void InstallHandlers() {
  if (handlersInstalled) return;
  handlersInstalled = true;
  for (const int signal : kSignals) {
    struct sigaction old {};
    if (::sigaction(signal, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemoveGuardedAndReraise;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int other : kSignals) sigaddset(&action.sa_mask, other);
    ::sigaction(signal, &action, nullptr);
  }
}

// Blocks the guarded signals for its life, so the handler never sees a
// slot being changed.
class SignalsBlocked {
 public:
  SignalsBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : kSignals) sigaddset(&set, signal);
    ::sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalsBlocked() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_{};
};

}  // namespace

std::size_t NameLimit(const std::string& folder) {
  const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
  return limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
}

std::string TemporaryNameBeside(const std::string& target, std::string_view purpose) {
  std::string folder;
  std::string name;
  SplitPath(target, &folder, &name);
  const std::string prefix = TemporaryPrefix(folder, name, purpose);
  const std::size_t slash = target.rfind('/');
  const std::string place =
      slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
  return place + prefix + std::to_string(::getpid());
}

int RemoveStaleTemporaries(const std::string& target, std::string_view purpose) {
  std::string folder;
  std::string name;
  SplitPath(target, &folder, &name);
  const std::string prefix = TemporaryPrefix(folder, name, purpose);
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return 0;
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view entryName = entry->d_name;
    if (entryName.substr(0, prefix.size()) != prefix) continue;
    const pid_t pid = ProcessOf(entryName.substr(prefix.size()));
    if (pid == 0 || pid == ::getpid()) continue;
    if (::kill(pid, 0) == 0 || errno != ESRCH) continue;  // running, or not ours to ask
    stale.emplace_back(entryName);
  }
  int removed = 0;
  const std::string place = folder.back() == '/' ? folder : folder + "/";
  for (const std::string& entry : stale) {
    if (::unlink((place + entry).c_str()) == 0) ++removed;
  }
  return removed;
}

RemovedOnSignal::RemovedOnSignal(std::vector<std::string> paths) : paths_(std::move(paths)) {
  SignalsBlocked blocked;
  InstallHandlers();
  for (const std::string& path : paths_) {
    for (std::size_t s = 0; s < guarded.size(); ++s) {
      if (guarded[s].load() != nullptr) continue;
      guarded[s].store(path.c_str());
      slots_.push_back(s);
      break;
    }
  }
}

RemovedOnSignal::~RemovedOnSignal() {
  SignalsBlocked blocked;
  for (const std::size_t s : slots_) guarded[s].store(nullptr);
}

}  // namespace tbm::tools
