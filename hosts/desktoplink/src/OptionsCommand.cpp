// "tbm-desktoplink options [TYPE]": a provider's options dialog, with the
// provider loaded in this process as the service loads it.
#include <QApplication>
#include <QWidget>
#include <cstdio>

#include "Commands.h"
#include "ConnectionService.h"
#include "DeviceWatch.h"
#include "LoadedStore.h"
#include "Providers.h"
#include "RunningProgram.h"
#include "ServiceNotify.h"
#include "ServiceRun.h"

namespace tbm::desktoplink {
namespace {

// Texts a provider gives while its dialog is open go to standard output.
class PrintingSink final : public NotifySink {
 public:
  void OnStatusText(const std::string& text) override { std::printf("%s\n", text.c_str()); }
  void OnMessage(const std::string& caption, const std::string& text) override {
    std::printf("%s: %s\n", caption.c_str(), text.c_str());
  }
};

Status ChooseProvider(const std::string& objectType, RegisteredProvider* chosen) {
  std::vector<RegisteredProvider> providers;
  if (Status status = ListRegisteredProviders(&providers); !status.ok()) return status;
  if (providers.empty()) {
    return Status(StatusCode::kNotFound,
                  "no sync provider is registered on this desktop; register one with "
                  "'tbm-desktoplink register MODULE'");
  }
  std::string types;
  for (const RegisteredProvider& provider : providers) {
    types += (types.empty() ? "\"" : ", \"") + provider.objectType + "\"";
    if (provider.objectType == objectType || (objectType.empty() && providers.size() == 1)) {
      *chosen = provider;
      return Status();
    }
  }
  if (objectType.empty()) {
    return Status(StatusCode::kInvalidArgument,
                  "several providers are registered (" + types + "); name the object type");
  }
  return Status(StatusCode::kNotFound, "no provider is registered for the object type \"" +
                                           objectType + "\"; the registered ones are " + types);
}

}  // namespace

Status OptionsCommand(const std::string& objectType, const char* programPath, int* exitCode) {
  if (!tools::HasDisplay()) {
    *exitCode = 2;
    return Status(StatusCode::kInvalidArgument,
                  "the options dialog needs a display, and there is none here (neither DISPLAY "
                  "nor WAYLAND_DISPLAY is set, or QT_QPA_PLATFORM is offscreen): run "
                  "'tbm-desktoplink options' on a desktop with a display");
  }
  RegisteredProvider provider;
  if (Status status = ChooseProvider(objectType, &provider); !status.ok()) return status;
  int qtArgc = 1;
  char* qtArgv[] = {const_cast<char*>(programPath), nullptr};
  QApplication application(qtArgc, qtArgv);
  DeviceWatch watch;
  PrintingSink sink;
  auto* notify = new ServiceNotify(watch, sink, true);
  Status outcome;
  {
    std::unique_ptr<LoadedStore> store;
    outcome = LoadedStore::Load(provider, notify, &store);
    if (outcome.ok()) {
      const HRESULT result = store->ActivateDialog(0);
      // A dialog the provider leaves open (not modal) is waited for.
      bool open = false;
      for (QWidget* widget : QApplication::topLevelWidgets()) open = open || widget->isVisible();
      if (open) QApplication::exec();
      if (result == RERR_CANCEL) {
        std::printf("The options of \"%s\" were left as they were.\n", store->name().c_str());
      } else if (FAILED(result)) {
        outcome = Status(StatusCode::kFailed,
                         "the provider of \"" + provider.objectType +
                             "\" could not show its options: " + HresultText(result));
      } else {
        std::printf("The options dialog of \"%s\" was closed.\n", store->name().c_str());
      }
    }
  }
  notify->Detach();
  notify->Release();
  return outcome;
}

}  // namespace tbm::desktoplink
