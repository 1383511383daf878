// Whether the paired handheld is docked: the process's remote-API
// connection to it (Rapi.h) is open and answers. The service looks at it
// every poll interval: while undocked it tries to connect (CeRapiInit),
// while docked it makes one small call to see the handheld still answers.
// Both use a short call time limit, so a handheld that has gone quiet holds
// the service up only briefly; every other call keeps the usual limit.
//
// The connection is the process's: the providers the service loads share it
// (their CeRapiInit answers CERAPI_E_ALREADYINITIALIZED) and never close it.
#pragma once

#include <chrono>
#include <string>

#include "Rapi.h"
#include "ReplStore.h"

namespace tbm::desktoplink {

// The limit of the service's own connecting and checking, and the limit of
// every other remote call.
inline constexpr std::chrono::milliseconds kConnectLimit{3000};
inline constexpr std::chrono::milliseconds kCallLimit{30000};

// The desktop registry value, in the handheld's settings key (CeUtil.h),
// that keeps the name the handheld gave when it last docked.
inline constexpr char16_t kDeviceNameValue[] = u"Device Name";

class DeviceWatch {
 public:
  enum class Change { kNone, kDocked, kUndocked };

  DeviceWatch() = default;
  ~DeviceWatch();
  DeviceWatch(const DeviceWatch&) = delete;
  DeviceWatch& operator=(const DeviceWatch&) = delete;

  // One look at the handheld: kDocked when the connection came up now,
  // kUndocked when it went down (or the desktop was paired with another
  // handheld), kNone otherwise.
  Change Check();

  bool docked() const { return docked_; }
  // The docked handheld (meaningful while docked).
  const rapi::DockedDevice& device() const { return device_; }
  // Why the handheld could not be reached or was lost, in words, with the
  // address tried; empty while docked.
  const std::string& problem() const { return problem_; }

  // QDC_SEL_DEVICE: the paired handheld, docked or not: the first 8 hex
  // digits of its partner identifier as pid, its name (docked, or as it
  // last docked, or else the partner identifier) and its address. False
  // when the desktop is not paired.
  bool Selected(DEVINFO* info) const;
  // QDC_CON_DEVICE: the same for the docked handheld; false when none is.
  bool Connected(DEVINFO* info) const;

  // Closes the connection when docked.
  void Close();

 private:
  Change Connect();
  Change Probe();

  bool docked_ = false;
  rapi::DockedDevice device_;
  std::string problem_;
};

// The pid of a partner identifier: its first 8 hex digits as a number.
DWORD PartnerPid(const std::string& partnerId);

}  // namespace tbm::desktoplink
