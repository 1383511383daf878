// The frame's bars: the command bar, the navigation tool bar and the status
// bar share this base. A bar is a child of its frame, which places it
// (CFrameWnd::RecalcLayout) and shows or hides it (ShowControlBar).
//
// Border trimming: a bar draws a 1-pixel line on the edges it is given
// (SetBorders), and the frame places it BorderTrim() beyond its slot on each
// side, so that the lines on trimmed edges fall outside the frame or under
// the next window and only the untrimmed ones show. A navigation bar keeps
// the line at its top and loses the left, right and bottom ones; the
// status bar draws only the line between it and the main pane and needs no
// trimming.
#pragma once

#include <QMargins>
#include <QWidget>

namespace tbm::ui {

class CFrameWnd;

class CControlBar : public QWidget {
 public:
  explicit CControlBar(QWidget* parent = nullptr);
  ~CControlBar() override;

  // Edges on which the bar draws a 1-pixel border line.
  Qt::Edges borders() const { return borders_; }
  void SetBorders(Qt::Edges edges);

  // The bar's rectangle inside its border lines.
  QRect InsideBorders() const;

  // How far beyond its slot the frame places the bar on each side.
  QMargins borderTrim() const { return borderTrim_; }
  void SetBorderTrim(QMargins trim);

  // The height the frame gives the bar's slot.
  virtual int BarHeight() const;

  // Brings the bar's commands (buttons, panes) up to date along frame's
  // command route. The frame calls it in every idle update, and the bar
  // calls it itself before it first shows, so it never shows stale state.
  virtual void OnUpdateCmdUI(CFrameWnd* frame);

  // The frame the bar belongs to: its nearest frame ancestor, or null.
  CFrameWnd* GetParentFrame() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  Qt::Edges borders_;
  QMargins borderTrim_;
};

}  // namespace tbm::ui
