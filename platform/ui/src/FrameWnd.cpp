#include "FrameWnd.h"

#include <QActionGroup>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPainter>
#include <QPointer>

#include "CommandBar.h"
#include "DocList.h"
#include "Document.h"
#include "IdleUpdate.h"
#include "InputPanel.h"
#include "Resources.h"
#include "Screen.h"
#include "StatusBar.h"
#include "ToolBar.h"
#include "View.h"
#include "WinApp.h"

namespace tbm::ui {

namespace {

// A command's user interface as its update handler leaves it, put on the
// command's action (and so on every menu item and button that shows it).
class CActionCmdUI : public CCmdUI {
 public:
  CActionCmdUI(CommandId id, QAction* action) : CCmdUI(id), action_(action) {}

  void Enable(bool on) override {
    CCmdUI::Enable(on);
    action_->setEnabled(on);
  }
  void SetCheck(int check) override {
    CCmdUI::SetCheck(check);
    // An action that was never checked stays a plain item when unchecked.
    if (check == 0 && !action_->isCheckable()) return;
    action_->setCheckable(true);
    action_->setChecked(check != 0);
  }
  void SetRadio(bool on) override {
    CCmdUI::SetRadio(on);
    // A menu draws a radio mark for an action in an exclusive group; each
    // action has a group of its own, so the handlers alone decide the marks.
    if (action_->actionGroup() == nullptr) {
      auto* group = new QActionGroup(action_);
      group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
      group->addAction(action_);
    }
    action_->setCheckable(true);
    action_->setChecked(on);
  }
  void SetText(const std::u16string& text) override {
    CCmdUI::SetText(text);
    action_->setText(ToQString(text));
  }

 private:
  QAction* action_;
};

// Where the input panel would be: a plain area the frame gives way to.
class CInputPanelArea : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Mid));
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(rect().topLeft(), rect().topRight());
  }
};

}  // namespace

CFrameWnd::CFrameWnd(QWidget* parent) : QWidget(parent) {
  resize(ScreenSize());
  setWindowTitle(QStringLiteral("Tabulon Mobile"));
  RegisterFrame(this);

  OnCommand(ID_HELP, [this] { OnHelpRequest(); });
  OnCommand(ID_VIEW_TOOLBAR, [this] {
    if (toolBar_ != nullptr) ShowControlBar(toolBar_, !IsBarShown(toolBar_));
  });
  OnUpdateCommand(ID_VIEW_TOOLBAR, [this](CCmdUI* ui) {
    ui->Enable(toolBar_ != nullptr);
    ui->SetCheck(IsBarShown(toolBar_) ? 1 : 0);
  });
  QAction* help = CommandAction(ID_HELP);
  help->setShortcut(QKeySequence(Qt::Key_F1));
  help->setShortcutContext(Qt::WindowShortcut);
  addAction(help);

  panelArea_ = new CInputPanelArea(this);
  panelArea_->hide();
  connect(&CInputPanel::Get(), &CInputPanel::changed, this, [this] { RecalcLayout(); });
}

CFrameWnd::~CFrameWnd() {
  UnregisterFrame(this);
  if (CWinApp* app = CWinApp::Get(); app != nullptr && app->mainWindow() == this)
    app->SetMainWindow(nullptr);
  // The main pane goes while the frame is whole: a view's document may close
  // with it and look at the frame.
  activeView_ = nullptr;
  QWidget* pane = mainPane_;
  mainPane_ = nullptr;
  delete pane;
}

bool CFrameWnd::LoadFrame(std::uint32_t resourceNumber) {
  resourceNumber_ = resourceNumber;
  QString title = LoadQString(resourceNumber).section(u'\n', 0, 0);
  if (!title.isEmpty()) setWindowTitle(title);
  resize(ScreenSize());
  bool created = OnCreate();
  RecalcLayout();
  return created;
}

void CFrameWnd::SetActiveView(CView* view) {
  activeView_ = view;
  RequestIdleUpdate();
}

CDocument* CFrameWnd::GetActiveDocument() const {
  return activeView_ != nullptr ? activeView_->GetDocument() : nullptr;
}

bool CFrameWnd::OnCmdMsg(CommandId id) {
  if (activeView_ != nullptr) {
    if (activeView_->OnCmdMsg(id)) return true;
  } else if (CDocList* list = docList(); list != nullptr && list->OnCmdMsg(id)) {
    return true;
  }
  return CCmdTarget::OnCmdMsg(id);
}

bool CFrameWnd::OnUpdateCmdMsg(CCmdUI* ui) {
  if (activeView_ != nullptr) {
    if (activeView_->OnUpdateCmdMsg(ui)) return true;
  } else if (CDocList* list = docList(); list != nullptr && list->OnUpdateCmdMsg(ui)) {
    return true;
  }
  return CCmdTarget::OnUpdateCmdMsg(ui);
}

