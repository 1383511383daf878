// Running a program to its end for end-to-end tests of the command-line
// tools: what it is given on standard input, what it writes on standard
// output and standard error, and how it ended.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace tbm::testing {

// A program's exit status, or minus the number of the signal that ended it;
// kProgramTimedOut when it had to be killed for running too long, and
// kProgramNotStarted (as a shell reports it) when it could not be started.
inline constexpr int kProgramTimedOut = -1000;
inline constexpr int kProgramNotStarted = 127;

struct ProgramResult {
  int status = kProgramNotStarted;
  std::string out;
  std::string err;
};

namespace run_program_detail {

// One end of a pipe, closed when it goes.
class PipeEnd {
 public:
  PipeEnd() = default;
  explicit PipeEnd(int fd) : fd_(fd) {}
  ~PipeEnd() { Close(); }
  PipeEnd(PipeEnd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  PipeEnd& operator=(PipeEnd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }

  int fd() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }

 private:
  int fd_ = -1;
};

// A pipe whose ends are closed on exec (the child gets its own copies by
// dup2, which do not carry the flag), the parent's end made non-blocking.
struct Pipe {
  PipeEnd read;
  PipeEnd write;

  bool Make(bool parentReads) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    read = PipeEnd(ends[0]);
    write = PipeEnd(ends[1]);
    const int parentEnd = parentReads ? ends[0] : ends[1];
    return ::fcntl(parentEnd, F_SETFL, ::fcntl(parentEnd, F_GETFL) | O_NONBLOCK) == 0;
  }
};

// Reads what fd has now into text. Closes fd at its end of file, and when it
// fails for any reason but having nothing more to give yet.
inline void ReadAvailable(PipeEnd& end, std::string& text) {
  char buffer[65536];
  while (end.open()) {
    const ssize_t got = ::read(end.fd(), buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) end.Close();
      return;
    }
  }
}

// This process's environment with each name=value of changes put in place
// of the variable of that name, or added at the end.
inline std::vector<std::string> ChangedEnvironment(
    const std::vector<std::pair<std::string, std::string>>& changes) {
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    const std::string_view name = text.substr(0, text.find('='));
    const bool replaced = std::any_of(changes.begin(), changes.end(),
                                      [&](const auto& change) { return change.first == name; });
    if (!replaced) entries.emplace_back(text);
  }
  for (const auto& [name, value] : changes) entries.push_back(name + "=" + value);
  return entries;
}

// The argument and environment arrays posix_spawn takes for program with
// args, in this process's environment changed by env; the texts they point
// into are kept alongside.
struct SpawnArrays {
  SpawnArrays(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::pair<std::string, std::string>>& env)
      : argvText{program}, envText(ChangedEnvironment(env)) {
    argvText.insert(argvText.end(), args.begin(), args.end());
    for (std::string& arg : argvText) argv.push_back(arg.data());
    argv.push_back(nullptr);
    for (std::string& entry : envText) envp.push_back(entry.data());
    envp.push_back(nullptr);
  }
  SpawnArrays(const SpawnArrays&) = delete;
  SpawnArrays& operator=(const SpawnArrays&) = delete;

  std::vector<std::string> argvText;
  std::vector<std::string> envText;
  std::vector<char*> argv;
  std::vector<char*> envp;
};

// Blocks SIGPIPE in the calling thread for one scope, so that writing to a
// program that has stopped reading fails with EPIPE instead of ending the
// test. A SIGPIPE raised meanwhile is taken off before the old mask returns.
class SigpipeBlocked {
 public:
  SigpipeBlocked() {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeOnly, &old_);
  }
  ~SigpipeBlocked() {
    if (raised_) {
      sigset_t pipeOnly;
      sigemptyset(&pipeOnly);
      sigaddset(&pipeOnly, SIGPIPE);
      const timespec now{0, 0};
      while (::sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) {
      }
    }
    ::pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  SigpipeBlocked(const SigpipeBlocked&) = delete;
  SigpipeBlocked& operator=(const SigpipeBlocked&) = delete;

  // The mask the caller had, which the program is started with.
  const sigset_t& old() const { return old_; }
  void Raised() { raised_ = true; }

 private:
  sigset_t old_;
  bool raised_ = false;
};

inline int StatusOf(int waitStatus) {
  if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
  if (WIFSIGNALED(waitStatus)) return -WTERMSIG(waitStatus);
  return kProgramTimedOut;
}

