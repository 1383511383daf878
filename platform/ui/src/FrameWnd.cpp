#include "FrameWnd.h"

#include <QMetaObject>
#include <QPointer>

#include "View.h"
#include "WinApp.h"

namespace tbm::ui {

CFrameWnd::CFrameWnd(QWidget* parent) : QWidget(parent) {}

CFrameWnd::~CFrameWnd() {
  if (CWinApp* app = CWinApp::Get(); app != nullptr && app->mainWindow() == this)
    app->SetMainWindow(nullptr);
}

void CFrameWnd::SetActiveView(CView* view) { activeView_ = view; }

CDocument* CFrameWnd::GetActiveDocument() const {
  return activeView_ != nullptr ? activeView_->GetDocument() : nullptr;
}

bool CFrameWnd::OnCmdMsg(CommandId id) {
  if (activeView_ != nullptr && activeView_->OnCmdMsg(id)) return true;
  return CCmdTarget::OnCmdMsg(id);
}

bool CFrameWnd::OnUpdateCmdMsg(CCmdUI* ui) {
  if (activeView_ != nullptr && activeView_->OnUpdateCmdMsg(ui)) return true;
  return CCmdTarget::OnUpdateCmdMsg(ui);
}

bool CFrameWnd::RouteCommand(CommandId id) {
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

void CFrameWnd::RepaintStatusBar() {
  if (statusBar_ != nullptr && statusBar_->isVisible()) statusBar_->repaint();
}

}  // namespace tbm::ui
