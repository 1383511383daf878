#include "IdleUpdate.h"

#include <QCoreApplication>
#include <QEvent>
#include <QMetaObject>
#include <QPointer>
#include <algorithm>
#include <vector>

#include "FrameWnd.h"

namespace tbm::ui {

namespace {

std::vector<CFrameWnd*>& Frames() {
  static std::vector<CFrameWnd*> frames;
  return frames;
}

bool& UpdatePending() {
  static bool pending = false;
  return pending;
}

bool IsInput(QEvent::Type type) {
  switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::TouchBegin:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::Wheel:
    case QEvent::Shortcut:
      return true;
    default:
      return false;
  }
}

// Sees every event the application delivers and asks for an idle update
// after each input event. It never takes an event.
class InputWatch : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (IsInput(event->type())) ScheduleIdleUpdate();
    return QObject::eventFilter(watched, event);
  }
};

void InstallInputWatch() {
  static QPointer<InputWatch> watch;
  QCoreApplication* application = QCoreApplication::instance();
  if (watch || application == nullptr) return;
  watch = new InputWatch(application);
  application->installEventFilter(watch);
}

void RunIdleUpdate() {
  UpdatePending() = false;
  // A frame's update may close another frame; keep to those still there.
  std::vector<QPointer<CFrameWnd>> frames(Frames().begin(), Frames().end());
  for (const QPointer<CFrameWnd>& frame : frames) {
    if (frame) frame->UpdateCommandUI();
  }
}

}  // namespace

void RegisterFrame(CFrameWnd* frame) {
  InstallInputWatch();
  Frames().push_back(frame);
}

void UnregisterFrame(CFrameWnd* frame) { std::erase(Frames(), frame); }

void ScheduleIdleUpdate() {
  QCoreApplication* application = QCoreApplication::instance();
  if (UpdatePending() || application == nullptr) return;
  UpdatePending() = true;
  QMetaObject::invokeMethod(application, &RunIdleUpdate, Qt::QueuedConnection);
}

}  // namespace tbm::ui
