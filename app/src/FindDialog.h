// The find dialog (template 2400): a field, a text, and a helper button
// beside the text that helps enter a value that fits the field: a menu of
// the field's value list (display styles 1 and 2), the check box's value
// (style 3, when the field has a value list), or a month calendar (date
// fields); none for other fields.
//
// One thread: the user-interface thread.
#pragma once

#include <QAbstractButton>
#include <QCalendarWidget>
#include <QPointer>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "RecordDialogs.h"

class QLineEdit;

namespace tbm::app {

// The find text holds at most this many characters.
constexpr int kFindTextLimit = 255;
// The first command number of the value-list menu's items.
constexpr int kFindMenuFirstCommand = 50152;

class CFindHelperButton : public QAbstractButton {
 public:
  enum class Mode { kNone = 0, kValueList = 1, kCheckValue = 2, kCalendar = 3 };
  explicit CFindHelperButton(QWidget* parent);
  Mode mode() const { return mode_; }
  void SetMode(Mode mode);
  bool checkedValue() const { return checkedValue_; }
  void SetCheckedValue(bool checked);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Mode mode_ = Mode::kNone;
  bool checkedValue_ = false;
};

class CFindDlg : public CTBMDialog {
 public:
  CFindDlg(std::uint16_t field, const std::u16string& text, CTBMDoc* document,
           QWidget* parent = nullptr);

  std::uint16_t field() const { return field_; }
  const std::u16string& text() const { return text_; }
  CFindHelperButton* helper() const;
  QLineEdit* findEdit() const;
  // The calendar while it is open, else null.
  QCalendarWidget* calendar() const { return calendar_; }
  // The value-list menu's items, as the helper offers them (for a tap on
  // the helper in mode 1 and for tests): nothing when the list is missing.
  std::optional<std::vector<std::u16string>> HelperItems() const;
  // Chooses item index of the value-list menu as a tap would.
  void ChooseHelperItem(int index);
  // A scanned label: replaces the find text while its box has the focus.
  bool AcceptScannedText(const std::u16string& label);

 protected:
  bool OnInitDialog() override;
  bool OnOK() override;
  QWidget* CreateCustomControl(std::uint16_t id, QWidget* parent) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void UpdateHelper();
  void OnHelperTapped();
  void FollowText();
  void OpenCalendar();
  void CloseCalendar();
  std::optional<std::u16string> FirstItem() const;

  CTBMDoc* document_;
  std::uint16_t field_;
  std::u16string text_;
  QPointer<QCalendarWidget> calendar_;
};

}  // namespace tbm::app
