// The frame window: the program's top-level window on the 240 x 320
// screen. It holds the command bar (menu bar and buttons) at the bottom,
// the navigation tool bar above it, an owner-drawn status bar at the top,
// and between them its main pane: a view, or the document list.
//
// The frame is where every command starts its route (RouteCommand): the
// active view (and through it its field editor, document and template),
// the frame's own handlers, the application.
#pragma once

#include <QWidget>
#include <memory>

#include "CmdTarget.h"

namespace tbm::ui {

class CView;
class CDocument;

class CFrameWnd : public QWidget, public CCmdTarget {
 public:
  explicit CFrameWnd(QWidget* parent = nullptr);
  ~CFrameWnd() override;

  CView* GetActiveView() const { return activeView_; }
  void SetActiveView(CView* view);
  CDocument* GetActiveDocument() const;

  // Sends the command along the route now. Returns true when a target
  // handled it.
  bool RouteCommand(CommandId id);
  // Brings ui up to date along the route; false when no target knows the
  // command (its user interface is then disabled).
  bool RouteUpdate(CCmdUI* ui);
  // Posts the command: it is routed from the event loop, after the
  // current event.
  void PostCommand(CommandId id);

  // The status bar, or null before it is made.
  QWidget* statusBar() const { return statusBar_; }
  // Redraws the status bar at once (views call it after they draw, so the
  // record position follows every change).
  void RepaintStatusBar();

  bool OnCmdMsg(CommandId id) override;
  bool OnUpdateCmdMsg(CCmdUI* ui) override;

 protected:
  void SetStatusBar(QWidget* bar) { statusBar_ = bar; }

 private:
  CView* activeView_ = nullptr;
  QWidget* statusBar_ = nullptr;
};

}  // namespace tbm::ui
