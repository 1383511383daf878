// The status bar: a row of panes, each named by a command identifier, with
// a width in pixels and an optional share of the width left over. Panes
// have no borders and are drawn by DrawItem, which a program overrides to
// draw them its own way. A pane's text comes from the update handler of its
// identifier (CCmdUI::SetText) in every idle update; a pane no target on
// the route knows has an empty text.
#pragma once

#include <QString>
#include <span>
#include <vector>

#include "CommandIds.h"
#include "ControlBar.h"

class QPainter;

namespace tbm::ui {

struct StatusPane {
  CommandId id = 0;
  int width = 0;         // pixels
  bool stretch = false;  // shares the width the fixed panes leave
  QString text;
  bool enabled = true;  // as the update handler left it
};

class CStatusBar : public CControlBar {
 public:
  explicit CStatusBar(QWidget* parent = nullptr);
  ~CStatusBar() override;

  // One pane per identifier, 0 pixels wide, no stretch, no text.
  void SetIndicators(std::span<const CommandId> ids);
  int GetCount() const { return static_cast<int>(panes_.size()); }
  const StatusPane& GetPane(int index) const { return panes_.at(index); }
  // The index of the pane with identifier id, or -1.
  int CommandToIndex(CommandId id) const;

  // Changes a pane's identifier, width and stretch. Ignored for an index
  // out of range; a negative width counts as 0.
  void SetPaneInfo(int index, CommandId id, int width, bool stretch);
  void SetPaneWidth(int index, int width);
  void SetPaneText(int index, const QString& text);
  QString GetPaneText(int index) const;
  // The pane's rectangle in the bar's coordinates (empty when out of range
  // or 0 wide): fixed panes take their widths from the left, stretching
  // panes share what is left equally, and nothing goes past the bar's end.
  QRect GetItemRect(int index) const;

  int BarHeight() const override;
  void OnUpdateCmdUI(CFrameWnd* frame) override;

 protected:
  // Draws pane index into rect; the painter is clipped to rect and set to
  // the bar's font and text colour. The base draws the text left-aligned
  // 2 pixels inside, cut with "..." to fit.
  virtual void DrawItem(QPainter& painter, int index, const QRect& rect);
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<StatusPane> panes_;
};

}  // namespace tbm::ui
