// The date and time entries: the composite controls the date and time
// field editors place over a cell instead of a text box. Each shows the
// field's value as three numeric segments (day, month and year in the
// order of the database's date format; hours, minutes and seconds) with
// the format's separators between them, a spin control that steps the
// segment last focused, and a drop button that opens a month calendar or,
// for a field shown as a combo, the field's value list. The time entry
// adds a combo box for its suffix (none, "-", and the format's 24-hour,
// morning and afternoon suffixes).
//
// The value is composed back into text and read with the engine's date or
// time conversion through the document before it may be stored: the field
// editor asks Validate, then IsModified, then GetValueText.
//
// Ownership: the field editor owns the control (a child of the view) and
// deletes it; a control deleted while its pop-up is open closes the pop-up
// first, putting the input panel back as it was.
//
// One thread: the user-interface thread.
#pragma once

#include <QComboBox>
#include <QFont>
#include <QPointer>
#include <QRect>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "CmdTarget.h"
#include "MDbBlocks.h"

namespace tbm::app {

class CTBMDoc;
class CSegmentEdit;
class CSeparatorLabel;
class CSpinButton;
class CDropButton;
class CPopupWnd;

// What a field editor gives an entry when it makes one.
struct EntryCtrlSetup {
  QRect cell;                 // the cell, in the parent's coordinates
  QWidget* parent = nullptr;  // the view
  bool typing = true;         // whether typing is allowed
  bool useValueList = false;  // display style 2: the drop opens the value list
  CTBMDoc* document = nullptr;
  QFont font;           // the view's field font
  std::u16string text;  // the field's current value
  // The field's value list as its lines; nothing when it cannot be read.
  std::optional<std::vector<std::u16string>> valueList;
};

// Segment kinds. Date: day, month, year; time: seconds, minutes, hours.
constexpr int kDaySegment = 0;
constexpr int kMonthSegment = 1;
constexpr int kYearSegment = 2;
constexpr int kSecondsSegment = 0;
constexpr int kMinutesSegment = 1;
constexpr int kHoursSegment = 2;

// Asks whether to drop a change that is no date (message 5016, today's
// date as its example) or no time (5017, the time now), with OK and
// Cancel: true for OK (drop the change), false for Cancel (go on
// correcting it).
bool AskToDropInvalidChange(CTBMDoc* document, bool date);

// What the drop button opens.
enum class DropKind { kCalendar = 0, kValueList = 1 };

class CEntryCtrlBase : public QWidget, public ui::CCmdTarget {
 public:
  ~CEntryCtrlBase() override;
  CEntryCtrlBase(const CEntryCtrlBase&) = delete;
  CEntryCtrlBase& operator=(const CEntryCtrlBase&) = delete;

  // The window identifier of the control's kind (3204 date, 3205 time).
  virtual int controlId() const = 0;

  // True when the value is to be written back: a date entry always is (so a
  // stored text is rewritten in the standard form, or emptied when it is
  // not a date), a time entry once a segment or its suffix changed.
  bool IsModified() const;
  // The value to store: the standard date text, or the composed time text;
  // the empty text when every segment is empty; nothing when the composed
  // text is not a date / is an invalid time.
  virtual std::optional<std::u16string> GetValueText() = 0;
  // True when the value may be committed. Only when a segment (or the
  // suffix) changed and the composed text does not convert, asks message
  // 5016 (date) or 5017 (time) with OK and Cancel: OK drops the change (the
  // control shows its original value again) and returns true; Cancel
  // returns false and editing goes on. Every segment empty is accepted.
  virtual bool Validate() = 0;
  // True when Validate accepts without asking.
  virtual bool HoldsValidValue() const = 0;

  // A tap at point (control coordinates) as a stylus press: focuses the
  // segment there (caret at the point), steps the spin control, or opens
  // the pop-up from the strip between the spin control and the drop
  // button's right edge; a tap on the drop button toggles the pop-up.
  void TapAt(QPoint point);
  bool IsPopupOpen() const;
  // Opens the calendar or the value list (nothing without a drop button).
  // Opening lowers the input panel; closing raises it again when it was up
  // and gives the focus back to the segment last focused.
  void OpenPopup();
  void ClosePopup();

