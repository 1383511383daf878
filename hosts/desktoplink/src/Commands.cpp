#include "Commands.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "CeUtil.h"
#include "DesktopLink.h"
#include "DeviceWatch.h"
#include "Partnership.h"
#include "Providers.h"
#include "Registry.h"
#include "TextTable.h"
#include "Utf16.h"

namespace tbm::desktoplink {
namespace {

std::string OnOff(LONG error, DWORD value) {
  if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND)) return "not set";
  if (error != ERROR_SUCCESS) return "unreadable";
  return value != 0 ? "on" : "off";
}

Status SettingsFailure(LONG error, const std::string& what) {
  if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND)) {
    rapi::DesktopPartnership partnership;
    if (Status status = rapi::LoadDesktopPartnership(&partnership); !status.ok()) return status;
  }
  return Status(error == static_cast<LONG>(ERROR_ACCESS_DENIED) ? StatusCode::kNoPermission
                : error == static_cast<LONG>(ERROR_DISK_FULL)   ? StatusCode::kNoSpace
                                                                : StatusCode::kIoFailed,
                what + ": " + DescribeError(static_cast<DWORD>(error)),
                static_cast<std::uint32_t>(error));
}

}  // namespace

Status RegisterCommand(const std::string& module, bool unregister) {
  std::string said;
  if (Status status = RegisterModule(module, unregister, &said); !status.ok()) return status;
  std::printf("%s\n", said.c_str());
  return Status();
}

Status ProvidersCommand() {
  std::vector<RegisteredProvider> providers;
  if (Status status = ListRegisteredProviders(&providers); !status.ok()) return status;
  if (providers.empty()) {
    std::printf(
        "No sync provider is registered on this desktop ('tbm-desktoplink register MODULE' "
        "registers one).\n");
    return Status();
  }
  tools::TextTable table({"Object type", "Program id", "Module"}, 60);
  std::vector<std::string> problems;
  for (const RegisteredProvider& provider : providers) {
    std::string module = provider.modulePath;
    if (!provider.problem.empty()) {
      module = "(none)";
      problems.push_back(provider.objectType + ": " + provider.problem);
    } else if (!std::filesystem::exists(provider.modulePath)) {
      problems.push_back(provider.objectType + ": the module " + provider.modulePath +
                         " is missing");
    }
    table.AddRow(
        {provider.objectType, provider.programId.empty() ? "(none)" : provider.programId, module});
  }
  std::printf("%s", table.Render().c_str());
  for (const std::string& problem : problems) {
    std::printf("%s\n", tools::EscapeControls(problem).c_str());
  }
  return Status();
}

Status PartnershipsCommand() {
  rapi::DesktopPartnership partnership;
  if (Status status = rapi::LoadDesktopPartnership(&partnership); !status.ok()) {
    if (status.code() != StatusCode::kNotFound) return status;
    std::printf("%s.\n", status.message().c_str());
    return Status();
  }
  const std::optional<std::u16string> name = RegGetString(
      HKEY_CURRENT_USER, rapi::DeviceSettingsKey(partnership.partnerId).c_str(), kDeviceNameValue);
  std::printf("Partner:             %s\n", partnership.partnerId.c_str());
  std::printf("Handheld:            %s\n",
              name ? tools::EscapeControls(Utf16ToUtf8(*name)).c_str() : "(not docked yet)");
  std::printf("Address:             %s\n", partnership.address.ToString().c_str());
  HCESVC key = nullptr;
  DWORD onDocking = 0, continuously = 0;
  LONG first = CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, FALSE, &key);
  LONG second = first;
  if (first == ERROR_SUCCESS) {
    first = CeSvcGetDword(key, kUpdateOnDocking, &onDocking);
    second = CeSvcGetDword(key, kContinuouslyUpdate, &continuously);
    CeSvcClose(key);
  }
  std::printf("Update on docking:   %s\n", OnOff(first, onDocking).c_str());
  std::printf("Continuously Update: %s\n", OnOff(second, continuously).c_str());
  return Status();
}

Status SetCommand(std::optional<bool> updateOnDocking, std::optional<bool> continuouslyUpdate) {
  if (!updateOnDocking && !continuouslyUpdate) {
    return Status(StatusCode::kInvalidArgument,
                  "set needs --update-on-docking on|off or --continuously-update on|off (or "
                  "both)");
  }
  HCESVC key = nullptr;
  LONG error = CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, TRUE, &key);
  if (error != ERROR_SUCCESS) {
    return SettingsFailure(error, "the handheld's settings cannot be opened");
  }
  if (updateOnDocking) error = CeSvcSetDword(key, kUpdateOnDocking, *updateOnDocking ? 1 : 0);
  if (error == ERROR_SUCCESS && continuouslyUpdate) {
    error = CeSvcSetDword(key, kContinuouslyUpdate, *continuouslyUpdate ? 1 : 0);
  }
  CeSvcClose(key);
  if (error != ERROR_SUCCESS) {
    return SettingsFailure(error, "the handheld's settings cannot be saved");
  }
  return PartnershipsCommand();
}

Status SyncCommand(std::chrono::seconds limit) {
  const HWND service = FindWindowW(kServiceWindowClass, nullptr);
  if (service == nullptr) {
    return Status(StatusCode::kNotFound,
                  "no desktop connection service is running on this desktop (" +
                      MachineRoot(Machine::Desktop) + "); start it with 'tbm-desktoplink run'");
  }
  const long self = static_cast<long>(::getpid());
  std::filesystem::remove(SyncReportPath(self));
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutW(service, kSyncNowMessage, static_cast<WPARAM>(self), 0, SMTO_NORMAL,
                          static_cast<UINT>(limit.count() * 1000), &answer) == 0) {
    if (GetLastError() == ERROR_TIMEOUT) {
      return Status(StatusCode::kBusy,
                    "the synchronisation did not finish within " + std::to_string(limit.count()) +
                        " seconds; it goes on in the service, whose log is " +
                        (MachineRoot(Machine::Desktop) + "/log/tbm-desktoplink.log"));
    }
    return Status(StatusCode::kNotFound,
                  "the desktop connection service ended before it answered; start it again with "
                  "'tbm-desktoplink run'");
  }
  std::vector<std::string> lines;
  if (Status status = TakeSyncReport(self, &lines); !status.ok()) return status;
  if (answer == static_cast<DWORD_PTR>(kSyncRan)) {
    for (const std::string& line : lines) {
      std::printf("%s\n", tools::EscapeControls(line).c_str());
    }
    return Status();
  }
  // A failure is one line on standard error: the report's lines joined.
  std::string message = lines.empty() ? "the service did not say why" : lines.front();
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::size_t text = lines[i].find_first_not_of(' ');
    if (text != std::string::npos) message += " " + lines[i].substr(text);
  }
  const StatusCode code = answer == static_cast<DWORD_PTR>(kSyncBusy) ? StatusCode::kBusy
                          : answer == static_cast<DWORD_PTR>(kSyncNoProviders)
                              ? StatusCode::kNotFound
                              : StatusCode::kFailed;
  return Status(code, message);
}

}  // namespace tbm::desktoplink
