// The notify object the service hands every store's Initialize: IReplNotify
// and, through QueryInterface, IReplMessages. It passes what stores say to
// the service (NotifySink) and answers QueryDevice from the DeviceWatch.
//
// Stores may keep references past the service's end; Detach cuts the object
// off from the service first, after which its calls do nothing and
// QueryDevice fails. No exception leaves its calls.
#pragma once

#include <QPointer>
#include <atomic>
#include <string>
#include <vector>

#include "DeviceWatch.h"
#include "ReplStore.h"

class QMessageBox;

namespace tbm::desktoplink {

class NotifySink {
 public:
  // A store's status text (SetStatusText).
  virtual void OnStatusText(const std::string& text) = 0;
  // A message a store has for the person (ShowMessage), whether or not it
  // is shown in a dialog.
  virtual void OnMessage(const std::string& caption, const std::string& text) = 0;

 protected:
  ~NotifySink() = default;
};

class ServiceNotify final : public IReplNotify, public IReplMessages {
 public:
  // With onDisplay, ShowMessage shows a dialog (a QApplication must exist);
  // without, it writes a line in the service's log. One reference is the
  // caller's.
  ServiceNotify(const DeviceWatch& watch, NotifySink& sink, bool onDisplay);

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  HRESULT SetStatusText(const char* text) override;
  HWND GetWindow(UINT flags) override;
  HRESULT OnItemNotify(UINT code, const char* programId, const char* name, HREPLITEM item,
                       ULONG flags) override;
  HRESULT QueryDevice(UINT code, void** data) override;

  HRESULT ShowMessage(const char* caption, const char* text, const char* actionText,
                      IReplMessageAction* action) override;

  // Closes the message dialogs still open, giving their actions back: done
  // before the stores are released, as an action may be the last object
  // alive in a provider's module.
  void CloseDialogs();
  // Closes the dialogs and cuts the object off from the service.
  void Detach();

 private:
  ~ServiceNotify();
  HRESULT Show(const char* caption, const char* text, const char* actionText,
               IReplMessageAction* action);

  std::atomic<ULONG> references_{1};
  const DeviceWatch* watch_;
  NotifySink* sink_;
  bool onDisplay_;
  std::vector<QPointer<QMessageBox>> dialogs_;
};

}  // namespace tbm::desktoplink