bool CFrameWnd::RouteCommand(CommandId id) {
  // A command changes state; the user interface follows on the next turn.
  RequestIdleUpdate();
  if (OnCmdMsg(id)) return true;
  CWinApp* app = CWinApp::Get();
  return app != nullptr && app->OnCmdMsg(id);
}

bool CFrameWnd::RouteUpdate(CCmdUI* ui) {
  if (OnUpdateCmdMsg(ui)) return true;
  CWinApp* app = CWinApp::Get();
  if (app != nullptr && app->OnUpdateCmdMsg(ui)) return true;
  ui->Enable(false);
  return false;
}

void CFrameWnd::PostCommand(CommandId id) {
  QPointer<CFrameWnd> self(this);
  QMetaObject::invokeMethod(
      this,
      [self, id] {
        if (self) self->RouteCommand(id);
      },
      Qt::QueuedConnection);
}

QAction* CFrameWnd::CommandAction(CommandId id) {
  if (auto found = actions_.find(id); found != actions_.end()) return found->second;
  auto* action = new QAction(this);
  // Pictures belong to buttons; menus show the text alone.
  action->setIconVisibleInMenu(false);
  // Posted, so that the menu or button that sent it is left alone if the
  // command replaces it.
  connect(action, &QAction::triggered, this, [this, id] { PostCommand(id); });
  actions_.emplace(id, action);
  return action;
}

void CFrameWnd::UpdateCommand(CommandId id) {
  auto found = actions_.find(id);
  if (found == actions_.end()) return;
  CActionCmdUI ui(id, found->second);
  RouteUpdate(&ui);
}

void CFrameWnd::UpdateCommandUI() {
  // An update handler may ask for actions of its own; take the list first.
  std::vector<CommandId> ids;
  ids.reserve(actions_.size());
  for (const auto& entry : actions_) ids.push_back(entry.first);
  for (CommandId id : ids) UpdateCommand(id);
  if (IsBarShown(statusBar_)) statusBar_->OnUpdateCmdUI(this);
  OnIdleUpdateCmdUI();
}

void CFrameWnd::RequestIdleUpdate() { ScheduleIdleUpdate(); }

template <class Bar>
Bar* CFrameWnd::AdoptBar(std::unique_ptr<Bar> bar, Bar*& slot) {
  Bar* old = slot;
  slot = bar.release();
  if (slot != nullptr) slot->setParent(this);
  delete old;
  RecalcLayout();
  return slot;
}

CCommandBar* CFrameWnd::SetCommandBar(std::unique_ptr<CCommandBar> bar) {
  return AdoptBar(std::move(bar), commandBar_);
}

CToolBarEx* CFrameWnd::SetToolBar(std::unique_ptr<CToolBarEx> bar) {
  return AdoptBar(std::move(bar), toolBar_);
}

CStatusBar* CFrameWnd::SetStatusBar(std::unique_ptr<CStatusBar> bar) {
  return AdoptBar(std::move(bar), statusBar_);
}

void CFrameWnd::ShowControlBar(CControlBar* bar, bool show) {
  if (bar == nullptr) return;
  if (bar == commandBar_) {
    commandBarWanted_ = show;
  } else {
    bar->setVisible(show);
  }
  RecalcLayout();
  RequestIdleUpdate();
}

bool CFrameWnd::IsBarShown(const CControlBar* bar) const {
  if (bar == nullptr) return false;
  if (bar == commandBar_) return commandBarWanted_;
  return !bar->isHidden();
}

CControlBar* CFrameWnd::BottomBar() const {
  if (CDocList* list = docList()) return list->commandBar();
  return commandBarWanted_ ? commandBar_ : nullptr;
}

