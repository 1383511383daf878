// The pieces a date or time entry (DateTimeEntry.h) is built of: the
// numeric segments, the separator labels between them, the spin control
// and the drop button. Each piece only shows its state and reports input to
// its owner; the owner keeps the values and applies the rules of its kind.
//
// One thread: the user-interface thread.
#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace tbm::app {

class CEntryCtrlBase;

// Days of month (1 to 12) in year by the Gregorian rule; 31 for any other
// month, so a day segment always has a range.
int DaysInMonth(int month, int year);

// One numeric segment of an entry: a day, month or year of a date
// (kinds 0, 1, 2) or the seconds, minutes or hours of a time (kinds 0, 1,
// 2). It takes digits only, never pasted or dropped text.
//
// In typing mode (date segments) a digit is appended to the text when the
// number it makes lies within the segment's range and the text within its
// length, else the digit alone is taken when within range, else ignored;
// every other character (backspace too) is swallowed, so a new digit
// always overwrites sensibly. Outside typing mode the text is edited as
// usual. Up and Down step the value with wrapping; a tap-and-hold or a
// right click asks the owner for its menu.
class CSegmentEdit : public QLineEdit {
 public:
  CSegmentEdit(CEntryCtrlBase* owner, int kind, int maxLength, bool typing);

  int kind() const { return kind_; }
  bool typingMode() const { return typing_; }
  // Shows whether the spin control acts on this segment.
  void SetBuddy(bool buddy);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // The typing rule for one digit.
  void TypeDigit(QChar digit);

  CEntryCtrlBase* owner_;
  int kind_;
  bool typing_;
  QColor normalBase_;
};

// The fixed text between two segments; a tap-and-hold on it asks the
// owner for its menu.
class CSeparatorLabel : public QLabel {
 public:
  CSeparatorLabel(CEntryCtrlBase* owner, const QString& text, Qt::Alignment alignment);

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  CEntryCtrlBase* owner_;
};

// The spin control: an up half and a down half, each stepping by one on a
// tap and again and again while held. It reports the step; the owner
// applies it to the segment last focused, with the wrapping of its kind.
class CSpinButton : public QWidget {
 public:
  CSpinButton(QWidget* parent, std::function<void(int delta)> onStep);

  // A tap at point: +1 in the upper half, -1 in the lower.
  void StepAt(QPoint point);
  // The half held down: 1 up, -1 down, 0 none.
  int pressed() const { return pressed_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int HalfAt(QPoint point) const;

  std::function<void(int)> onStep_;
  QTimer repeat_;
  int pressed_ = 0;
};

// The drop button: drawn as a button that looks pressed while the pop-up
// it stands for is open. A tap toggles it.
class CDropButton : public QWidget {
 public:
  CDropButton(QWidget* parent, std::function<void()> onToggle);

  bool state() const { return state_; }
  void SetState(bool on);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  std::function<void()> onToggle_;
  bool state_ = false;
};

}  // namespace tbm::app
