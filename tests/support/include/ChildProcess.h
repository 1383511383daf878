// Child processes for tests of behaviour between processes: a body run in a
// process made by fork, and one-byte messages between parent and child.
#pragma once

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>

namespace tbm::testing {

// A one-way pipe for one-byte messages, made before the fork so both
// processes have both ends.
class Pipe {
 public:
  Pipe() {
    if (::pipe(ends_) != 0) ends_[0] = ends_[1] = -1;
  }
  ~Pipe() {
    for (const int end : ends_) {
      if (end >= 0) ::close(end);
    }
  }
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  bool Send(char message) { return ::write(ends_[1], &message, 1) == 1; }

  // The next message, or 0 when none comes within a long grace period (30
  // seconds: a broken child must fail the test, not hang it).
  char Receive() {
    pollfd ready{ends_[0], POLLIN, 0};
    int polled;
    do {
      polled = ::poll(&ready, 1, 30000);
    } while (polled < 0 && errno == EINTR);
    char message = 0;
    if (polled != 1 || ::read(ends_[0], &message, 1) != 1) return 0;
    return message;
  }

 private:
  int ends_[2];
};

// Runs body in a child process. The child ends with body's result as its
// exit status through _exit, so none of the parent's test state (static
// objects, the test framework) is torn down twice. The destructor kills a
// child still running and collects it.
class ChildProcess {
 public:
  explicit ChildProcess(const std::function<int()>& body) {
    pid_ = ::fork();
    if (pid_ == 0) {
      int status = 99;
      try {
        status = body();
      } catch (...) {
      }
      ::_exit(status);
    }
  }
  ~ChildProcess() {
    if (pid_ > 0 && !collected_) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }

  void Kill() {
    if (pid_ > 0 && !collected_) ::kill(pid_, SIGKILL);
  }

  // Waits for the child's end: its exit status, or minus the signal that
  // ended it; -1000 when there is no child to wait for.
  int Wait() {
    if (pid_ <= 0) return -1000;
    if (!collected_) {
      int status = 0;
      pid_t waited;
      do {
        waited = ::waitpid(pid_, &status, 0);
      } while (waited < 0 && errno == EINTR);
      collected_ = true;
      if (waited != pid_) {
        result_ = -1000;
      } else if (WIFEXITED(status)) {
        result_ = WEXITSTATUS(status);
      } else if (WIFSIGNALED(status)) {
        result_ = -WTERMSIG(status);
      } else {
        result_ = -1000;
      }
    }
    return result_;
  }

 private:
  pid_t pid_ = -1;
  bool collected_ = false;
  int result_ = -1000;
};

}  // namespace tbm::testing
