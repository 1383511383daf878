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
class RunningHost : public tbm::testing::RunningProgram {
 public:
  RunningHost(const std::vector<std::string>& args, const Environment& env)
      : RunningProgram(ProgramPath(), WithRun(args), env) {}

  // Waits (up to 30 s) for the line saying the host is ready, or its end.
  bool WaitUntilReady() {
    return WaitForOutput([](const std::string& out) {
      return out.find("Tabulon Pro is running with") != std::string::npos;
    });
  }

  // SIGTERM, then its exit status (as RunProgram reports it).
  int Stop() { return End(SIGTERM); }

 private:
  static std::vector<std::string> WithRun(std::vector<std::string> args) {
    args.insert(args.begin(), "run");
    return args;
  }
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
