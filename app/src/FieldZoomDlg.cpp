#include "FieldZoomDlg.h"

#include <QEvent>
#include <QLabel>
#include <QTextCursor>

#include "FieldEdit.h"
#include "InputPanel.h"
#include "MainFrame.h"
#include "Resources.h"

namespace tbm::app {

namespace {

constexpr std::uint16_t kNameLabel = 2801;
constexpr std::uint16_t kEditPlace = 2802;
constexpr int kHelpContents = 0;

}  // namespace

CFieldZoomDlg::CFieldZoomDlg(const std::u16string& text, const std::u16string& name,
                             const QFont& font, bool capitalise, bool readOnly, int minimumHeight,
                             QWidget* parent)
    : CTBMDialog(2800, kHelpContents, parent),
      text_(text),
      name_(name),
      font_(font),
      capitalise_(capitalise),
      readOnly_(readOnly),
      minimumHeight_(minimumHeight) {}

QWidget* CFieldZoomDlg::CreateCustomControl(std::uint16_t id, QWidget* parent) {
  if (id != kEditPlace) return nullptr;
  edit_ = new CFieldEdit(parent);
  edit_->setObjectName(QStringLiteral("zoomEdit"));
  edit_->setFont(font_);
  edit_->document()->setDefaultFont(font_);
  edit_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  edit_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  edit_->setReadOnly(readOnly_);
  edit_->SetCapitalise(capitalise_ && !readOnly_);
  edit_->setMinimumHeight(minimumHeight_);
  edit_->SetValue(text_);
  edit_->installEventFilter(this);
  return edit_;
}

QLabel* CFieldZoomDlg::nameLabel() const { return Item<QLabel>(kNameLabel); }

bool CFieldZoomDlg::OnInitDialog() {
  if (QLabel* label = nameLabel()) label->setText(ui::ToQString(name_));
  if (edit_ == nullptr) return false;
  edit_->setFocus();
  return true;
}

bool CFieldZoomDlg::OnOK() {
  if (edit_ != nullptr) text_ = edit_->Value();
  return true;
}

bool CFieldZoomDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_) {
    if (event->type() == QEvent::FocusIn) {
      // The caret goes to the end, in view, and the input panel comes up
      // (and stays up when the focus moves on).
      QTextCursor cursor = edit_->textCursor();
      cursor.movePosition(QTextCursor::End);
      edit_->setTextCursor(cursor);
      edit_->ensureCursorVisible();
      if (!edit_->isReadOnly()) ui::CInputPanel::Get().Show(true);
    } else if (event->type() == QEvent::FocusOut) {
      text_ = edit_->Value();
    }
  }
  return CTBMDialog::eventFilter(watched, event);
}

bool CFieldZoomDlg::AcceptScannedText(const std::u16string& label) {
  if (label.empty() || edit_ == nullptr || edit_->isReadOnly() || !edit_->hasFocus()) return false;
  edit_->ReplaceAllSelected(label);
  return true;
}

}  // namespace tbm::app