  // The parts, for the field editor and tests. Segments left to right.
  CSegmentEdit* segmentAt(int position) const { return segments_[position]; }
  CSeparatorLabel* separatorAt(int position) const { return separators_[position]; }
  CSpinButton* spinControl() const { return spin_; }
  CDropButton* dropButton() const { return drop_; }  // null for a time without list
  CPopupWnd* popup() const;                          // null while closed
  // The segment of a kind, and the segment the spin control acts on.
  CSegmentEdit* segmentOfKind(int kind) const;
  CSegmentEdit* buddy() const { return buddy_; }
  // The composed text, as GetValueText reads it.
  virtual std::u16string ComposeText() const = 0;

  // Toward the segments: a segment's range (0 to the maximum) and value,
  // setting a value (written as the kind writes it when refreshText), and
  // what the user did to a segment.
  virtual int SegmentMaximum(int kind) const = 0;
  virtual int SegmentValue(int kind) const = 0;
  void SetSegmentValue(int kind, int value, bool refreshText);
  void OnSegmentFocused(CSegmentEdit* segment);
  // The segment's text was changed by typing or editing.
  void OnSegmentEdited(CSegmentEdit* segment);
  // Up (+1) or Down (-1) in a segment: wraps from the maximum to 0 and
  // from 0 to the maximum; the value is written as a plain number.
  void StepSegment(CSegmentEdit* segment, int delta);
  // The control's menu (113 date, 112 time) at a point on the screen;
  // false when there is no frame to route its commands or no menu.
  bool ShowMenu(QPoint globalPosition);

 protected:
  CEntryCtrlBase(const EntryCtrlSetup& setup, DropKind dropKind);

  // Kind-specific parts of the rules.
  virtual void StoreSegmentValue(int kind, int value) = 0;
  virtual QString FormatSegment(int kind, int value) const = 0;
  virtual void Spin(int kind, int delta) = 0;
  virtual CPopupWnd* MakePopup() = 0;
  virtual void ApplyListItem(const std::u16string& item) = 0;
  virtual bool AlwaysModified() const = 0;
  virtual std::uint32_t MenuNumber() const = 0;
  // Called after any segment changed (the calendar follows).
  virtual void SegmentsChanged() {}
  // The control's own look.
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  // A hidden control (one its editor is letting go) keeps no pop-up open.
  void hideEvent(QHideEvent* event) override;

  // Building, for Create: a segment at a position (left to right) of a
  // kind with its length limit, in typing mode or not; the two separators;
  // the spin control and, when asked, the drop button. Each part shows the
  // control's menu on a tap-and-hold. The caller places them.
  void AddSegment(int position, int kind, int maxLength, bool typing);
  void AddSeparators(const QString& text, Qt::Alignment alignment);
  void AddSpinAndDrop(bool withDrop);
  // Whether point lies in the strip that opens the pop-up.
  bool InDropStrip(QPoint point) const;
  // Marks a change by the user.
  void MarkChanged();
  // A changed value that does not convert: asks (AskToDropInvalidChange);
  // OK puts the original value back and accepts, Cancel keeps editing.
  bool AnswerInvalidChange(bool date);
  // Shows the value the control was made with again.
  virtual void Restore() = 0;
  // The value list's items as the list pop-up shows them (as standard
  // date texts when asDates and they read as dates), or the placeholder
  // 5012 or 5013.
  struct ListItems {
    std::vector<std::u16string> items;
    bool placeholder = false;
  };
  ListItems PopupListItems(bool asDates) const;
  // The list pop-up over the value list (current selected when there),
  // giving the item chosen to ApplyListItem.
  CPopupWnd* MakeListPopup(bool asDates, const std::u16string& current);
  // A pop-up's closing, however it closed: the drop button goes up, the
  // input panel back, the focus to the segment last focused.
  void PopupClosed();

  CTBMDoc* document_;
  QFont font_;
  bool typing_;
  DropKind dropKind_;
  bool useValueList_;
  std::optional<std::vector<std::u16string>> valueList_;
  bool changed_ = false;  // a segment or the suffix changed
  std::array<CSegmentEdit*, 3> segments_{};
  std::array<CSeparatorLabel*, 2> separators_{};
  CSpinButton* spin_ = nullptr;
  CDropButton* drop_ = nullptr;
  CSegmentEdit* buddy_ = nullptr;
  QPointer<CPopupWnd> popup_;

 private:
  void WatchTapAndHold(QWidget* widget);

  bool inputPanelWasUp_ = false;
  bool destroying_ = false;
};

class CDateEntryCtrl : public CEntryCtrlBase {
 public:
  static constexpr int kControlId = 3204;

