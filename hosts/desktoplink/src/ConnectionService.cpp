#include "ConnectionService.h"

#include "Partnership.h"
#include "ProgramLog.h"
#include "Providers.h"
#include "ReplStore.h"
#include "Utf16.h"

namespace tbm::desktoplink {
namespace {

void Log(LogLevel level, const std::string& text) { WriteLog(kProgram, level, text); }

std::string Count(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

ConnectionService::ConnectionService(bool onDisplay)
    : notify_(new ServiceNotify(watch_, *this, onDisplay)) {}

ConnectionService::~ConnectionService() {
  Stop();
  notify_->Release();
}

void ConnectionService::LoadProviders(std::vector<std::string>* leftOut) {
  leftOut->clear();
  std::vector<RegisteredProvider> providers;
  if (Status status = ListRegisteredProviders(&providers); !status.ok()) {
    leftOut->push_back(status.message());
  }
  registered_ = providers.size();
  for (const RegisteredProvider& provider : providers) {
    std::unique_ptr<LoadedStore> store;
    if (Status status = LoadedStore::Load(provider, notify_, &store); !status.ok()) {
      leftOut->push_back(status.message() + "; it is left out");
      Log(LogLevel::kError, leftOut->back());
      continue;
    }
    Log(LogLevel::kInfo,
        "loaded the provider of \"" + provider.objectType + "\" from " + provider.modulePath);
    stores_.push_back(std::move(store));
  }
  leftOut_ = *leftOut;
  StateChanged();
}

std::string ConnectionService::ReadyLine() const {
  std::string line = "tbm-desktoplink is running with ";
  line += stores_.empty() ? "no provider" : Count(stores_.size(), "provider", "providers");
  if (!stores_.empty()) line += " (" + ProviderNames() + ")";
  if (!leftOut_.empty()) {
    line +=
        ", " + Count(leftOut_.size(), "registered provider", "registered providers") + " left out";
  }
  rapi::DesktopPartnership partnership;
  if (rapi::LoadDesktopPartnership(&partnership).ok()) {
    line += "; paired with the handheld " + partnership.partnerId + " at " +
            partnership.address.ToString();
  } else {
    line += "; no handheld is paired yet";
  }
  return line;
}

void ConnectionService::Watch() {
  if (running_ || stopped_) return;
  const DeviceWatch::Change change = watch_.Check();
  if (change == DeviceWatch::Change::kDocked) {
    Docked();
  } else if (change == DeviceWatch::Change::kUndocked) {
    Log(LogLevel::kInfo,
        "handheld " + Utf16ToUtf8(watch_.device().name) + " undocked: " + watch_.problem());
    loggedProblem_ = watch_.problem();
    StateChanged();
  } else if (!watch_.docked() && watch_.problem() != loggedProblem_) {
    // Said once for each new reason, not at every poll.
    Log(LogLevel::kInfo, "no handheld docked: " + watch_.problem());
    loggedProblem_ = watch_.problem();
    StateChanged();
  }
}

void ConnectionService::Docked() {
  const rapi::DockedDevice& device = watch_.device();
  Log(LogLevel::kInfo, "handheld " + Utf16ToUtf8(device.name) + " docked (partner " +
                           device.partnerId + " at " + device.address.ToString() + ")");
  loggedProblem_.clear();
  StateChanged();
  RunStores("the handheld docked");
}

std::size_t ConnectionService::RunStores(const std::string& why) {
  running_ = true;
  runTexts_.clear();
  Log(LogLevel::kInfo,
      why + ": reporting status 3 to " + Count(stores_.size(), "provider", "providers"));
  for (const auto& store : stores_) {
    const HRESULT result = store->ReportStatus(RSC_END_SYNC);
    if (FAILED(result)) {
      Log(LogLevel::kWarning, "the provider of \"" + store->objectType() +
                                  "\" answered status 3 with: " + HresultText(result));
    }
  }
  Log(LogLevel::kInfo, "the providers are done with status 3");
  running_ = false;
  return stores_.size();
}

SyncAnswer ConnectionService::SyncNow(std::vector<std::string>* report) {
  report->clear();
  if (stopped_) {
    report->push_back("the desktop connection service is stopping");
    return kSyncBusy;
  }
  if (running_) {
    report->push_back(
        "a synchronisation is running already; ask again when it has finished (the service's "
        "log, " +
        LogFilePath(kProgram) + ", says when)");
    return kSyncBusy;
  }
  if (stores_.empty()) {
    if (registered_ == 0) {
      report->push_back(
          "no sync provider is registered on this desktop; register one with 'tbm-desktoplink "
          "register MODULE' and restart the service");
    } else {
      report->push_back("none of the " +
                        Count(registered_, "registered provider", "registered providers") +
                        " could be loaded, so there is nothing to synchronise:");
      for (const std::string& line : leftOut_) report->push_back("  " + line);
    }
    return kSyncNoProviders;
  }
  DeviceWatch::Change change = watch_.Check();
  if (change == DeviceWatch::Change::kUndocked) {
    Log(LogLevel::kInfo,
        "handheld " + Utf16ToUtf8(watch_.device().name) + " undocked: " + watch_.problem());
    StateChanged();
    change = watch_.Check();
  }
  if (change == DeviceWatch::Change::kDocked) {
    Docked();
  } else if (watch_.docked()) {
    RunStores("a synchronisation was asked for");
  } else {
    report->push_back("no handheld is docked: " + watch_.problem());
    return kSyncNotDocked;
  }
  report->push_back("The handheld " + Utf16ToUtf8(watch_.device().name) + " is docked; " +
                    Count(stores_.size(), "provider was", "providers were") +
                    " asked to synchronise (" + ProviderNames() + ").");
  if (runTexts_.empty()) report->push_back("The providers said nothing.");
  for (const std::string& text : runTexts_) report->push_back("  " + text);
  return kSyncRan;
}

void ConnectionService::Stop() {
  if (stopped_) return;
  stopped_ = true;
  notify_->CloseDialogs();
  for (auto& store : stores_) store->Release();
  stores_.clear();
  notify_->Detach();
  watch_.Close();
}

std::string ConnectionService::DeviceState() const {
  if (watch_.docked()) {
    return "The handheld " + Utf16ToUtf8(watch_.device().name) + " is docked (" +
           watch_.device().address.ToString() + ").";
  }
  return watch_.problem().empty() ? "No handheld is docked."
                                  : "No handheld is docked: " + watch_.problem();
}

std::string ConnectionService::ProviderNames() const {
  std::string names;
  for (const auto& store : stores_) names += (names.empty() ? "" : ", ") + store->name();
  return names;
}

void ConnectionService::SetListeners(std::function<void(const std::string&)> onText,
                                     std::function<void()> onStateChange) {
  onText_ = std::move(onText);
  onStateChange_ = std::move(onStateChange);
}

void ConnectionService::OnStatusText(const std::string& text) {
  Log(LogLevel::kInfo, "status: " + text);
  if (running_) runTexts_.push_back(text);
  if (onText_) onText_(text);
}

void ConnectionService::OnMessage(const std::string& caption, const std::string& text) {
  const std::string line = caption.empty() ? text : caption + ": " + text;
  if (running_) runTexts_.push_back(line);
  if (onText_) onText_(line);
}

void ConnectionService::StateChanged() {
  if (onStateChange_) onStateChange_();
}

}  // namespace tbm::desktoplink
