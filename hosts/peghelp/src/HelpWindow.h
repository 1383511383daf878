// The help viewer's window: one page in a browser on the handheld's
// 240 x 320 screen, with Back and Contents buttons above it.
#pragma once

#include <QTextBrowser>
#include <QWidget>

namespace tbm::peghelp {

class HelpWindow : public QWidget {
 public:
  explicit HelpWindow(QWidget* parent = nullptr);

  // Shows the page at path, scrolled to anchor (the top when anchor is
  // empty). False when the page has no such anchor; it then shows the top.
  bool ShowPage(const QString& path, const QString& anchor);

  QTextBrowser* browser() const { return browser_; }

 private:
  bool HasAnchor(const QString& anchor) const;

  QTextBrowser* browser_;
};

}  // namespace tbm::peghelp
