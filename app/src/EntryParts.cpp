#include "EntryParts.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyleOption>
#include <algorithm>

#include "DateTimeEntry.h"

namespace tbm::app {

namespace {

// The spin control repeats after being held this long, then this often.
constexpr int kRepeatDelayMs = 400;
constexpr int kRepeatIntervalMs = 100;

// Keys a segment in typing mode leaves to the line edit or its parent:
// moving the caret, deleting with Delete, and leaving the segment.
bool PassesThroughTyping(int key) {
  switch (key) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      return true;
    default:
      return false;
  }
}

bool IsAsciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// A bevelled button with a solid arrow, raised or pressed. The arrow is
// drawn here rather than by the style: the style's arrows fade to nothing
// in halves a few pixels high.
void DrawArrowButton(QWidget* widget, QPainter* painter, const QRect& rect, bool pressed, bool up) {
  QStyleOptionButton panel;
  panel.initFrom(widget);
  panel.rect = rect;
  panel.state |= pressed ? QStyle::State_Sunken : QStyle::State_Raised;
  widget->style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &panel, painter, widget);
  const int half = std::max(1, std::min((rect.width() - 4) / 2, rect.height() - 4));
  const int base = std::max(1, std::min(half, 3));
  QPointF centre = QRectF(rect).center();
  if (pressed) centre += QPointF(1, 1);
  const qreal tip = up ? -base / 2.0 : base / 2.0;
  const QPointF arrow[3] = {QPointF(centre.x() - base, centre.y() - tip),
                            QPointF(centre.x() + base + 1, centre.y() - tip),
                            QPointF(centre.x() + 0.5, centre.y() + tip)};
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, false);
  painter->setPen(Qt::NoPen);
  painter->setBrush(widget->palette().color(
      widget->isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
  painter->drawPolygon(arrow, 3);
  painter->restore();
}

}  // namespace

int DaysInMonth(int month, int year) {
  switch (month) {
    case 4:
    case 6:
    case 9:
    case 11:
      return 30;
    case 2: {
      const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
      return leap ? 29 : 28;
    }
    default:
      return 31;
  }
}

// ---- CSegmentEdit ----

CSegmentEdit::CSegmentEdit(CEntryCtrlBase* owner, int kind, int maxLength, bool typing)
    : QLineEdit(owner), owner_(owner), kind_(kind), typing_(typing) {
  setFrame(false);
  setTextMargins(0, 0, 0, 0);
  setContentsMargins(0, 0, 0, 0);
  setMaxLength(maxLength);
  setAlignment(Qt::AlignCenter);
  setDragEnabled(false);
  setAcceptDrops(false);
  // Digits only, whatever way text arrives; typing mode takes them one
  // at a time through its rule and never through an input method.
  setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
  setInputMethodHints(Qt::ImhDigitsOnly);
  if (typing_) setAttribute(Qt::WA_InputMethodEnabled, false);
  connect(this, &QLineEdit::textEdited, this, [this] { owner_->OnSegmentEdited(this); });
  normalBase_ = palette().color(QPalette::Base);
}

void CSegmentEdit::SetBuddy(bool buddy) {
  QPalette colours = palette();
  QColor base = normalBase_;
  if (buddy) {
    // A pale tint of the selection colour marks the segment the spin acts on.
    const QColor mark = colours.color(QPalette::Active, QPalette::Highlight);
    base = QColor((mark.red() + 3 * base.red()) / 4, (mark.green() + 3 * base.green()) / 4,
                  (mark.blue() + 3 * base.blue()) / 4);
  }
  colours.setColor(QPalette::Base, base);
  setPalette(colours);
}

void CSegmentEdit::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
    owner_->StepSegment(this, event->key() == Qt::Key_Up ? 1 : -1);
    event->accept();
    return;
  }
  const QString text = event->text();
  if (typing_) {
    if (text.size() == 1 && IsAsciiDigit(text[0]) &&
        !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      if (!isReadOnly()) TypeDigit(text[0]);
      event->accept();
      return;
    }
    if (!PassesThroughTyping(event->key())) {
      event->accept();  // every other character, backspace and shortcuts too
      return;
    }
  } else if (text.size() == 1 && text[0].isLetter()) {
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void CSegmentEdit::TypeDigit(QChar digit) {
  const int maximum = owner_->SegmentMaximum(kind_);
  const QString appended = text() + digit;
  bool number = false;
  const int value = appended.toInt(&number);
  if (appended.size() <= maxLength() && number && value <= maximum) {
    setText(appended);
  } else if (digit.digitValue() <= maximum) {
    setText(QString(digit));
  } else {
    return;
  }
  owner_->OnSegmentEdited(this);
}

void CSegmentEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  owner_->OnSegmentFocused(this);
}

void CSegmentEdit::contextMenuEvent(QContextMenuEvent* event) {
  owner_->ShowMenu(event->globalPos());
  event->accept();
}

// ---- CSeparatorLabel ----

CSeparatorLabel::CSeparatorLabel(CEntryCtrlBase* owner, const QString& text,
                                 Qt::Alignment alignment)
    : QLabel(owner), owner_(owner) {
  setTextFormat(Qt::PlainText);
  setText(text);
  setAlignment(alignment | Qt::AlignVCenter);
  setContentsMargins(0, 0, 0, 0);
}

void CSeparatorLabel::contextMenuEvent(QContextMenuEvent* event) {
  owner_->ShowMenu(event->globalPos());
  event->accept();
}

// ---- CSpinButton ----

CSpinButton::CSpinButton(QWidget* parent, std::function<void(int delta)> onStep)
    : QWidget(parent), onStep_(std::move(onStep)) {
  setFocusPolicy(Qt::NoFocus);
  repeat_.setInterval(kRepeatDelayMs);
  connect(&repeat_, &QTimer::timeout, this, [this] {
    repeat_.setInterval(kRepeatIntervalMs);
    if (pressed_ != 0) onStep_(pressed_);
  });
}

int CSpinButton::HalfAt(QPoint point) const { return point.y() < height() / 2 ? 1 : -1; }

void CSpinButton::StepAt(QPoint point) { onStep_(HalfAt(point)); }

void CSpinButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const int half = height() / 2;
  DrawArrowButton(this, &painter, QRect(0, 0, width(), half), pressed_ == 1, true);
  DrawArrowButton(this, &painter, QRect(0, half, width(), height() - half), pressed_ == -1, false);
}

void CSpinButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  pressed_ = HalfAt(event->position().toPoint());
  update();
  repeat_.setInterval(kRepeatDelayMs);
  repeat_.start();
  onStep_(pressed_);
}

void CSpinButton::mouseReleaseEvent(QMouseEvent* event) {
  repeat_.stop();
  pressed_ = 0;
  update();
  QWidget::mouseReleaseEvent(event);
}

// ---- CDropButton ----

CDropButton::CDropButton(QWidget* parent, std::function<void()> onToggle)
    : QWidget(parent), onToggle_(std::move(onToggle)) {
  setFocusPolicy(Qt::NoFocus);
}

void CDropButton::SetState(bool on) {
  if (on == state_) return;
  state_ = on;
  update();
}

void CDropButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  DrawArrowButton(this, &painter, rect(), state_, false);
}

void CDropButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  event->accept();
  onToggle_();
}

}  // namespace tbm::app