// The one line of a /proc stat file; empty when it cannot be read (the
// thread has ended).
inline std::string ReadStat(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace run_program_detail

// Runs program (a path, not looked up in PATH) with args, giving it input on
// standard input and then its end, in this process's environment changed by
// env (name, value pairs that override or add variables). Both output pipes
// are read as they fill, so a program writing a lot on both cannot block.
// The program runs in a process group of its own; when it has not ended
// within timeLimit, the whole group is killed and the status is
// kProgramTimedOut, with what was written until then. A program that cannot
// be started gives kProgramNotStarted and the reason in err.
inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& input = {},
                                const std::vector<std::pair<std::string, std::string>>& env = {},
                                std::chrono::milliseconds timeLimit = std::chrono::seconds(60)) {
  using namespace run_program_detail;
  using Clock = std::chrono::steady_clock;
  ProgramResult result;

  Pipe in, out, err;
  if (!in.Make(false) || !out.Make(true) || !err.Make(true)) {
    result.err = "cannot make pipes for " + program + ": " + std::strerror(errno);
    return result;
  }

  SpawnArrays arrays(program, args, env);

  SigpipeBlocked sigpipe;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in.read.fd(), STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, out.write.fd(), STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, err.write.fd(), STDERR_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &sigpipe.old());
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, &attributes,
                                    arrays.argv.data(), arrays.envp.data());
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  in.read.Close();
  out.write.Close();
  err.write.Close();
  if (spawned != 0) {
    result.err = "cannot start " + program + ": " + std::strerror(spawned);
    return result;
  }

  const Clock::time_point deadline = Clock::now() + timeLimit;
  std::string_view unsent = input;
  if (unsent.empty()) in.write.Close();
  int idleWait = 1;
  for (;;) {
    int waitStatus = 0;
    pid_t waited;
    do {
      waited = ::waitpid(pid, &waitStatus, WNOHANG);
    } while (waited < 0 && errno == EINTR);
    if (waited != 0) {
      // All it wrote is in the pipes now; what a program it left behind may
      // still write is not waited for. A failed wait (someone else collected
      // the program) leaves its end unknown, reported as kProgramTimedOut.
      ReadAvailable(out.read, result.out);
      ReadAvailable(err.read, result.err);
      result.status = waited == pid ? StatusOf(waitStatus) : kProgramTimedOut;
      return result;
    }
    const Clock::time_point now = Clock::now();
    if (now >= deadline) {
      ::kill(-pid, SIGKILL);
      while (::waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
      }
      ReadAvailable(out.read, result.out);
      ReadAvailable(err.read, result.err);
      result.status = kProgramTimedOut;
      return result;
    }

    // Wake at least every 20 ms to see whether the program has ended: it may
    // have closed its outputs early, or left a descendant holding them. Once
    // both outputs are at their end the program is ending, mostly, so the
    // first looks come sooner.
    pollfd ready[3];
    nfds_t count = 0;
    if (in.write.open()) ready[count++] = {in.write.fd(), POLLOUT, 0};
    if (out.read.open()) ready[count++] = {out.read.fd(), POLLIN, 0};
    if (err.read.open()) ready[count++] = {err.read.fd(), POLLIN, 0};
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
    int wait = static_cast<int>(std::min<long long>(left.count() + 1, 20));
    if (!out.read.open() && !err.read.open()) {
      wait = std::min(wait, idleWait);
      idleWait = std::min(idleWait * 2, 20);
    }
    // A failed poll (only ever an interruption in practice) just goes round
    // again; the reads and writes below do not block either way.
    ::poll(ready, count, wait);
    if (in.write.open()) {
      const ssize_t sent =
          ::write(in.write.fd(), unsent.data(), std::min<std::size_t>(unsent.size(), 65536));
      if (sent > 0) {
        unsent.remove_prefix(static_cast<std::size_t>(sent));
        if (unsent.empty()) in.write.Close();
      } else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        // The program stopped reading (EPIPE) or the pipe failed: it gets
        // no more input.
        if (errno == EPIPE) sigpipe.Raised();
        in.write.Close();
      }
    }
    ReadAvailable(out.read, result.out);
    ReadAvailable(err.read, result.err);
  }
}

// A program started in the background (standard input from /dev/null), its
// output read as it comes, ended by the test through its process id: a
// service or host that runs until it is told to stop. The destructor kills
// one still running (continuing it first, should the test have stopped it).
class RunningProgram {
 public:
  RunningProgram(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::pair<std::string, std::string>>& env = {}) {
    using namespace run_program_detail;
    if (!out_.Make(true) || !err_.Make(true)) return;
    SpawnArrays arrays(program, args, env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_.write.fd(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_.write.fd(), STDERR_FILENO);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, arrays.argv.data(),
                      arrays.envp.data()) != 0)
      pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    out_.write.Close();
    err_.write.Close();
  }
  ~RunningProgram() {
    if (pid_ > 0) {
      ::kill(pid_, SIGCONT);
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return pid_; }

  // Stops the program with SIGSTOP and waits (up to 10 s) until every
  // thread of it has stopped: the signal is delivered after kill returns,
  // and a thread that is running meanwhile could still do its work. False
  // when it did not stop. SIGCONT lets it go on.
  bool Suspend() const {
    if (pid_ <= 0 || ::kill(pid_, SIGSTOP) != 0) return false;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid_) + "/task";
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
      bool allStopped = true;
      std::error_code error;
      for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        const std::string stat = run_program_detail::ReadStat(task.path() / "stat");
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'T') {
          allStopped = false;
        }
      }
      if (!error && allStopped) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
  }

  // Reads the output until found says standard output holds what the test
  // waits for (true), or the program has ended or 30 s have gone (false).
  template <typename Found>
  bool WaitForOutput(Found&& found) {
    using namespace run_program_detail;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      ReadAvailable(out_.read, out);
      ReadAvailable(err_.read, err);
      if (found(out)) return true;
      int status = 0;
      if (pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) == pid_) {
        if (pid_ > 0) exitStatus = StatusOf(status);
        pid_ = -1;
        ReadAvailable(out_.read, out);
        ReadAvailable(err_.read, err);
        return found(out);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Sends signal (0: only waits) and collects the exit status (as
  // RunProgram reports it), killing the program after 30 s.
  int End(int signal = 0) {
    using namespace run_program_detail;
    if (pid_ <= 0) return exitStatus;
    if (signal != 0) ::kill(pid_, signal);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      ReadAvailable(out_.read, out);
      ReadAvailable(err_.read, err);
      if (std::chrono::steady_clock::now() > deadline) ::kill(pid_, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    ReadAvailable(out_.read, out);
    ReadAvailable(err_.read, err);
    exitStatus = StatusOf(status);
    return exitStatus;
  }

  std::string out;
  std::string err;
  int exitStatus = kProgramTimedOut;

 private:
  run_program_detail::Pipe out_, err_;
  pid_t pid_ = -1;
};

// The folder of the running test program (build/bin), where the tools are
// built too.
inline std::filesystem::path ProgramFolder() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

}  // namespace tbm::testing
