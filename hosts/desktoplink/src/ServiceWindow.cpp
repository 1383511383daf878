#include "ServiceWindow.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

namespace tbm::desktoplink {
namespace {

// The texts kept in the list; older ones are in the log.
constexpr int kTextsKept = 200;

}  // namespace

ServiceWindow::ServiceWindow() {
  setWindowTitle(tr("Desktop connection"));
  QMenu* file = menuBar()->addMenu(tr("&File"));
  QAction* sync = file->addAction(tr("&Synchronise now"));
  sync->setShortcut(QKeySequence(tr("Ctrl+S")));
  connect(sync, &QAction::triggered, this, &ServiceWindow::syncRequested);
  file->addSeparator();
  QAction* quit = file->addAction(tr("&Quit"));
  quit->setShortcut(QKeySequence::Quit);
  connect(quit, &QAction::triggered, this, &ServiceWindow::quitRequested);

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  device_ = new QLabel(central);
  device_->setWordWrap(true);
  QFont bold = device_->font();
  bold.setBold(true);
  device_->setFont(bold);
  providers_ = new QLabel(central);
  providers_->setWordWrap(true);
  texts_ = new QListWidget(central);
  layout->addWidget(device_);
  layout->addWidget(providers_);
  layout->addWidget(new QLabel(tr("What the providers said:"), central));
  layout->addWidget(texts_, 1);
  setCentralWidget(central);
  resize(480, 320);
}

void ServiceWindow::ShowState(const std::string& device, const std::string& providers) {
  device_->setText(QString::fromStdString(device));
  providers_->setText(providers.empty()
                          ? tr("No sync provider is loaded.")
                          : tr("Providers: %1").arg(QString::fromStdString(providers)));
}

void ServiceWindow::AddText(const std::string& text) {
  texts_->addItem(QString::fromStdString(text));
  while (texts_->count() > kTextsKept) delete texts_->takeItem(0);
  texts_->scrollToBottom();
}

}  // namespace tbm::desktoplink
