#include "InputPanel.h"

#include <QGuiApplication>
#include <QInputMethod>

#include "CommandBar.h"
#include "Screen.h"

namespace tbm::ui {

CInputPanel& CInputPanel::Get() {
  static CInputPanel panel;
  return panel;
}

void CInputPanel::Show(bool shown) {
  if (shown == shown_) return;
  shown_ = shown;
  // A display with an on-screen keyboard of its own shows or hides it too.
  if (QInputMethod* method = QGuiApplication::inputMethod(); method != nullptr) {
    if (shown_)
      method->show();
    else
      method->hide();
  }
  emit changed(shown_);
}

QRect CInputPanel::Rect() const {
  QSize screen = ScreenSize();
  return QRect(0, screen.height() - CCommandBar::kHeight - kHeight, screen.width(), kHeight);
}

}  // namespace tbm::ui
