// The fixture of the device connection service's tests: fresh device and
// desktop roots, tbm-devicelink run as a person runs it, and the desktop's
// side of the remote API in the test process.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Rapi.h"
#include "RunProgram.h"
#include "TestSupport.h"

namespace tbm::rapi {

using Environment = std::vector<std::pair<std::string, std::string>>;

inline std::string Program(const char* name) {
  return (tbm::testing::ProgramFolder() / name).string();
}

// tbm-devicelink started with a command, its output read as it comes.
class Service : public tbm::testing::RunningProgram {
 public:
  Service(const std::vector<std::string>& args, const Environment& env)
      : RunningProgram(Program("tbm-devicelink"), args, env) {}

  // The first match of pattern's group 1 in standard output, waiting up to
  // 30 s for it; empty when the service ended or it did not come.
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
};

class DeviceLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(device_.ok() && desktop_.ok());
    SetCallTimeLimit(std::chrono::seconds(20));
  }
  void TearDown() override { CeRapiUninit(); }

  Environment Env() const {
    return {{"TBM_DEVICE_ROOT", device_.path().string()},
            {"TBM_DESKTOP_ROOT", desktop_.path().string()}};
  }
  tbm::testing::ProgramResult Devicelink(const std::vector<std::string>& args) {
    return tbm::testing::RunProgram(Program("tbm-devicelink"), args, {}, Env());
  }
  tbm::testing::ProgramResult Desktop(const std::vector<std::string>& args) {
    return tbm::testing::RunProgram(Program("tbm-rapi"), args, {}, Env());
  }
  std::string DeviceLog() const {
    return tbm::testing::ReadWholeFile(device_.path() / "log" / "tbm-devicelink.log");
  }

  // Pairs the desktop root with the device root by hand; the partner id.
  std::string Pair() {
    Service pairing({"pair", "--port", "0", "--time-limit", "60"}, Env());
    const std::string code = pairing.WaitFor("Pairing code: ([0-9]{8})");
    const std::string address = pairing.WaitFor("on (127\\.0\\.0\\.1:[0-9]+)");
    EXPECT_EQ(code.size(), 8u) << pairing.err;
    const tbm::testing::ProgramResult paired =
        Desktop({"pair", address, code, "--name", "Front desk"});
    EXPECT_EQ(paired.status, 0) << paired.err;
    EXPECT_EQ(pairing.End(), 0) << pairing.err;
    DesktopPartnership partnership;
    EXPECT_TRUE(LoadDesktopPartnership(&partnership).ok());
    return partnership.partnerId;
  }

  // Starts "run" and points the desktop's partnership at its port.
  std::unique_ptr<Service> Run() {
    auto service = std::make_unique<Service>(std::vector<std::string>{"run", "--port", "0"}, Env());
    const std::string port = service->WaitFor("is ready on 127\\.0\\.0\\.1:([0-9]+)");
    EXPECT_FALSE(port.empty()) << service->err;
    DesktopPartnership partnership;
    if (LoadDesktopPartnership(&partnership).ok()) {
      partnership.address.port = static_cast<std::uint16_t>(std::stoi(port.empty() ? "0" : port));
      EXPECT_TRUE(SaveDesktopPartnership(partnership).ok());
    }
    port_ = port;
    return service;
  }

  // Stops the service with SIGSTOP until every thread of it has stopped
  // (RunningProgram::Suspend).
  static bool Stop(const Service& service) { return service.Suspend(); }

  // Pairs, starts "run" and opens the desktop's connection to it.
  std::unique_ptr<Service> Connect() {
    Pair();
    std::unique_ptr<Service> service = Run();
    EXPECT_EQ(CeRapiInit(), S_OK) << RapiFailureText();
    return service;
  }

  tbm::testing::ScratchFolder device_{"tbm-devicelink-device"};
  tbm::testing::ScratchFolder desktop_{"tbm-devicelink-desktop"};
  tbm::testing::ScopedEnvironment desktopRoot_{"TBM_DESKTOP_ROOT", desktop_.path().c_str()};
  std::string port_;
};

}  // namespace tbm::rapi
