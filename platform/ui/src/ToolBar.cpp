#include "ToolBar.h"

#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QToolButton>
#include <QToolTip>
#include <string>

#include "FrameWnd.h"
#include "FrameworkLog.h"
#include "Resources.h"
#include "WinApp.h"

namespace tbm::ui {

CToolBar::CToolBar(CFrameWnd* frame, QWidget* parent)
    : CControlBar(parent != nullptr ? parent : frame),
      frame_(frame),
      layout_(new QHBoxLayout(this)) {
  layout_->setContentsMargins(2, 2, 2, 1);
  layout_->setSpacing(0);
  layout_->addStretch(1);
}

CToolBar::~CToolBar() = default;

bool CToolBar::LoadToolBar(std::uint32_t number) {
  CWinApp* app = CWinApp::Get();
  if (app == nullptr || app->resources() == nullptr) {
    LogFrameworkError("tool bar " + std::to_string(number) + ": no language library is loaded");
    return false;
  }
  res::ToolBar bar;
  Status status = app->resources()->LoadToolBar(number, &bar);
  if (!status.ok()) {
    LogFrameworkError("tool bar " + std::to_string(number) + ": " + status.message());
    return false;
  }
  SetButtons(bar);
  return true;
}

void CToolBar::SetButtons(const res::ToolBar& bar) {
  Clear();
  for (const res::ToolBarButton& button : bar.buttons) {
    if (button.separator) {
      InsertSeparator(GetButtonCount());
      continue;
    }
    QPixmap picture = LoadPicture(button.picture, devicePixelRatioF());
    InsertButton(GetButtonCount(), button.command, picture.isNull() ? QIcon() : QIcon(picture));
  }
}

void CToolBar::InsertButton(int index, CommandId id, const QIcon& icon) {
  QAction* action = frame_->CommandAction(id);
  // The picture goes on the action, which the button takes its look from
  // whenever the action changes; menus leave it out.
  if (!icon.isNull()) action->setIcon(icon);
  auto* button = new QToolButton(this);
  button->setDefaultAction(action);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setToolButtonStyle(Qt::ToolButtonIconOnly);
  button->setFixedSize(buttonSize_);
  // The picture's own size, as far as the button leaves room for it.
  QSize available = buttonSize_ - QSize(2, 2);
  QList<QSize> sizes = action->icon().availableSizes();
  button->setIconSize((sizes.isEmpty() ? available : sizes.front()).boundedTo(available));
  button->installEventFilter(this);
  Item item;
  item.id = id;
  item.button = button;
  Insert(index, std::move(item));
}

void CToolBar::InsertSeparator(int index) {
  auto* gap = new QFrame(this);
  gap->setFrameShape(QFrame::VLine);
  gap->setFrameShadow(QFrame::Sunken);
  gap->setFixedSize(6, buttonSize_.height() - 4);
  Item item;
  item.gap = gap;
  Insert(index, std::move(item));
}

void CToolBar::Insert(int index, Item item) {
  if (index < 0 || index > GetButtonCount()) index = GetButtonCount();
  QWidget* widget = item.button != nullptr ? static_cast<QWidget*>(item.button) : item.gap;
  layout_->insertWidget(FirstButtonSlot() + index, widget, 0, Qt::AlignVCenter);
  items_.insert(items_.begin() + index, std::move(item));
  widget->show();
}

bool CToolBar::DeleteButton(int index) {
  if (index < 0 || index >= GetButtonCount()) return false;
  Item item = items_[index];
  items_.erase(items_.begin() + index);
  // The button may be the one being pressed; let it finish its event.
  QWidget* widget = item.button != nullptr ? static_cast<QWidget*>(item.button) : item.gap;
  layout_->removeWidget(widget);
  widget->hide();
  widget->deleteLater();
  return true;
}

void CToolBar::Clear() {
  while (GetButtonCount() > 0) DeleteButton(GetButtonCount() - 1);
}

int CToolBar::CommandToIndex(CommandId id) const {
  for (int index = 0; index < GetButtonCount(); ++index) {
    if (items_[index].button != nullptr && items_[index].id == id) return index;
  }
  return -1;
}

CommandId CToolBar::GetItemID(int index) const {
  if (index < 0 || index >= GetButtonCount()) return 0;
  return items_[index].id;
}

QToolButton* CToolBar::GetButton(int index) const {
  if (index < 0 || index >= GetButtonCount()) return nullptr;
  return items_[index].button;
}

QRect CToolBar::GetItemRect(int index) const {
  if (index < 0 || index >= GetButtonCount()) return QRect();
  const Item& item = items_[index];
  return item.button != nullptr ? item.button->geometry() : item.gap->geometry();
}

void CToolBar::SetButtonSize(QSize size) {
  buttonSize_ = size;
  for (Item& item : items_) {
    if (item.button != nullptr) {
      item.button->setFixedSize(size);
      QList<QSize> sizes = item.button->icon().availableSizes();
      QSize wanted = sizes.isEmpty() ? size : sizes.front();
      item.button->setIconSize(wanted.boundedTo(size - QSize(2, 2)));
    } else {
      item.gap->setFixedHeight(std::max(1, size.height() - 4));
    }
  }
  if (CFrameWnd* frame = GetParentFrame()) frame->RecalcLayout();
}

void CToolBar::SetToolTips(const std::vector<QString>& tips) {
  std::size_t next = 0;
  for (Item& item : items_) {
    if (item.button == nullptr) continue;
    item.toolTip = next < tips.size() ? tips[next] : QString();
    ++next;
  }
}

QString CToolBar::GetToolTip(int index) const {
  if (index < 0 || index >= GetButtonCount()) return QString();
  return items_[index].toolTip;
}

int CToolBar::BarHeight() const { return buttonSize_.height() + 4; }

void CToolBar::OnUpdateCmdUI(CFrameWnd* frame) {
  for (const Item& item : items_) {
    if (item.button != nullptr) frame->UpdateCommand(item.id);
  }
}

bool CToolBar::eventFilter(QObject* watched, QEvent* event) {
  // A button's tip is the bar's, not its action's: one action serves every
  // bar and menu that carries its command.
  if (event->type() != QEvent::ToolTip) return CControlBar::eventFilter(watched, event);
  for (const Item& item : items_) {
    if (item.button != watched) continue;
    if (item.toolTip.isEmpty()) {
      QToolTip::hideText();
    } else {
      QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), item.toolTip, item.button);
    }
    return true;
  }
  return CControlBar::eventFilter(watched, event);
}

CToolBarEx::CToolBarEx(CFrameWnd* frame, QWidget* parent) : CToolBar(frame, parent) {
  SetBorders(Qt::TopEdge | Qt::BottomEdge | Qt::LeftEdge | Qt::RightEdge);
  SetBorderTrim(QMargins(1, 0, 1, 1));
}

}  // namespace tbm::ui
