#include "HelpWindow.h"

#include <QStyle>
#include <QTextBlock>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>

namespace tbm::peghelp {

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent), browser_(new QTextBrowser(this)) {
  setFixedSize(240, 320);
  auto* tools = new QToolBar(this);
  tools->setIconSize(QSize(16, 16));
  QAction* back = tools->addAction(style()->standardIcon(QStyle::SP_ArrowBack), tr("Back"),
                                   browser_, &QTextBrowser::backward);
  back->setEnabled(false);
  connect(browser_, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
  tools->addAction(style()->standardIcon(QStyle::SP_DirHomeIcon), tr("Contents"), this,
                   [this] { browser_->scrollToAnchor("Main_Contents"); });
  // Lists indented for a screen 240 pixels wide.
  browser_->document()->setIndentWidth(16);
  browser_->setOpenExternalLinks(false);
  browser_->setOpenLinks(true);
  connect(browser_, &QTextBrowser::sourceChanged, this,
          [this] { setWindowTitle(browser_->documentTitle()); });

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(tools);
  layout->addWidget(browser_);
}

bool HelpWindow::ShowPage(const QString& path, const QString& anchor) {
  browser_->setSource(QUrl::fromLocalFile(path));
  if (anchor.isEmpty()) return true;
  if (!HasAnchor(anchor)) return false;
  browser_->scrollToAnchor(anchor);
  return true;
}

bool HelpWindow::HasAnchor(const QString& anchor) const {
  for (QTextBlock block = browser_->document()->begin(); block.isValid(); block = block.next()) {
    for (auto fragment = block.begin(); !fragment.atEnd(); ++fragment) {
      if (fragment.fragment().charFormat().anchorNames().contains(anchor)) return true;
    }
  }
  return false;
}

}  // namespace tbm::peghelp