void CFrameWnd::RecalcLayout() {
  QRect area = rect();
  auto place = [](CControlBar* bar, const QRect& slot) {
    bar->setGeometry(slot.marginsAdded(bar->borderTrim()));
  };
  auto takeBottom = [&area](int height) {
    QRect slot(area.left(), area.bottom() - height + 1, area.width(), height);
    area.setBottom(slot.top() - 1);
    return slot;
  };

  // The frame's own command bar gives way to the document list's.
  CControlBar* bottom = BottomBar();
  if (commandBar_ != nullptr) commandBar_->setVisible(bottom == commandBar_);
  if (bottom != nullptr) {
    bottom->show();
    place(bottom, takeBottom(bottom->BarHeight()));
  }
  if (CInputPanel::Get().IsShown()) {
    panelArea_->setGeometry(takeBottom(CInputPanel::kHeight));
    panelArea_->show();
  } else {
    panelArea_->hide();
  }
  if (IsBarShown(toolBar_)) place(toolBar_, takeBottom(toolBar_->BarHeight()));
  if (IsBarShown(statusBar_)) {
    QRect slot(area.left(), area.top(), area.width(), statusBar_->BarHeight());
    place(statusBar_, slot);
    area.setTop(slot.bottom() + 1);
  }
  if (area.height() < 0) area.setHeight(0);
  if (mainPane_ != nullptr) mainPane_->setGeometry(area);

  // Later raised is on top: a bar's trimmed edges go under its neighbours.
  if (statusBar_ != nullptr) statusBar_->raise();
  if (mainPane_ != nullptr) mainPane_->raise();
  if (toolBar_ != nullptr) toolBar_->raise();
  panelArea_->raise();
  if (bottom != nullptr) bottom->raise();
}

void CFrameWnd::RepaintStatusBar() {
  if (!IsBarShown(statusBar_)) return;
  statusBar_->OnUpdateCmdUI(this);
  statusBar_->update();
}

CDocList* CFrameWnd::docList() const { return dynamic_cast<CDocList*>(mainPane_); }

QWidget* CFrameWnd::SetMainPane(std::unique_ptr<QWidget> pane) {
  QWidget* old = mainPane_;
  QWidget* widget = pane.release();
  if (widget != nullptr) widget->setParent(this);
  mainPane_ = widget;
  activeView_ = dynamic_cast<CView*>(widget);
  if (widget != nullptr) widget->show();

  if (auto* oldList = dynamic_cast<CDocList*>(old)) {
    // The list's own tap may be what replaced it: it goes after this event.
    oldList->hide();
    oldList->commandBar()->hide();
    oldList->deleteLater();
  } else {
    delete old;
  }
  RecalcLayout();
  if (widget != nullptr) widget->setFocus();
  RequestIdleUpdate();
  return widget;
}

CView* CFrameWnd::CreateView(std::unique_ptr<CView> view, CDocument* document) {
  if (view == nullptr) return nullptr;
  view->SetDocument(document);
  return static_cast<CView*>(SetMainPane(std::move(view)));
}

CView* CFrameWnd::ReplaceView(std::unique_ptr<CView> view) {
  CView* old = activeView_;
  if (view == nullptr || old == nullptr || old != mainPane_ || old->GetDocument() == nullptr)
    return nullptr;
  CDocument* document = old->GetDocument();
  QRect place = old->geometry();

  // The document must outlive its only view going.
  bool autoDelete = document->autoDelete();
  document->SetAutoDelete(false);
  activeView_ = nullptr;
  mainPane_ = nullptr;
  delete old;
  document->SetAutoDelete(autoDelete);

  CView* fresh = view.release();
  fresh->setParent(this);
  fresh->setGeometry(place);
  fresh->SetDocument(document);
  mainPane_ = fresh;
  activeView_ = fresh;
  fresh->show();
  RecalcLayout();
  fresh->OnInitialUpdate();
  fresh->setFocus();
  RequestIdleUpdate();
  return fresh;
}

void CFrameWnd::InitialUpdateFrame(CDocument* document) {
  if (activeView_ == nullptr) activeView_ = dynamic_cast<CView*>(mainPane_);
  if (document != nullptr) {
    // A view's update may make or remove others; take the list first.
    std::vector<CView*> views = document->views();
    for (CView* view : views) {
      if (view->GetParentFrame() == this) view->OnInitialUpdate();
    }
  }
  RecalcLayout();
  show();
  if (activeView_ != nullptr) activeView_->setFocus();
  UpdateCommandUI();
}

void CFrameWnd::OnViewDestroyed(CView* view) {
  if (activeView_ == view) activeView_ = nullptr;
  if (mainPane_ == view) mainPane_ = nullptr;
}

void CFrameWnd::NotifyDocListCreated(CDocList* list) {
  OnDocListCreated(list);
  RecalcLayout();
  RequestIdleUpdate();
}

void CFrameWnd::OnActivateFrame(bool, bool) { RequestIdleUpdate(); }

void CFrameWnd::OnDocListCreated(CDocList*) {}

void CFrameWnd::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::ActivationChange)
    OnActivateFrame(isActiveWindow(), QGuiApplication::mouseButtons() != Qt::NoButton);
}

void CFrameWnd::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  RecalcLayout();
}

void CFrameWnd::closeEvent(QCloseEvent* event) {
  if (CDocument* document = GetActiveDocument(); document != nullptr && !document->SaveModified()) {
    event->ignore();
    return;
  }
  event->accept();
}

}  // namespace tbm::ui
