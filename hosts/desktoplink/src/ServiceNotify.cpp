#include "ServiceNotify.h"

#include <QMessageBox>
#include <QPushButton>

#include "CallGuard.h"
#include "DesktopLink.h"
#include "ProgramLog.h"

namespace tbm::desktoplink {
namespace {

std::string Text(const char* text) { return text != nullptr ? text : ""; }

}  // namespace

ServiceNotify::ServiceNotify(const DeviceWatch& watch, NotifySink& sink, bool onDisplay)
    : watch_(&watch), sink_(&sink), onDisplay_(onDisplay) {}

ServiceNotify::~ServiceNotify() { Detach(); }

HRESULT ServiceNotify::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (iid == IID_IUnknown || iid == IID_IReplNotify) {
    *object = static_cast<IReplNotify*>(this);
  } else if (iid == IID_IReplMessages) {
    *object = static_cast<IReplMessages*>(this);
  } else {
    return E_NOINTERFACE;
  }
  AddRef();
  return S_OK;
}

ULONG ServiceNotify::AddRef() { return ++references_; }

ULONG ServiceNotify::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT ServiceNotify::SetStatusText(const char* text) {
  if (sink_ == nullptr) return E_UNEXPECTED;
  return Guarded(E_OUTOFMEMORY, [&] {
    sink_->OnStatusText(Text(text));
    return S_OK;
  });
}

HWND ServiceNotify::GetWindow(UINT) { return nullptr; }

HRESULT ServiceNotify::OnItemNotify(UINT, const char*, const char*, HREPLITEM, ULONG) {
  return S_OK;
}

HRESULT ServiceNotify::QueryDevice(UINT code, void** data) {
  if (data == nullptr || *data == nullptr) return E_INVALIDARG;
  auto* info = static_cast<DEVINFO*>(*data);
  if (code != QDC_SEL_DEVICE && code != QDC_CON_DEVICE) return E_INVALIDARG;
  if (watch_ == nullptr) return E_FAIL;
  return Guarded(E_OUTOFMEMORY, [&] {
    const bool found = code == QDC_SEL_DEVICE ? watch_->Selected(info) : watch_->Connected(info);
    return found ? S_OK : E_FAIL;
  });
}

HRESULT ServiceNotify::ShowMessage(const char* caption, const char* text, const char* actionText,
                                   IReplMessageAction* action) {
  if (sink_ == nullptr) return E_UNEXPECTED;
  return Guarded(E_OUTOFMEMORY, [&] { return Show(caption, text, actionText, action); });
}

HRESULT ServiceNotify::Show(const char* caption, const char* text, const char* actionText,
                            IReplMessageAction* action) {
  sink_->OnMessage(Text(caption), Text(text));
  WriteLog(kProgram, LogLevel::kInfo, "message: " + Text(caption) + ": " + Text(text));
  if (!onDisplay_) return S_OK;
  std::erase_if(dialogs_, [](const QPointer<QMessageBox>& dialog) { return dialog.isNull(); });
  auto* box = new QMessageBox(QMessageBox::Information, QString::fromStdString(Text(caption)),
                              QString::fromStdString(Text(text)), QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  if (action != nullptr && actionText != nullptr && *actionText != '\0') {
    action->AddRef();
    QPushButton* button =
        box->addButton(QString::fromStdString(actionText), QMessageBox::ActionRole);
    QObject::connect(box, &QMessageBox::buttonClicked, box,
                     [action, button](QAbstractButton* clicked) {
                       if (clicked == button) action->Run();
                     });
    QObject::connect(box, &QObject::destroyed, [action] { action->Release(); });
  }
  dialogs_.emplace_back(box);
  box->show();
  return S_OK;
}

void ServiceNotify::CloseDialogs() {
  for (const QPointer<QMessageBox>& dialog : dialogs_) delete dialog.data();
  dialogs_.clear();
}

void ServiceNotify::Detach() {
  CloseDialogs();
  watch_ = nullptr;
  sink_ = nullptr;
}

}  // namespace tbm::desktoplink
