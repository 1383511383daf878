#include "StatusBar.h"

#include <QFontMetrics>
#include <QPainter>
#include <algorithm>

#include "FrameWnd.h"
#include "Resources.h"

namespace tbm::ui {

namespace {

// A pane's user interface as its update handler leaves it.
class CStatusCmdUI : public CCmdUI {
 public:
  CStatusCmdUI(CommandId id, CStatusBar* bar, int index) : CCmdUI(id), bar_(bar), index_(index) {}

  void SetText(const std::u16string& text) override {
    CCmdUI::SetText(text);
    bar_->SetPaneText(index_, ToQString(text));
  }

 private:
  CStatusBar* bar_;
  int index_;
};

}  // namespace

CStatusBar::CStatusBar(QWidget* parent) : CControlBar(parent) { SetBorders(Qt::BottomEdge); }

CStatusBar::~CStatusBar() = default;

void CStatusBar::SetIndicators(std::span<const CommandId> ids) {
  panes_.clear();
  for (CommandId id : ids) panes_.push_back(StatusPane{id, 0, false, QString(), true});
  update();
}

int CStatusBar::CommandToIndex(CommandId id) const {
  for (int index = 0; index < GetCount(); ++index) {
    if (panes_[index].id == id) return index;
  }
  return -1;
}

void CStatusBar::SetPaneInfo(int index, CommandId id, int width, bool stretch) {
  if (index < 0 || index >= GetCount()) return;
  panes_[index].id = id;
  panes_[index].width = std::max(0, width);
  panes_[index].stretch = stretch;
  update();
}

void CStatusBar::SetPaneWidth(int index, int width) {
  if (index < 0 || index >= GetCount() || panes_[index].width == std::max(0, width)) return;
  panes_[index].width = std::max(0, width);
  update();
}

void CStatusBar::SetPaneText(int index, const QString& text) {
  if (index < 0 || index >= GetCount() || panes_[index].text == text) return;
  panes_[index].text = text;
  update();
}

QString CStatusBar::GetPaneText(int index) const {
  if (index < 0 || index >= GetCount()) return QString();
  return panes_[index].text;
}

QRect CStatusBar::GetItemRect(int index) const {
  if (index < 0 || index >= GetCount()) return QRect();
  int fixed = 0;
  int stretching = 0;
  for (const StatusPane& pane : panes_) {
    if (pane.stretch) {
      ++stretching;
    } else {
      fixed += pane.width;
    }
  }
  QRect inside = InsideBorders();
  int spare = std::max(0, inside.width() - fixed);
  int left = inside.left();
  int stretchSeen = 0;
  for (int i = 0; i <= index; ++i) {
    const StatusPane& pane = panes_[i];
    int paneWidth = pane.width;
    if (pane.stretch) {
      // Equal shares of the spare width, the remainder to the last ones.
      int before = spare * stretchSeen / stretching;
      int upTo = spare * (stretchSeen + 1) / stretching;
      paneWidth = std::max(pane.width, upTo - before);
      ++stretchSeen;
    }
    if (i == index) {
      int right = std::min(left + paneWidth, inside.right() + 1);
      if (right <= left) return QRect();
      return QRect(left, inside.top(), right - left, inside.height());
    }
    left += paneWidth;
  }
  return QRect();
}

int CStatusBar::BarHeight() const { return std::max(16, QFontMetrics(font()).height() + 3); }

void CStatusBar::OnUpdateCmdUI(CFrameWnd* frame) {
  for (int index = 0; index < GetCount(); ++index) {
    CStatusCmdUI ui(panes_[index].id, this, index);
    bool known = frame->RouteUpdate(&ui);
    panes_[index].enabled = ui.enabled();
    // A pane no target knows shows nothing rather than what it last had.
    if (!known) SetPaneText(index, QString());
  }
}

void CStatusBar::DrawItem(QPainter& painter, int index, const QRect& rect) {
  QRect inside = rect.adjusted(2, 0, -2, 0);
  QString text =
      painter.fontMetrics().elidedText(GetPaneText(index), Qt::ElideRight, inside.width());
  painter.drawText(inside, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text);
}

void CStatusBar::paintEvent(QPaintEvent* event) {
  CControlBar::paintEvent(event);
  QPainter painter(this);
  for (int index = 0; index < GetCount(); ++index) {
    QRect rect = GetItemRect(index);
    if (rect.isEmpty()) continue;
    painter.save();
    painter.setClipRect(rect);
    painter.setFont(font());
    painter.setPen(palette().color(QPalette::ButtonText));
    DrawItem(painter, index, rect);
    painter.restore();
  }
}

}  // namespace tbm::ui
