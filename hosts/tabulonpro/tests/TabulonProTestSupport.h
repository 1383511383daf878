// Running "Tabulon Pro" as a person does, on a fresh desktop root: one
// command to its end, or the host ("run") until the test stops it.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "RunProgram.h"
#include "TestSupport.h"

namespace tbm::tabulonpro {

using Environment = std::vector<std::pair<std::string, std::string>>;

inline std::string ProgramPath() {
  return (tbm::testing::ProgramFolder() / "Tabulon Pro").string();
}

inline std::string ProbePath() {
  return (tbm::testing::ProgramFolder() / "TBServiceProbe.tbx").string();
}

// The host started with "run ...", its output read until it says it is
// ready; Stop sends SIGTERM and collects it.
class RunningHost {
 public:
  RunningHost(const std::vector<std::string>& args, const Environment& env) {
    using namespace tbm::testing::run_program_detail;
    if (!out_.Make(true) || !err_.Make(true)) return;
    std::vector<std::string> argvText{ProgramPath(), "run"};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : argvText) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<std::string> envText = ChangedEnvironment(env);
    std::vector<char*> envp;
    for (std::string& entry : envText) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_.write.fd(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err_.write.fd(), STDERR_FILENO);
    if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    out_.write.Close();
    err_.write.Close();
  }
  ~RunningHost() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  pid_t pid() const { return pid_; }

  // Waits (up to 30 s) for the line saying the host is ready, or its end.
  bool WaitUntilReady() {
    using namespace tbm::testing::run_program_detail;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
      ReadAvailable(out_.read, out);
      ReadAvailable(err_.read, err);
      if (out.find("Tabulon Pro is running with") != std::string::npos) return true;
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        ReadAvailable(out_.read, out);
        ReadAvailable(err_.read, err);
        exitStatus = StatusOf(status);
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // SIGTERM, then its exit status (as RunProgram reports it).
  int Stop() {
    using namespace tbm::testing::run_program_detail;
    if (pid_ <= 0) return exitStatus;
    ::kill(pid_, SIGTERM);
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
  int exitStatus = tbm::testing::kProgramTimedOut;

 private:
  tbm::testing::run_program_detail::Pipe out_;
  tbm::testing::run_program_detail::Pipe err_;
  pid_t pid_ = -1;
};

// A fresh desktop root and the commands run on it.
class DesktopFixture : public ::testing::Test {
 protected:
  Environment Env(Environment more = {}) const {
    Environment env = {{"TBM_DESKTOP_ROOT", desktop_.string()},
                       {"TBM_ANSI_CODE_PAGE", ""},
                       {"QT_QPA_PLATFORM", "offscreen"}};
    for (auto& entry : more) {
      auto same = std::find_if(env.begin(), env.end(),
                               [&](const auto& e) { return e.first == entry.first; });
      if (same != env.end()) {
        same->second = entry.second;
      } else {
        env.push_back(entry);
      }
    }
    return env;
  }

  tbm::testing::ProgramResult Run(const std::vector<std::string>& args,
                                  const std::string& input = {}, Environment more = {}) {
    return tbm::testing::RunProgram(ProgramPath(), args, input, Env(std::move(more)));
  }

  // Runs a command that must succeed; its output.
  std::string Ok(const std::vector<std::string>& args, const std::string& input = {}) {
    const tbm::testing::ProgramResult r = Run(args, input);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    return r.out;
  }

  std::string DatabaseFile(const std::string& name) const {
    return (desktop_ / "Databases" / (name + ".tbp")).string();
  }

  tbm::testing::ScratchFolder folder_{"tabulonpro"};
  std::filesystem::path desktop_ = folder_.path() / "desktop";
};

}  // namespace tbm::tabulonpro
