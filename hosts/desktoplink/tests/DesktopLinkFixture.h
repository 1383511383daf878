// Two machines for end-to-end tests of the desktop's side of docking: a
// fresh handheld root and a fresh desktop root, the handheld's connection
// service (tbm-devicelink run) and the desktop's (tbm-desktoplink run) as
// a person runs them, paired by hand. The roots are also this process's
// (TBM_DEVICE_ROOT, TBM_DESKTOP_ROOT), so a test can read either registry.
//
// DockingMachines is not a test fixture itself, so a test that also needs
// other programs on the same roots (Tabulon Pro) can hold one beside its
// own; DesktopLinkTest is the fixture for tests that need only these.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Machine.h"
#include "Partnership.h"
#include "Registry.h"
#include "RunProgram.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::desktoplink::testing {

using Environment = std::vector<std::pair<std::string, std::string>>;
using tbm::testing::ProgramResult;

inline std::string ProgramPath(const char* name) {
  return (tbm::testing::ProgramFolder() / name).string();
}

// Waits up to 30 s for the text of path to satisfy found; the last text
// read either way.
inline std::string WaitForFile(const std::filesystem::path& path,
                               const std::function<bool(const std::string&)>& found) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  std::string text = tbm::testing::ReadWholeFile(path);
  while (!found(text) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    text = tbm::testing::ReadWholeFile(path);
  }
  return text;
}

// How often text holds needle.
inline std::size_t Occurrences(const std::string& text, const std::string& needle) {
  std::size_t count = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos;
       at = text.find(needle, at + needle.size())) {
    ++count;
  }
  return count;
}

// A service of either machine started with "run ...", its output read as
// it comes.
class Service : public tbm::testing::RunningProgram {
 public:
  Service(const std::string& program, const std::vector<std::string>& args, const Environment& env)
      : RunningProgram(program, args, env) {}

  // Group 1 of the first match of pattern in standard output, waiting up to
  // 30 s; empty when the service ended or it did not come.
  std::string WaitFor(const std::string& pattern) {
    const std::regex expression(pattern);
    std::string found;
    WaitForOutput([&](const std::string& text) {
      std::smatch match;
      if (!std::regex_search(text, match, expression)) return false;
      found = match[1];
      return true;
    });
    return found;
  }

  // SIGTERM, then the exit status.
  int Stop() { return End(SIGTERM); }
};

class DockingMachines {
 public:
  // The handheld's name as its service greets the desktop.
  static constexpr const char* kHandheldName = "Pocket Ledger";

  DockingMachines(std::filesystem::path deviceRoot, std::filesystem::path desktopRoot)
      : device_(std::move(deviceRoot)),
        desktop_(std::move(desktopRoot)),
        deviceEnv_("TBM_DEVICE_ROOT", device_.c_str()),
        desktopEnv_("TBM_DESKTOP_ROOT", desktop_.c_str()) {
    std::filesystem::create_directories(device_);
    std::filesystem::create_directories(desktop_);
  }

  const std::filesystem::path& deviceRoot() const { return device_; }
  const std::filesystem::path& desktopRoot() const { return desktop_; }
  // Where the recording store writes the calls it receives.
  std::filesystem::path RecordingFile() const { return desktop_ / "recording-store.txt"; }
  std::string Recorded() const { return tbm::testing::ReadWholeFile(RecordingFile()); }
  std::string ServiceLog() const {
    return tbm::testing::ReadWholeFile(desktop_ / "log" / "tbm-desktoplink.log");
  }
  // The recording store's module in the build.
  static std::string RecordingStore() {
    return std::filesystem::canonical(tbm::testing::ProgramFolder() / "TBRecordingStore.so")
        .string();
  }

  // Both roots, the recording store's file, no display; more added or
  // replacing.
  Environment Env(const Environment& more = {}) const {
    Environment env = {{"TBM_DEVICE_ROOT", device_.string()},
                       {"TBM_DESKTOP_ROOT", desktop_.string()},
                       {"TBM_RECORDING_STORE_LOG", RecordingFile().string()},
                       {"QT_QPA_PLATFORM", "offscreen"}};
    for (const auto& entry : more) {
      bool replaced = false;
      for (auto& existing : env) {
        if (existing.first == entry.first) {
          existing.second = entry.second;
          replaced = true;
        }
      }
      if (!replaced) env.push_back(entry);
    }
    return env;
  }

