#include "MessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QString>

#include "FrameWnd.h"
#include "Resources.h"
#include "WinApp.h"

namespace tbm::ui {

namespace {

MessageBoxAnswerer& Answerer() {
  static MessageBoxAnswerer answerer;
  return answerer;
}

// The buttons carry the language library's words rather than Qt's.
void NameButtons(QMessageBox& box) {
  const struct {
    QMessageBox::StandardButton button;
    std::uint32_t number;
    const char* english;
  } kNames[] = {{QMessageBox::Ok, AFX_IDS_BUTTON_OK, "OK"},
                {QMessageBox::Cancel, AFX_IDS_BUTTON_CANCEL, "Cancel"},
                {QMessageBox::Yes, AFX_IDS_BUTTON_YES, "Yes"},
                {QMessageBox::No, AFX_IDS_BUTTON_NO, "No"}};
  for (const auto& name : kNames) {
    if (QAbstractButton* button = box.button(name.button))
      button->setText(FrameworkText(name.number, name.english));
  }
}

}  // namespace

void SetMessageBoxAnswerer(MessageBoxAnswerer answerer) { Answerer() = std::move(answerer); }

MessageAnswer ShowMessageBox(const MessageBoxRequest& given, QWidget* parent) {
  MessageBoxRequest request = given;
  if (request.caption.empty()) request.caption = u"Tabulon Mobile";
  if (Answerer()) return Answerer()(request);

  if (parent == nullptr && CWinApp::Get() != nullptr) parent = CWinApp::Get()->mainWindow();
  QMessageBox box(parent);
  box.setWindowTitle(ToQString(request.caption));
  box.setText(ToQString(request.text));
  switch (request.icon) {
    case MessageIcon::kNone:
      box.setIcon(QMessageBox::NoIcon);
      break;
    case MessageIcon::kInformation:
      box.setIcon(QMessageBox::Information);
      break;
    case MessageIcon::kWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case MessageIcon::kError:
      box.setIcon(QMessageBox::Critical);
      break;
    case MessageIcon::kQuestion:
      box.setIcon(QMessageBox::Question);
      break;
  }
  switch (request.buttons) {
    case MessageButtons::kOk:
      box.setStandardButtons(QMessageBox::Ok);
      break;
    case MessageButtons::kOkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      break;
    case MessageButtons::kYesNo:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
      break;
    case MessageButtons::kYesNoCancel:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
      break;
  }
  NameButtons(box);
  switch (box.exec()) {
    case QMessageBox::Ok:
      return MessageAnswer::kOk;
    case QMessageBox::Yes:
      return MessageAnswer::kYes;
    case QMessageBox::No:
      return MessageAnswer::kNo;
    default:
      return MessageAnswer::kCancel;
  }
}

CWaitCursor::CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }

CWaitCursor::~CWaitCursor() { QApplication::restoreOverrideCursor(); }

}  // namespace tbm::ui
