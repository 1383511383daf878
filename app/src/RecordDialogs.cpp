#include "RecordDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "FindDialog.h"
#include "FrameWnd.h"
#include "MainFrame.h"
#include "Resources.h"
#include "ScannerLibrary.h"
#include "TBMApp.h"
#include "ViewOptionsDlg.h"

namespace tbm::app {

namespace {

constexpr std::uint32_t kSortOrders = 5004;
constexpr std::uint32_t kGoToText = 5005;
constexpr std::uint32_t kDeleteTexts = 5006;   // + mode - 1
constexpr std::uint32_t kDeleteTitles = 5009;  // + mode - 1
constexpr int kGoToDigits = 4;

}  // namespace

CTBMDialog::CTBMDialog(std::uint32_t templateId, int helpCode, QWidget* parent)
    : ui::CDialog(templateId, parent), helpCode_(helpCode) {}

void CTBMDialog::OnHelp() { ShowHelp(helpCode_); }

void CTBMDialog::changeEvent(QEvent* event) {
  ui::CDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange) ScannerFollowsActivation(isActiveWindow());
}

void FillFieldNames(QComboBox* combo, CTBMDoc* document) {
  if (combo == nullptr || document == nullptr) return;
  combo->clear();
  const int count = document->GetFieldCount();
  for (int field = 0; field < count; ++field)
    combo->addItem(ui::ToQString(document->GetFieldName(static_cast<std::int16_t>(field))));
}

void FillFromStringList(QComboBox* combo, std::uint32_t number) {
  if (combo == nullptr) return;
  combo->clear();
  for (const QString& item : ui::LoadQString(number).split(u','))
    if (!item.trimmed().isEmpty()) combo->addItem(item.trimmed());
}

// ---- sort ----

CSortDlg::CSortDlg(CTBMDoc* document, QWidget* parent)
    : CTBMDialog(2500, kHelpSortRecords, parent), document_(document) {}

bool CSortDlg::OnInitDialog() {
  FillFieldNames(Item<QComboBox>(2502), document_);
  FillFromStringList(Item<QComboBox>(2503), kSortOrders);
  if (auto* fields = Item<QComboBox>(2502)) fields->setCurrentIndex(field_);
  if (auto* orders = Item<QComboBox>(2503)) orders->setCurrentIndex(ascending_ ? 0 : 1);
  return true;
}

bool CSortDlg::OnOK() {
  if (auto* fields = Item<QComboBox>(2502))
    field_ = static_cast<std::int16_t>(fields->currentIndex());
  if (auto* orders = Item<QComboBox>(2503)) ascending_ = orders->currentIndex() <= 0;
  return field_ >= 0;
}

// ---- go to record ----

CGoToRecordDlg::CGoToRecordDlg(CTBMDoc* document, QWidget* parent)
    : CTBMDialog(2600, kHelpViewRecords, parent),
      document_(document),
      record_(document != nullptr ? document->GetRecordIndex() : -1) {}

bool CGoToRecordDlg::OnInitDialog() {
  const int count = document_ != nullptr ? document_->GetRecordCount() : 0;
  if (auto* text = Item<QLabel>(2602))
    text->setText(ui::FormatResourceMessage(kGoToText, {res::MessageArgument::Number(count)}));
  if (auto* edit = Item<QLineEdit>(2603)) {
    edit->setMaxLength(kGoToDigits);
    // Digits with a sign, as many as the box holds.
    edit->setValidator(new QIntValidator(-999, 9999, edit));
    edit->setText(QString::number(record_ >= 0 && record_ < count ? record_ + 1 : 0));
    edit->selectAll();
    edit->setFocus();
  }
  return true;
}

bool CGoToRecordDlg::OnOK() {
  const int count = document_ != nullptr ? document_->GetRecordCount() : 0;
  auto* edit = Item<QLineEdit>(2603);
  bool number = false;
  // Nothing or a lone sign counts as 0: clamped like any number below 1.
  const int typed = edit != nullptr ? edit->text().toInt(&number) : 0;
  const int clamped = std::clamp(number ? typed : 0, 1, std::max(count, 1));
  record_ = static_cast<std::int16_t>(clamped - 1);
  return true;
}

