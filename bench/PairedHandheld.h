// A handheld for measurements over the remote API: a device root and a
// desktop root made for the run, paired, with "tbm-devicelink run" serving
// the device root. Kept apart from the engine's header: the desktop's
// remote API (Rapi.h) and the handheld's store (CeDb.h) each declare a
// CeCloseHandle of their own.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace tbm::testing {
class RunningProgram;
}

namespace tbm::bench {

class PairedHandheld {
 public:
  PairedHandheld();
  ~PairedHandheld();
  // The host path of "\My Documents\<name>" on the handheld.
  std::filesystem::path DevicePath(const std::string& name) const;
  // The host path of the handheld's root folder.
  std::filesystem::path DeviceRoot() const { return root_ / "device"; }

 private:
  std::filesystem::path root_;
  std::unique_ptr<tbm::testing::RunningProgram> running_;
};

// The one paired handheld of this run, made on first use.
PairedHandheld& Handheld();

// How many exchanges this process has made with the handheld.
std::uint64_t ExchangesSoFar();

}  // namespace tbm::bench
