// CFieldZoomDlg: the field editing dialog a zoom box opens. It shows the
// field's name over a large multi-line box holding its value, which fills
// the dialog down to the input panel; the box is read-only for a field
// whose entry is locked. OK gives the edited text back.
//
// One thread: the user-interface thread.
#pragma once

#include <QDialog>
#include <QFont>
#include <cstdint>
#include <string>

class QLabel;
class QDialogButtonBox;

namespace tbm::app {

class CFieldEdit;

// Control identifiers of the dialog's layout (its template is 2800).
constexpr std::uint16_t kZoomDialogTemplate = 2800;
constexpr std::uint16_t kZoomNameLabel = 2801;
constexpr std::uint16_t kZoomEdit = 2802;

class CFieldZoomDlg : public QDialog {
 public:
  CFieldZoomDlg(const std::u16string& text, const std::u16string& name, const QFont& font,
                bool capitalise, bool readOnly, int minimumHeight, QWidget* parent = nullptr);

  // The text as the dialog ended (the text given until OK).
  const std::u16string& text() const { return text_; }
  CFieldEdit* edit() const { return edit_; }
  QLabel* nameLabel() const { return label_; }

  // A scanned label replaces the whole text while the box has the focus.
  bool AcceptScannedText(const std::u16string& label);

  void accept() override;
  // Closing puts the input panel back as it was when the dialog opened.
  void done(int result) override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void LayOut();

  std::u16string text_;
  QLabel* label_ = nullptr;
  CFieldEdit* edit_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
  bool panelWasUp_ = false;
};

}  // namespace tbm::app
