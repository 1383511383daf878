// The pop-ups a date or time entry drops from its drop button: a month
// calendar, or the field's value list. Each is a bordered pop-up window on
// top of everything, placed against its entry on the handheld's screen (the
// program's window): a tap outside it closes it, as do Enter and Escape.
//
// One thread: the user-interface thread.
#pragma once

#include <QCalendarWidget>
#include <QDate>
#include <QFrame>
#include <QListWidget>
#include <QPointer>
#include <functional>
#include <string>
#include <vector>

namespace tbm::app {

// The pop-up base: a bordered pop-up window that tells its owner once when
// it closes, however it closed. A tap outside closes it; when that tap
// falls on area (in global coordinates, the drop button that opened it)
// it is not passed on, so the same tap does not open it again.
class CPopupWnd : public QFrame {
 public:
  CPopupWnd(QWidget* owner, std::function<void()> onClosed);

  void SetNoReplayArea(const QRect& area) { noReplayArea_ = area; }
  // Places a pop-up of size against anchor (global coordinates) on the
  // screen: below it overlapping its bottom edge by a pixel, or above it
  // overlapping its top edge when it would pass the screen's bottom;
  // right-aligned with the anchor unless rightAligned is false or that
  // would start left of the screen.
  void PlaceAgainst(const QRect& anchor, QSize size, bool rightAligned);
  // The screen a pop-up must stay on: the program's window holding owner.
  static QRect ScreenRect(const QWidget* owner);

 protected:
  void hideEvent(QHideEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QPointer<QWidget> owner_;
  std::function<void()> onClosed_;
  QRect noReplayArea_;
  bool notified_ = false;
};

// The month calendar. Its selection starts on the entry's date; moving the
// selection reports each day at once (onSelected), choosing a day (a tap
// or Enter) reports it and closes the pop-up.
class CCalendarPopup : public CPopupWnd {
 public:
  CCalendarPopup(QWidget* owner, const QFont& font, QDate initial,
                 std::function<void(QDate)> onSelected, std::function<void()> onClosed);

  QCalendarWidget* calendar() const { return calendar_; }
  // Moves the selection without reporting it (the entry's segments changed).
  void Follow(QDate date);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QCalendarWidget* calendar_;
  std::function<void(QDate)> onSelected_;
  bool following_ = false;
};

// The value list: the items as given, "-" as a separator line, or one
// placeholder that cannot be chosen. Keys move the selection; a tap on an
// item or Enter on the selected one reports it (onChosen) after the pop-up
// closed; Escape closes it without choosing.
class CListPopup : public CPopupWnd {
 public:
  CListPopup(QWidget* owner, const QFont& font, const std::vector<std::u16string>& items,
             bool placeholder, const std::u16string& current,
             std::function<void(const std::u16string&)> onChosen, std::function<void()> onClosed);

  QListWidget* list() const { return list_; }
  // The height a list of count items wants.
  int WantedHeight() const;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Choose(QListWidgetItem* item);

  QListWidget* list_;
  std::function<void(const std::u16string&)> onChosen_;
};

}  // namespace tbm::app
