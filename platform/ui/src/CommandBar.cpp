#include "CommandBar.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>

#include "CommandMenus.h"
#include "FrameWnd.h"

namespace tbm::ui {

namespace {

// Moves each menu of the bar, as it shows, so that it opens upwards from
// the bar at the bottom of the screen.
class UpwardMenus : public QObject {
 public:
  UpwardMenus(QMenuBar* bar) : QObject(bar), bar_(bar) {}

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Show) {
      if (auto* menu = qobject_cast<QMenu*>(watched); menu != nullptr) {
        int barTop = bar_->mapToGlobal(QPoint(0, 0)).y();
        int top = std::max(0, barTop - menu->height());
        menu->move(menu->x(), top);
      }
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QMenuBar* bar_;
};

}  // namespace

CCommandBar::CCommandBar(CFrameWnd* frame, QWidget* parent) : CToolBar(frame, parent) {
  barLayout()->setContentsMargins(0, 0, 2, 0);
  SetBorders(Qt::TopEdge);
}

CCommandBar::~CCommandBar() = default;

bool CCommandBar::InsertMenuBar(std::uint32_t number) {
  res::Menu menu;
  if (!LoadMenuResource(number, &menu)) return false;
  InsertMenuBar(menu);
  return true;
}

void CCommandBar::InsertMenuBar(const res::Menu& menu) {
  if (menuBar_ != nullptr) {
    barLayout()->removeWidget(menuBar_);
    menuBar_->hide();
    menuBar_->deleteLater();
    menuBar_ = nullptr;
  }
  auto* bar = new QMenuBar(this);
  bar->setNativeMenuBar(false);
  bar->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  BuildMenuBar(bar, menu, frame());
  auto* upward = new UpwardMenus(bar);
  for (QAction* action : bar->actions()) {
    if (QMenu* popup = action->menu()) popup->installEventFilter(upward);
  }
  menuBar_ = bar;
  barLayout()->insertWidget(0, bar, 0, Qt::AlignVCenter);
  bar->setFixedHeight(kHeight - 2);
  bar->show();
}

}  // namespace tbm::ui
