#include "ControlBar.h"

#include <QPainter>

#include "FrameWnd.h"

namespace tbm::ui {

CControlBar::CControlBar(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(false);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

CControlBar::~CControlBar() = default;

void CControlBar::SetBorders(Qt::Edges edges) {
  borders_ = edges;
  update();
}

void CControlBar::SetBorderTrim(QMargins trim) {
  borderTrim_ = trim;
  if (CFrameWnd* frame = GetParentFrame()) frame->RecalcLayout();
}

QRect CControlBar::InsideBorders() const {
  return rect().adjusted((borders_ & Qt::LeftEdge) ? 1 : 0, (borders_ & Qt::TopEdge) ? 1 : 0,
                         (borders_ & Qt::RightEdge) ? -1 : 0, (borders_ & Qt::BottomEdge) ? -1 : 0);
}

int CControlBar::BarHeight() const { return sizeHint().height(); }

void CControlBar::OnUpdateCmdUI(CFrameWnd*) {}

CFrameWnd* CControlBar::GetParentFrame() const {
  for (QWidget* widget = parentWidget(); widget != nullptr; widget = widget->parentWidget()) {
    if (auto* frame = dynamic_cast<CFrameWnd*>(widget)) return frame;
  }
  return nullptr;
}

void CControlBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().button());
  painter.setPen(palette().color(QPalette::Dark));
  QRect box = rect();
  if (borders_ & Qt::TopEdge) painter.drawLine(box.topLeft(), box.topRight());
  if (borders_ & Qt::BottomEdge) painter.drawLine(box.bottomLeft(), box.bottomRight());
  if (borders_ & Qt::LeftEdge) painter.drawLine(box.topLeft(), box.bottomLeft());
  if (borders_ & Qt::RightEdge) painter.drawLine(box.topRight(), box.bottomRight());
}

void CControlBar::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (CFrameWnd* frame = GetParentFrame()) OnUpdateCmdUI(frame);
}

}  // namespace tbm::ui
