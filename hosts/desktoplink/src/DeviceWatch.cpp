#include "DeviceWatch.h"

#include <cstdio>
#include <cstdlib>

#include "CeUtil.h"
#include "DesktopLink.h"
#include "ProgramLog.h"
#include "Registry.h"
#include "Utf16.h"

namespace tbm::desktoplink {
namespace {

void CopyText(char* target, std::size_t size, const std::string& text) {
  std::snprintf(target, size, "%s", text.c_str());
}

std::string LastKnownName(const std::string& partnerId) {
  const std::optional<std::u16string> name =
      RegGetString(HKEY_CURRENT_USER, rapi::DeviceSettingsKey(partnerId).c_str(), kDeviceNameValue);
  return name && !name->empty() ? Utf16ToUtf8(*name) : partnerId;
}

}  // namespace

DWORD PartnerPid(const std::string& partnerId) {
  const std::string first = partnerId.substr(0, 8);
  char* end = nullptr;
  const unsigned long value = std::strtoul(first.c_str(), &end, 16);
  return end != nullptr && *end == '\0' ? static_cast<DWORD>(value) : 0;
}

DeviceWatch::~DeviceWatch() { Close(); }

DeviceWatch::Change DeviceWatch::Check() { return docked_ ? Probe() : Connect(); }

DeviceWatch::Change DeviceWatch::Connect() {
  rapi::DesktopPartnership partnership;
  if (Status status = rapi::LoadDesktopPartnership(&partnership); !status.ok()) {
    problem_ = status.message();
    return Change::kNone;
  }
  rapi::SetCallTimeLimit(kConnectLimit);
  const HRESULT result = CeRapiInit();
  rapi::SetCallTimeLimit(kCallLimit);
  if (FAILED(result) && result != CERAPI_E_ALREADYINITIALIZED) {
    problem_ = "the handheld's service at " + partnership.address.ToString() +
               " does not answer (" + rapi::RapiFailureText() + ")";
    return Change::kNone;
  }
  if (Status status = rapi::QueryDevice(&device_); !status.ok()) {
    problem_ = status.message();
    return Change::kNone;
  }
  docked_ = true;
  problem_.clear();
  const LONG error =
      RegSetString(HKEY_CURRENT_USER, rapi::DeviceSettingsKey(device_.partnerId).c_str(),
                   kDeviceNameValue, device_.name);
  if (error != ERROR_SUCCESS) {
    WriteLog(kProgram, LogLevel::kWarning,
             std::string("the handheld's name cannot be kept in the desktop registry: ") +
                 DescribeError(static_cast<DWORD>(error)));
  }
  return Change::kDocked;
}

DeviceWatch::Change DeviceWatch::Probe() {
  rapi::DesktopPartnership partnership;
  const Status paired = rapi::LoadDesktopPartnership(&partnership);
  if (!paired.ok() || partnership.partnerId != device_.partnerId) {
    problem_ = paired.ok() ? "the desktop is now paired with another handheld (" +
                                 partnership.partnerId + ")"
                           : paired.message();
    Close();
    return Change::kUndocked;
  }
  rapi::SetCallTimeLimit(kConnectLimit);
  CeGetLastError();
  const HRESULT reached = CeRapiGetError();
  rapi::SetCallTimeLimit(kCallLimit);
  if (reached == S_OK) return Change::kNone;
  problem_ = "the handheld's service at " + device_.address.ToString() + " stopped answering (" +
             rapi::RapiFailureText() + ")";
  Close();
  return Change::kUndocked;
}

void DeviceWatch::Close() {
  if (!docked_) return;
  CeRapiUninit();
  docked_ = false;
}

bool DeviceWatch::Selected(DEVINFO* info) const {
  rapi::DesktopPartnership partnership;
  if (!rapi::LoadDesktopPartnership(&partnership).ok()) return false;
  *info = DEVINFO{};
  info->pid = PartnerPid(partnership.partnerId);
  const bool thisOne = docked_ && device_.partnerId == partnership.partnerId;
  CopyText(info->szName, sizeof info->szName,
           thisOne ? Utf16ToUtf8(device_.name) : LastKnownName(partnership.partnerId));
  CopyText(info->szType, sizeof info->szType, "handheld");
  CopyText(info->szPath, sizeof info->szPath, partnership.address.ToString());
  return true;
}

bool DeviceWatch::Connected(DEVINFO* info) const {
  if (!docked_) return false;
  *info = DEVINFO{};
  info->pid = PartnerPid(device_.partnerId);
  CopyText(info->szName, sizeof info->szName, Utf16ToUtf8(device_.name));
  CopyText(info->szType, sizeof info->szType, "handheld");
  CopyText(info->szPath, sizeof info->szPath, device_.address.ToString());
  return true;
}

}  // namespace tbm::desktoplink
