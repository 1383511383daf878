// The service's work, without its event loop: the loaded providers, the
// watch on the handheld, and what happens when it docks or a person asks
// for a synchronisation. Every call comes from the service's main thread,
// so every store is called from that one thread, one call at a time.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DesktopLink.h"
#include "DeviceWatch.h"
#include "LoadedStore.h"
#include "ServiceNotify.h"

namespace tbm::desktoplink {

class ConnectionService final : public NotifySink {
 public:
  // onDisplay: the stores' messages are shown in dialogs (a QApplication
  // must exist), else written to the log.
  explicit ConnectionService(bool onDisplay);
  ~ConnectionService();
  ConnectionService(const ConnectionService&) = delete;
  ConnectionService& operator=(const ConnectionService&) = delete;

  // Loads every registered provider (LoadedStore::Load). A provider that
  // cannot be loaded or refuses is logged and left out; *leftOut gets a
  // sentence for each.
  void LoadProviders(std::vector<std::string>* leftOut);

  // The line the service prints when it is ready: the providers it loaded
  // and the handheld it is paired with.
  std::string ReadyLine() const;

  // One look at the handheld (the poll timer's work). On docking: logs it
  // and reports status 3 to every store; on undocking: logs it and closes
  // the connection. Does nothing while a synchronisation runs.
  void Watch();

  // A person asks for a synchronisation: status 3 to every store now (the
  // handheld is checked first, and connected if it can be). *report gets
  // the lines to show the person: what was done and the texts the stores
  // gave meanwhile, or why nothing was done.
  SyncAnswer SyncNow(std::vector<std::string>* report);

  // Lets every store go (LoadedStore::Release), closes the message dialogs
  // and the connection. The service does nothing more afterwards.
  void Stop();

  // What the window shows.
  std::string DeviceState() const;
  std::string ProviderNames() const;
  // Called with each text a store gives, and whenever the state changes.
  void SetListeners(std::function<void(const std::string&)> onText,
                    std::function<void()> onStateChange);

  void OnStatusText(const std::string& text) override;
  void OnMessage(const std::string& caption, const std::string& text) override;

 private:
  void Docked();
  // Status 3 to every store; returns how many were told.
  std::size_t RunStores(const std::string& why);
  void StateChanged();

  DeviceWatch watch_;
  ServiceNotify* notify_;  // the service's reference
  std::vector<std::unique_ptr<LoadedStore>> stores_;
  std::size_t registered_ = 0;
  std::vector<std::string> leftOut_;
  bool running_ = false;
  bool stopped_ = false;
  std::vector<std::string> runTexts_;
  std::string loggedProblem_;
  std::function<void(const std::string&)> onText_;
  std::function<void()> onStateChange_;
};

}  // namespace tbm::desktoplink
