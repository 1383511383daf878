#include "HostWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QHeaderView>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>

#include "DesktopDatabase.h"
#include "HostSession.h"
#include "PluginHost.h"

namespace tbm::tabulonpro {

namespace {

constexpr int kRefreshMilliseconds = 3000;

QTableWidgetItem* Cell(const QString& text, const QString& tip = {}) {
  auto* item = new QTableWidgetItem(text);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  if (!tip.isEmpty()) item->setToolTip(tip);
  return item;
}

}  // namespace

HostWindow::HostWindow(HostSession& session, PluginHost& plugin)
    : session_(session), plugin_(plugin) {
  setWindowTitle(QStringLiteral("Tabulon Pro"));
  table_ = new QTableWidget(0, 3, this);
  table_->setHorizontalHeaderLabels({tr("Database"), tr("Records"), tr("Synchronisation")});
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::SingleSelection);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setStretchLastSection(true);
  setCentralWidget(table_);

  QMenu* file = menuBar()->addMenu(tr("&File"));
  QAction* quit = file->addAction(tr("&Quit"));
  quit->setShortcut(QKeySequence::Quit);
  connect(quit, &QAction::triggered, this, &HostWindow::quitRequested);

  QMenu* sync = menuBar()->addMenu(tr("&Synchronisation"));
  settings_ = sync->addAction(tr("Synchronisation &Settings..."));
  about_ = sync->addAction(tr("&About %1...").arg(QString::fromStdString(plugin_.name())));
  connect(settings_, &QAction::triggered, this, &HostWindow::ShowSettings);
  connect(about_, &QAction::triggered, this, &HostWindow::ShowAbout);

  connect(table_, &QTableWidget::itemSelectionChanged, this, &HostWindow::CurrentRowChanged);
  refresh_ = new QTimer(this);
  connect(refresh_, &QTimer::timeout, this, &HostWindow::Refresh);
  refresh_->start(kRefreshMilliseconds);

  Refresh();
  resize(560, 240);
}

void HostWindow::Refresh() {
  // What other programs changed shows, and a plug-in's snapshot is not kept
  // open while the window waits.
  session_.EndPluginCalls();
  const QSignalBlocker blocker(table_);
  table_->setRowCount(static_cast<int>(session_.count()));
  int currentRow = -1;
  for (std::size_t i = 0; i < session_.count(); ++i) {
    DesktopDatabase* db = session_.database(i);
    const int row = static_cast<int>(i);
    if (db == session_.current()) currentRow = row;
    table_->setItem(row, 0,
                    Cell(QString::fromStdString(db->name()), QString::fromStdString(db->path())));
    std::int64_t records = 0;
    std::uint32_t flags = 0;
    Status s = db->RecordCount(&records);
    if (s.ok()) s = db->Flags(&flags);
    if (!s.ok()) {
      table_->setItem(row, 1, Cell(QStringLiteral("?"), QString::fromStdString(s.message())));
      table_->setItem(row, 2, Cell(QString::fromStdString(s.message())));
      continue;
    }
    QTableWidgetItem* count = Cell(QString::number(records));
    count->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table_->setItem(row, 1, count);
    table_->setItem(row, 2, Cell(QString::fromStdString(FlagsInWords(flags))));
  }
  if (currentRow >= 0) table_->selectRow(currentRow);
  table_->resizeColumnToContents(0);
  table_->resizeColumnToContents(1);
  const bool running = plugin_.started();
  const QString plugin = QString::fromStdString(plugin_.name());
  statusBar()->showMessage(
      running ? tr("Plug-in %1 started").arg(plugin)
              : tr("Synchronisation is not available: the plug-in %1 is not running").arg(plugin));
  about_->setEnabled(running);
  settings_->setEnabled(running && session_.current() != nullptr);
}

void HostWindow::CurrentRowChanged() {
  const int row = table_->currentRow();
  if (row >= 0) session_.SetCurrent(session_.database(static_cast<std::size_t>(row)));
}

void HostWindow::ShowAbout() {
  plugin_.ShowAbout();
  session_.EndPluginCalls();
}

void HostWindow::ShowSettings() {
  plugin_.ShowSettings();
  Refresh();
}

void HostWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  emit quitRequested();
}

}  // namespace tbm::tabulonpro
