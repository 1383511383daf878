#include "PairedHandheld.h"

#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <vector>

#include "Partnership.h"
#include "Rapi.h"
#include "RunProgram.h"

namespace tbm::bench {
namespace {

// The first match of pattern's group 1 in program's output; ends the run
// when it does not come.
std::string Wait(tbm::testing::RunningProgram& program, const std::string& pattern) {
  const std::regex expression(pattern);
  std::string found;
  program.WaitForOutput([&](const std::string& text) {
    std::smatch match;
    if (!std::regex_search(text, match, expression)) return false;
    found = match[1];
    return true;
  });
  if (found.empty()) {
    std::fprintf(stderr, "tbm-devicelink did not say '%s': %s\n", pattern.c_str(),
                 program.err.c_str());
    std::abort();
  }
  return found;
}

}  // namespace

PairedHandheld::PairedHandheld() {
  char folder[] = "/tmp/tbm-desktop-bench-XXXXXX";
  if (::mkdtemp(folder) == nullptr) std::abort();
  root_ = folder;
  ::setenv("TBM_DEVICE_ROOT", (root_ / "device").c_str(), 1);
  ::setenv("TBM_DESKTOP_ROOT", (root_ / "desktop").c_str(), 1);
  const std::string service = (tbm::testing::ProgramFolder() / "tbm-devicelink").string();
  {
    tbm::testing::RunningProgram pairing(service, {"pair", "--port", "0", "--time-limit", "60"});
    const std::string code = Wait(pairing, "Pairing code: ([0-9]{8})");
    const std::string port = Wait(pairing, "on 127\\.0\\.0\\.1:([0-9]+)");
    rapi::Endpoint endpoint;
    endpoint.port = static_cast<std::uint16_t>(std::stoi(port));
    rapi::DesktopPartnership partnership;
    if (!rapi::PairWithHandheld(endpoint, code, u"Bench", &partnership).ok()) std::abort();
    pairing.End();
  }
  running_ = std::make_unique<tbm::testing::RunningProgram>(
      service, std::vector<std::string>{"run", "--port", "0"});
  const std::string port = Wait(*running_, "is ready on 127\\.0\\.0\\.1:([0-9]+)");
  rapi::DesktopPartnership partnership;
  if (!rapi::LoadDesktopPartnership(&partnership).ok()) std::abort();
  partnership.address.port = static_cast<std::uint16_t>(std::stoi(port));
  if (!rapi::SaveDesktopPartnership(partnership).ok()) std::abort();
}

PairedHandheld::~PairedHandheld() {
  running_->End(SIGTERM);
  std::error_code ignored;
  std::filesystem::remove_all(root_, ignored);
}

std::filesystem::path PairedHandheld::DevicePath(const std::string& name) const {
  return root_ / "device" / "My Documents" / name;
}

PairedHandheld& Handheld() {
  static PairedHandheld handheld;
  return handheld;
}

std::uint64_t ExchangesSoFar() { return rapi::ExchangeCount(); }

}  // namespace tbm::bench
