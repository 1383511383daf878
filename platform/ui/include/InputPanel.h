// The input panel: the on-screen keyboard that slides up from the bottom of
// the handheld's screen, above the command bar. Here it is a state the whole
// process shares: shown or hidden, and the rectangle it covers. Views ask
// it whether it is up and raise or lower it (a field editor raises it for a
// text cell); frames give way to it, shrinking their main pane while it is
// shown, and show a plain area where the panel would be.
//
// One thread: the user-interface thread.
#pragma once

#include <QObject>
#include <QRect>

namespace tbm::ui {

class CInputPanel : public QObject {
  Q_OBJECT

 public:
  // Height of the panel in pixels.
  static constexpr int kHeight = 80;

  // The process's one input panel.
  static CInputPanel& Get();

  bool IsShown() const { return shown_; }
  // Raises (true) or lowers the panel; emits changed when the state changes.
  void Show(bool shown);

  // The rectangle the panel covers in screen coordinates (Screen.h): the
  // screen's width, kHeight high, its bottom on the top of the command bar.
  // The same whether the panel is shown or not.
  QRect Rect() const;

 signals:
  // The panel went up or down.
  void changed(bool shown);

 private:
  CInputPanel() = default;
  bool shown_ = false;
};

}  // namespace tbm::ui
