// CFieldZoomDlg: the field editing dialog a zoom box opens (template
// 2800). It shows the field's name over a large multi-line box holding its
// value, which fills the dialog down to its command bar (above the input
// panel while that is up); the box is read-only for a field whose entry is
// locked. OK gives the edited text back.
//
// One thread: the user-interface thread.
#pragma once

#include <QFont>
#include <cstdint>
#include <string>

#include "RecordDialogs.h"

class QLabel;

namespace tbm::app {

class CFieldEdit;

class CFieldZoomDlg : public CTBMDialog {
 public:
  CFieldZoomDlg(const std::u16string& text, const std::u16string& name, const QFont& font,
                bool capitalise, bool readOnly, int minimumHeight, QWidget* parent = nullptr);

  // The text as the dialog ended (the text given until OK).
  const std::u16string& text() const { return text_; }
  CFieldEdit* edit() const { return edit_; }
  QLabel* nameLabel() const;

  // A scanned label replaces the whole text while the box has the focus.
  bool AcceptScannedText(const std::u16string& label);

 protected:
  bool OnInitDialog() override;
  bool OnOK() override;
  QWidget* CreateCustomControl(std::uint16_t id, QWidget* parent) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::u16string text_;
  std::u16string name_;
  QFont font_;
  bool capitalise_;
  bool readOnly_;
  int minimumHeight_;
  CFieldEdit* edit_ = nullptr;
};

}  // namespace tbm::app
