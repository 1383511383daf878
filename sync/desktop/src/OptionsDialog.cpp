#include "OptionsDialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ProgramLog.h"

namespace tbm::desksync {
namespace {

QString QText(const ProviderTexts& texts, std::uint32_t number) {
  return QString::fromStdU16String(texts.String(number));
}

}  // namespace

QString VersionLabel(const ProviderTexts& texts) {
  const std::optional<res::LibraryVersion> version = texts.version();
  if (!version) return QStringLiteral("v");
  return QStringLiteral("v%1.%2.%3.%4")
      .arg(version->major)
      .arg(version->minor)
      .arg(version->build)
      .arg(version->revision);
}

OptionsDialog::OptionsDialog(const ProviderTexts& texts, std::optional<LogViewer> viewer,
                             IReplMessages* messages, QWidget* parent)
    : QDialog(parent), viewer_(std::move(viewer)), messages_(messages) {
  if (messages_ != nullptr) messages_->AddRef();
  setObjectName("optionsDialog");
  setWindowTitle(QText(texts, kTextOptionsTitle));

  auto* about = new QLabel(QText(texts, kTextOptionsAbout), this);
  about->setObjectName("about");
  about->setWordWrap(true);
  about->setMinimumWidth(380);

  auto* version = new QLabel(VersionLabel(texts), this);
  version->setObjectName("version");  // control 106
  version->setTextInteractionFlags(Qt::TextSelectableByMouse);

  auto* openLog = new QPushButton(QText(texts, kTextOpenLogButton), this);
  openLog->setObjectName("openLog");  // control 105
  openLog->setEnabled(viewer_.has_value());
  openLog->setAutoDefault(false);
  connect(openLog, &QPushButton::clicked, this, [this] {
    if (viewer_) OpenLogOrTell(*viewer_, messages_);
  });

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QText(texts, kTextOk), QDialogButtonBox::AcceptRole);
  ok->setObjectName("ok");
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton(QText(texts, kTextCancel), QDialogButtonBox::RejectRole);
  cancel->setObjectName("cancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* row = new QHBoxLayout();
  row->addWidget(openLog);
  row->addStretch();
  row->addWidget(buttons);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(about);
  layout->addWidget(version);
  layout->addSpacing(8);
  layout->addLayout(row);
}

OptionsDialog::~OptionsDialog() {
  if (messages_ != nullptr) messages_->Release();
}

HRESULT ShowOptionsDialog(const ProviderTexts& texts, std::optional<LogViewer> viewer,
                          IReplMessages* messages) {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
    WriteLog("TBDeskSync", LogLevel::kError,
             "the options dialog cannot be shown: the connection service runs without a display");
    return E_FAIL;
  }
  OptionsDialog dialog(texts, std::move(viewer), messages);
  return dialog.exec() == QDialog::Accepted ? S_OK : RERR_CANCEL;
}

}  // namespace tbm::desksync
