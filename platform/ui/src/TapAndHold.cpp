#include "TapAndHold.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QMouseEvent>
#include <QTouchEvent>
#include <QWidget>
#include <cstdlib>

namespace tbm::ui {

CTapAndHold::CTapAndHold(QWidget* widget, HoldHandler onHold)
    : QObject(widget), widget_(widget), onHold_(std::move(onHold)) {
  timer_.setSingleShot(true);
  timer_.setInterval(kHoldMilliseconds);
  connect(&timer_, &QTimer::timeout, this, [this] { Recognise(); });
  widget->installEventFilter(this);
}

CTapAndHold::~CTapAndHold() = default;

void CTapAndHold::Start(QPoint point) {
  start_ = point;
  pressed_ = true;
  held_ = false;
  openedMenu_ = false;
  timer_.start();
}

void CTapAndHold::Move(QPoint point) {
  if (!pressed_ || held_) return;
  if (std::abs(point.x() - start_.x()) > kMoveTolerance ||
      std::abs(point.y() - start_.y()) > kMoveTolerance)
    Cancel();
}

void CTapAndHold::Cancel() {
  pressed_ = false;
  timer_.stop();
}

void CTapAndHold::Recognise() {
  if (!pressed_ || widget_ == nullptr) return;
  held_ = true;
  pressed_ = false;
  if (onHold_) {
    openedMenu_ = onHold_(start_);
    return;
  }
  QContextMenuEvent request(QContextMenuEvent::Mouse, start_, widget_->mapToGlobal(start_));
  request.setAccepted(true);
  QCoreApplication::sendEvent(widget_, &request);
  openedMenu_ = request.isAccepted();
}

bool CTapAndHold::eventFilter(QObject* watched, QEvent* event) {
  if (watched != widget_) return QObject::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->button() == Qt::LeftButton) {
        Start(mouse->position().toPoint());
      } else {
        Cancel();
      }
      break;
    }
    case QEvent::MouseMove:
      Move(static_cast<QMouseEvent*>(event)->position().toPoint());
      break;
    case QEvent::MouseButtonRelease:
      Cancel();
      // The release that ends a hold is not a tap.
      if (held_) return true;
      break;
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate: {
      auto* touch = static_cast<QTouchEvent*>(event);
      if (touch->points().size() != 1) {
        Cancel();
        break;
      }
      QPoint point = touch->points().front().position().toPoint();
      if (event->type() == QEvent::TouchBegin) {
        Start(point);
      } else {
        Move(point);
      }
      break;
    }
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
      Cancel();
      if (held_ && event->type() == QEvent::TouchEnd) return true;
      break;
    case QEvent::Hide:
    case QEvent::FocusOut:
      Cancel();
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace tbm::ui
