// The frame window: the program's top-level window on the handheld's screen
// (240 x 320 by default, Screen.h). From the bottom up it holds the command
// bar (menu bar and buttons), the input panel's area while the panel is up
// (InputPanel.h), the navigation tool bar, then its main pane (a view, or
// the document list) and at the top an owner-drawn status bar. Each bar is
// optional and may be shown or hidden; the main pane takes what the shown
// bars leave (RecalcLayout).
//
// Commands: the frame keeps one QAction per command (CommandAction), which
// every menu item and button with that command shares. Triggering it posts
// the command, which then goes along the route (RouteCommand): the active
// view (and through it its field editor, document and template) or the
// document list, the frame's own handlers, the application.
//
// The idle update: after every input event the program handles, once per
// turn of the event loop, and after every routed command, each frame brings
// its actions and its bars' panes up to date along the same route
// (UpdateCommandUI); a command no target knows is disabled. A menu is also
// brought up to date just before it shows, and a bar before it first shows.
//
// A program derives its main frame from CFrameWnd, makes its bars in
// OnCreate, and overrides the hooks below (help, activation, the document
// list's creation).
#pragma once

#include <QAction>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <unordered_map>

#include "CmdTarget.h"

namespace tbm::ui {

class CView;
class CDocument;
class CDocList;
class CControlBar;
class CCommandBar;
class CToolBarEx;
class CStatusBar;

class CFrameWnd : public QWidget, public CCmdTarget {
 public:
  explicit CFrameWnd(QWidget* parent = nullptr);
  ~CFrameWnd() override;

  // Creation: sizes the frame to the screen, takes its title from the
  // first line of string number when the library has one, and calls
  // OnCreate. False when OnCreate fails; the frame should then be deleted.
  bool LoadFrame(std::uint32_t resourceNumber);
  std::uint32_t resourceNumber() const { return resourceNumber_; }

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

  // The action of a command: one per command and frame, made on first ask.
  // Triggering it posts the command.
  QAction* CommandAction(CommandId id);
  // The idle update of this frame: every action, then every shown bar, then
  // OnIdleUpdateCmdUI.
  void UpdateCommandUI();
  // Brings one command's action up to date along the route.
  void UpdateCommand(CommandId id);
  // Asks for an idle update of every frame on the next turn of the event
  // loop (any number of asks in one turn give one update). Input events
  // and routed commands ask by themselves; work that arrives otherwise (a
  // message from another process) asks here.
  static void RequestIdleUpdate();

  // The bars. Setting one makes the frame its parent and owner (an earlier
  // bar of that kind is deleted) and lays the frame out again; it shows
  // unless it was hidden before.
  CCommandBar* SetCommandBar(std::unique_ptr<CCommandBar> bar);
  CToolBarEx* SetToolBar(std::unique_ptr<CToolBarEx> bar);
  CStatusBar* SetStatusBar(std::unique_ptr<CStatusBar> bar);
  CCommandBar* commandBar() const { return commandBar_; }
  CToolBarEx* toolBar() const { return toolBar_; }
  // The status bar, or null before it is made.
  CStatusBar* statusBar() const { return statusBar_; }
  // Shows or hides a bar of this frame and lays the frame out again.
  void ShowControlBar(CControlBar* bar, bool show);
  // Whether bar is set to show (also while the frame itself is hidden; the
  // command bar also while the document list's bar stands in for it).
  bool IsBarShown(const CControlBar* bar) const;

  // Brings the status bar's panes up to date and redraws it. Views call it
  // after they draw, so the record position follows every change; the
  // drawing itself happens in the same or the next paint of the window.
  void RepaintStatusBar();

  // Places the bars and the main pane for the frame's size, the bars shown
  // and the input panel.
  void RecalcLayout();

  // The main pane: a view, the document list, or null.
  QWidget* mainPane() const { return mainPane_; }
  // The document list while it is the main pane, else null.
  CDocList* docList() const;
  // Makes pane (a view or the document list) the main pane and deletes the
  // earlier one: a view at once (its document may close with it), a
  // document list after the current event. A view pane becomes the active
  // view. While the document list is the pane its own command bar takes the
  // place of the frame's.
  QWidget* SetMainPane(std::unique_ptr<QWidget> pane);
  // Makes view, attached to document, the main pane and the active view.
  CView* CreateView(std::unique_ptr<CView> view, CDocument* document);
  // Replaces the active view by view, keeping its document: the document's
  // auto-delete is off while the old view is destroyed (then restored),
  // the new view takes the old one's place, becomes active and gets its
  // initial update. Null (view discarded) when there is no active view with
  // a document. Call it from a command handler (commands are posted), not
  // from inside the old view's own event handling.
  CView* ReplaceView(std::unique_ptr<CView> view);
  // The initial update of the frame and its views: the main pane's view
  // becomes active, every view of document in this frame gets
  // OnInitialUpdate, the frame shows and updates its commands.
  void InitialUpdateFrame(CDocument* document);

  bool OnCmdMsg(CommandId id) override;
  bool OnUpdateCmdMsg(CCmdUI* ui) override;

  // A view of this frame is going (CView calls it first thing): the frame
  // forgets it as its active view and main pane.
  void OnViewDestroyed(CView* view);

 protected:
  // Makes the bars; false makes creation fail. The base makes none.
  virtual bool OnCreate() { return true; }
  // After each idle update.
  virtual void OnIdleUpdateCmdUI() {}
  // Help was asked for (F1 or ID_HELP). Returns whether it was given; the
  // base gives none.
  virtual bool OnHelpRequest() { return false; }
  // The frame became active (active true) or inactive; byTap when a tap
  // (a mouse button held down) activated it.
  virtual void OnActivateFrame(bool active, bool byTap);
  // The document list was made and is the main pane now (its child-window
  // identifier and notification are CDocList::kControlId and
  // kCreatedNotification). A program adapts the list's command bar and its
  // own bars here; the frame lays itself out again afterwards.
  virtual void OnDocListCreated(CDocList* list);

  void changeEvent(QEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  friend class CDocTemplate;
  void NotifyDocListCreated(CDocList* list);
  CControlBar* BottomBar() const;
  template <class Bar>
  Bar* AdoptBar(std::unique_ptr<Bar> bar, Bar*& slot);

  std::uint32_t resourceNumber_ = 0;
  CView* activeView_ = nullptr;
  QWidget* mainPane_ = nullptr;
  CCommandBar* commandBar_ = nullptr;
  CToolBarEx* toolBar_ = nullptr;
  CStatusBar* statusBar_ = nullptr;
  bool commandBarWanted_ = true;
  QWidget* panelArea_ = nullptr;
  std::unordered_map<CommandId, QAction*> actions_;
};

}  // namespace tbm::ui
