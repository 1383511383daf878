#include "FieldZoomDlg.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QLabel>
#include <QPushButton>
#include <QTextCursor>

#include "FieldEdit.h"
#include "InputPanel.h"
#include "Resources.h"
#include "Screen.h"

namespace tbm::app {

namespace {

// Gaps of the layout, in pixels: the box starts this far below the label
// and stays this far inside the dialog's edges.
constexpr int kBelowLabel = 4;
constexpr int kInside = 2;

}  // namespace

CFieldZoomDlg::CFieldZoomDlg(const std::u16string& text, const std::u16string& name,
                             const QFont& font, bool capitalise, bool readOnly, int minimumHeight,
                             QWidget* parent)
    : QDialog(parent), text_(text) {
  setObjectName(QStringLiteral("fieldZoomDialog"));
  panelWasUp_ = ui::CInputPanel::Get().IsShown();
  setWindowTitle(ui::LoadQString(0xE000));
  label_ = new QLabel(ui::ToQString(name), this);
  label_->setObjectName(QStringLiteral("zoomName"));
  label_->setTextFormat(Qt::PlainText);
  QFont bold = label_->font();
  bold.setBold(true);
  label_->setFont(bold);

  edit_ = new CFieldEdit(this);
  edit_->setObjectName(QStringLiteral("zoomEdit"));
  edit_->setFont(font);
  edit_->document()->setDefaultFont(font);
  edit_->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  edit_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  edit_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  edit_->setReadOnly(readOnly);
  edit_->SetCapitalise(capitalise && !readOnly);
  edit_->setMinimumHeight(minimumHeight);
  edit_->SetValue(text);
  edit_->installEventFilter(this);

  buttons_ = new QDialogButtonBox(this);
  buttons_->addButton(ui::FrameworkText(ui::AFX_IDS_BUTTON_OK, "OK"), QDialogButtonBox::AcceptRole);
  buttons_->addButton(ui::FrameworkText(ui::AFX_IDS_BUTTON_CANCEL, "Cancel"),
                      QDialogButtonBox::RejectRole);
  connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);

  // The dialog takes the whole screen, as the handheld's dialogs do.
  resize(ui::ScreenSize());
  connect(&ui::CInputPanel::Get(), &ui::CInputPanel::changed, this, [this] { LayOut(); });
  LayOut();
  edit_->setFocus();
}

void CFieldZoomDlg::LayOut() {
  const int width = this->width();
  const QSize labelSize = label_->sizeHint();
  label_->setGeometry(kInside, kInside, width - 2 * kInside, labelSize.height());
  const int buttonsHeight = buttons_->sizeHint().height();
  // The box ends above the input panel while it is up.
  int bottom = height() - kInside - buttonsHeight - kInside;
  if (ui::CInputPanel::Get().IsShown()) bottom -= ui::CInputPanel::kHeight;
  const int top = label_->geometry().bottom() + 1 + kBelowLabel;
  edit_->setGeometry(kInside, top, width - 2 * kInside,
                     std::max(bottom - top, edit_->minimumHeight()));
  buttons_->setGeometry(kInside, edit_->geometry().bottom() + 1 + kInside, width - 2 * kInside,
                        buttonsHeight);
}

void CFieldZoomDlg::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  LayOut();
}

bool CFieldZoomDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == edit_) {
    if (event->type() == QEvent::FocusIn) {
      // The caret goes to the end, in view, and the input panel comes up.
      QTextCursor cursor = edit_->textCursor();
      cursor.movePosition(QTextCursor::End);
      edit_->setTextCursor(cursor);
      edit_->ensureCursorVisible();
      if (!edit_->isReadOnly()) ui::CInputPanel::Get().Show(true);
    } else if (event->type() == QEvent::FocusOut) {
      text_ = edit_->Value();
    }
  }
  return QDialog::eventFilter(watched, event);
}

bool CFieldZoomDlg::AcceptScannedText(const std::u16string& label) {
  if (label.empty() || edit_->isReadOnly() || !edit_->hasFocus()) return false;
  edit_->ReplaceAllSelected(label);
  return true;
}

void CFieldZoomDlg::accept() {
  text_ = edit_->Value();
  QDialog::accept();
}

void CFieldZoomDlg::done(int result) {
  ui::CInputPanel::Get().Show(panelWasUp_);
  QDialog::done(result);
}

}  // namespace tbm::app