  ProgramResult DesktopLink(const std::vector<std::string>& args, const Environment& more = {}) {
    return tbm::testing::RunProgram(ProgramPath("tbm-desktoplink"), args, {}, Env(more));
  }

  // Names the handheld, pairs the desktop with it by hand
  // (tbm-devicelink pair, tbm-rapi pair) and returns the partner id.
  std::string Pair() {
    NameHandheld();
    Service pairing(ProgramPath("tbm-devicelink"), {"pair", "--port", "0", "--time-limit", "60"},
                    Env());
    const std::string code = pairing.WaitFor("Pairing code: ([0-9]{8})");
    const std::string address = pairing.WaitFor("on (127\\.0\\.0\\.1:[0-9]+)");
    EXPECT_EQ(code.size(), 8u) << pairing.err;
    const ProgramResult paired = tbm::testing::RunProgram(
        ProgramPath("tbm-rapi"), {"pair", address, code, "--name", "Front desk"}, {}, Env());
    EXPECT_EQ(paired.status, 0) << paired.err;
    EXPECT_EQ(pairing.End(), 0) << pairing.err;
    rapi::DesktopPartnership partnership;
    EXPECT_TRUE(rapi::LoadDesktopPartnership(&partnership).ok());
    return partnership.partnerId;
  }

  // Starts the handheld's service: the first time on a free port, which the
  // desktop's partnership is then pointed at, later on the same port, as a
  // handheld that comes back. Null when it did not start.
  std::unique_ptr<Service> StartHandheld() {
    auto service = std::make_unique<Service>(
        ProgramPath("tbm-devicelink"),
        std::vector<std::string>{"run", "--port", port_.empty() ? "0" : port_}, Env());
    const std::string port = service->WaitFor("is ready on 127\\.0\\.0\\.1:([0-9]+)");
    EXPECT_FALSE(port.empty()) << service->err;
    if (port.empty()) return nullptr;
    if (port_.empty()) {
      rapi::DesktopPartnership partnership;
      if (rapi::LoadDesktopPartnership(&partnership).ok()) {
        partnership.address.port = static_cast<std::uint16_t>(std::stoi(port));
        EXPECT_TRUE(rapi::SaveDesktopPartnership(partnership).ok());
      }
      port_ = port;
    }
    return service;
  }

  // The handheld's address, once its service has started.
  std::string HandheldAddress() const { return "127.0.0.1:" + port_; }

  // Starts "tbm-desktoplink run --headless" with a short poll interval and
  // waits for its ready line; null when it did not come.
  std::unique_ptr<Service> StartDesktopService(const Environment& more = {}) {
    auto service = std::make_unique<Service>(
        ProgramPath("tbm-desktoplink"),
        std::vector<std::string>{"run", "--headless", "--poll-interval", "200"}, Env(more));
    if (service->WaitFor("(tbm-desktoplink is running with [^\\n]*)").empty()) {
      ADD_FAILURE() << "tbm-desktoplink did not get ready: " << service->out << service->err;
      return nullptr;
    }
    return service;
  }

 private:
  void NameHandheld() {
    HKEY machine = nullptr;
    ASSERT_EQ(RegConnectMachine(Machine::Handheld, HKEY_LOCAL_MACHINE, &machine), ERROR_SUCCESS);
    EXPECT_EQ(RegSetString(machine, u"Ident", u"Name", Utf8ToUtf16(kHandheldName)), ERROR_SUCCESS);
    RegCloseKey(machine);
  }

  std::filesystem::path device_;
  std::filesystem::path desktop_;
  tbm::testing::ScopedEnvironment deviceEnv_;
  tbm::testing::ScopedEnvironment desktopEnv_;
  std::string port_;
};

class DesktopLinkTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.ok()); }

  tbm::testing::ScratchFolder folder_{"tbm-desktoplink"};
  DockingMachines machines_{folder_.path() / "device", folder_.path() / "desktop"};
};

}  // namespace tbm::desktoplink::testing