// ---- delete confirmation ----

CDeleteConfirmDlg::CDeleteConfirmDlg(DeleteMode mode, QWidget* parent)
    : CTBMDialog(2700, kHelpDeleteDatabase, parent), mode_(mode) {}

bool CDeleteConfirmDlg::OnInitDialog() {
  const auto offset = static_cast<std::uint32_t>(mode_) - 1;
  if (auto* title = Item<QLabel>(2701)) title->setText(ui::LoadQString(kDeleteTitles + offset));
  if (auto* text = Item<QLabel>(2702)) text->setText(ui::LoadQString(kDeleteTexts + offset));
  if (auto* box = Item<QCheckBox>(2703)) {
    box->setChecked(false);
    box->setEnabled(true);
  }
  return true;
}

bool CDeleteConfirmDlg::OnOK() {
  if (auto* box = Item<QCheckBox>(2703)) checked_ = box->isChecked();
  return true;
}

// ---- about ----

CAboutDlg::CAboutDlg(QWidget* parent) : CTBMDialog(100, kHelpAbout, parent) {}

QString CAboutDlg::VersionText() {
  return QStringLiteral("v%1.%2.%3.%4")
      .arg(kVersionMajor)
      .arg(kVersionMinor)
      .arg(kVersionBuild)
      .arg(kVersionRevision);
}

bool CAboutDlg::OnInitDialog() {
  if (auto* version = Item<QLabel>(2000)) version->setText(VersionText());
  return true;
}

// ---- the document's requests ----

namespace {

QWidget* MainWindow() {
  ui::CWinApp* app = ui::CWinApp::Get();
  return app != nullptr ? app->mainWindow() : nullptr;
}

CTBMDoc* ActiveDocument() {
  ui::CWinApp* app = ui::CWinApp::Get();
  if (app == nullptr || app->mainWindow() == nullptr) return nullptr;
  return dynamic_cast<CTBMDoc*>(app->mainWindow()->GetActiveDocument());
}

}  // namespace

DocumentRequests DialogRequests() {
  DocumentRequests requests;
  requests.find = [](const FindRequest& last) -> std::optional<FindRequest> {
    CFindDlg dialog(last.field, last.text, ActiveDocument(), MainWindow());
    if (dialog.DoModal() != ui::IDOK) return std::nullopt;
    return FindRequest{dialog.field(), dialog.text()};
  };
  requests.sort = []() -> std::optional<SortRequest> {
    CSortDlg dialog(ActiveDocument(), MainWindow());
    if (dialog.DoModal() != ui::IDOK) return std::nullopt;
    return SortRequest{dialog.field(), !dialog.ascending()};
  };
  requests.goTo = [](std::uint16_t) -> std::optional<std::int16_t> {
    CGoToRecordDlg dialog(ActiveDocument(), MainWindow());
    if (dialog.DoModal() != ui::IDOK) return std::nullopt;
    return dialog.record();
  };
  requests.viewOptions = [](OptionsPage page,
                            std::int16_t field) -> std::optional<ViewOptionsChanges> {
    CTBMDoc* document = ActiveDocument();
    if (document == nullptr) return std::nullopt;
    CViewOptionsDlg sheet(page, field, document, MainWindow());
    if (sheet.DoModal() != ui::IDOK) return std::nullopt;
    return sheet.Changes();
  };
  requests.confirmDelete = [](DeleteMode mode) -> std::optional<DeleteAnswer> {
    CDeleteConfirmDlg dialog(mode, MainWindow());
    if (dialog.DoModal() != ui::IDOK) return std::nullopt;
    return DeleteAnswer{dialog.checked()};
  };
  return requests;
}

void ShowAboutBox() {
  CAboutDlg dialog(MainWindow());
  dialog.DoModal();
}

}  // namespace tbm::app