  // Null when the control cannot be made (no parent or document). At least
  // 122 pixels wide, widened to the left but not past the parent's left
  // edge; as high as the cell. Shown, with the focus on the first segment;
  // without a value list the calendar opens at once.
  static CDateEntryCtrl* Create(const EntryCtrlSetup& setup);

  int controlId() const override { return kControlId; }
  std::optional<std::u16string> GetValueText() override;
  bool Validate() override;
  bool HoldsValidValue() const override;
  std::u16string ComposeText() const override;
  int SegmentMaximum(int kind) const override;
  int SegmentValue(int kind) const override;

  // The position (0 to 2, left to right) of a segment kind.
  int PositionOf(int kind) const { return positions_[kind]; }
  // Sets day, month and year (refreshing their texts) as the user would.
  void SetDate(int day, int month, int year);
  // Today's date, and every segment emptied (the menu's commands).
  void OnToday();
  void OnClear();

 protected:
  void StoreSegmentValue(int kind, int value) override;
  QString FormatSegment(int kind, int value) const override;
  void Spin(int kind, int delta) override;
  CPopupWnd* MakePopup() override;
  void ApplyListItem(const std::u16string& item) override;
  bool AlwaysModified() const override { return true; }
  std::uint32_t MenuNumber() const override { return 113; }
  void SegmentsChanged() override;

 private:
  explicit CDateEntryCtrl(const EntryCtrlSetup& setup);
  void Build(const EntryCtrlSetup& setup);
  // Shows a read date (day, month, year) in the segments.
  void ShowDate(const MDbDateRec& date);
  void Restore() override;
  bool IsBlank() const;

  MDbDateFormat format_;
  std::array<std::int16_t, 3> values_{};   // by kind: day, month, year
  std::array<int, 3> positions_{1, 0, 2};  // by kind
  // The segments' texts and values as the control was made, for OK in
  // the invalid-date message.
  std::array<QString, 3> originalTexts_;
  std::array<std::int16_t, 3> originalValues_{};
};

class CTimeEntryCtrl : public CEntryCtrlBase {
 public:
  static constexpr int kControlId = 3205;

  // Suffix kinds.
  static constexpr int kNoSuffix = 0;
  static constexpr int kNegative = 1;
  static constexpr int kTwentyFour = 2;
  static constexpr int kMorning = 3;
  static constexpr int kAfternoon = 4;

  // Null when the control cannot be made. Wide enough for its segments,
  // separators, spin control and suffix combo (widened to the left as the
  // date entry); as high as the cell. Shown, with the focus on the hours.
  static CTimeEntryCtrl* Create(const EntryCtrlSetup& setup);

  int controlId() const override { return kControlId; }
  std::optional<std::u16string> GetValueText() override;
  bool Validate() override;
  bool HoldsValidValue() const override;
  std::u16string ComposeText() const override;
  int SegmentMaximum(int kind) const override;
  int SegmentValue(int kind) const override;

  int suffixKind() const { return suffixKind_; }
  QComboBox* suffixCombo() const { return suffix_; }
  // Chooses a suffix kind as the user would in the combo; false when the
  // format has no such suffix.
  bool ChooseSuffix(int kind);
  // The current time, and every segment emptied with no suffix.
  void OnNow();
  void OnClear();

 protected:
  void StoreSegmentValue(int kind, int value) override;
  QString FormatSegment(int kind, int value) const override;
  void Spin(int kind, int delta) override;
  CPopupWnd* MakePopup() override;
  void ApplyListItem(const std::u16string& item) override;
  bool AlwaysModified() const override { return false; }
  std::uint32_t MenuNumber() const override { return 112; }

 private:
  explicit CTimeEntryCtrl(const EntryCtrlSetup& setup);
  void Build(const EntryCtrlSetup& setup);
  // Shows text in the segments and the suffix as the time conversion reads
  // it; false when the text is not a time.
  bool ShowTime(const std::u16string& text);
  void ShowSuffix(int kind);
  void Restore() override;
  bool IsBlank() const;
  std::u16string SuffixText(int kind) const;

  MDbTimeFormat format_;
  std::array<std::int16_t, 3> values_{};  // by kind: seconds, minutes, hours
  int suffixKind_ = kNoSuffix;
  QComboBox* suffix_ = nullptr;
  std::array<QString, 3> originalTexts_;
  std::array<std::int16_t, 3> originalValues_{};
  int originalSuffix_ = kNoSuffix;
};

}  // namespace tbm::app
