// Tap-and-hold: the stylus pressed on a widget and held still for about half
// a second asks for the context menu at that point, as a right click does
// on a desktop. CTapAndHold watches one widget's mouse and touch input for
// such a hold.
//
// The press that starts a hold reaches the widget as usual; what follows it
// does not count as a tap: once the hold is recognised, the release that
// ends it is kept from the widget, and held() tells the widget that the
// press it saw became a hold.
//
// One thread: the user-interface thread.
#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <functional>

class QWidget;

namespace tbm::ui {

class CTapAndHold : public QObject {
 public:
  // How long a press must be held, and how far (in pixels, each way) the
  // point may wander meanwhile.
  static constexpr int kHoldMilliseconds = 500;
  static constexpr int kMoveTolerance = 5;

  // Called with the point in the widget's coordinates when a hold is
  // recognised; returns whether it opened a menu.
  using HoldHandler = std::function<bool(QPoint point)>;

  // Watches widget (and is deleted with it). Without a handler, a hold
  // sends the widget a context-menu event at the point, so the widget's
  // contextMenuEvent (or its context-menu policy) opens the menu; it counts
  // as opened when the widget accepts the event.
  explicit CTapAndHold(QWidget* widget, HoldHandler onHold = {});
  ~CTapAndHold() override;

  // True from the moment a hold is recognised until the next press.
  bool held() const { return held_; }
  // True when the last hold opened a menu.
  bool openedMenu() const { return openedMenu_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Start(QPoint point);
  void Move(QPoint point);
  void Cancel();
  void Recognise();

  QPointer<QWidget> widget_;
  HoldHandler onHold_;
  QTimer timer_;
  QPoint start_;
  bool pressed_ = false;
  bool held_ = false;
  bool openedMenu_ = false;
};

}  // namespace tbm::ui
