// Starting the test peer (WindowPeer.cpp) as a separate process, talking to
// it through its standard input and output, and ending it.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace tbm::testing {

class PeerProcess {
 public:
  // The peer program, built beside the test program.
  static std::string ProgramPath() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tbm_wnd_test_peer")
        .string();
  }

  // Starts the peer with args; it inherits this process's environment (so
  // the machine root a test set is the peer's too).
  explicit PeerProcess(const std::vector<std::string>& args) {
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    const std::string program = ProgramPath();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
      pid_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    input_ = input[1];
    output_ = output[0];
  }

  ~PeerProcess() {
    CloseInput();
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    if (output_ >= 0) ::close(output_);
  }

  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }

  // The next line the peer writes, without its line feed; nullopt when it
  // ends its output, or writes nothing for 30 seconds (a peer that hangs
  // fails the test instead of stopping it).
  std::optional<std::string> ReadLine() {
    for (;;) {
      if (const auto end = pending_.find('\n'); end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
      }
      pollfd wait{output_, POLLIN, 0};
      if (::poll(&wait, 1, 30000) <= 0) return std::nullopt;
      char buffer[256];
      const ssize_t n = ::read(output_, buffer, sizeof buffer);
      if (n <= 0) return std::nullopt;
      pending_.append(buffer, static_cast<std::size_t>(n));
    }
  }

  // Closes the peer's standard input.
  void CloseInput() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
  }

  // Kills the peer at once, as a crash would end it, and reaps it.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    Wait();
  }

  // Waits for the peer to end; its exit status as waitpid gives it.
  int Wait() {
    if (pid_ <= 0) return status_;
    while (::waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int input_ = -1;
  int output_ = -1;
  int status_ = -1;
  std::string pending_;
};

}  // namespace tbm::testing
