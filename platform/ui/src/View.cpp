#include "View.h"

#include "DocTemplate.h"
#include "Document.h"
#include "FrameWnd.h"

namespace tbm::ui {

CView::CView(QWidget* parent) : QWidget(parent) {}

CView::~CView() {
  // The frame forgets the view before its document hears of it: the
  // document may close now and look at the frame.
  if (CFrameWnd* frame = GetParentFrame()) frame->OnViewDestroyed(this);
  if (document_ != nullptr) {
    CDocument* document = document_;
    document_ = nullptr;
    document->RemoveView(this);
  }
}

void CView::SetDocument(CDocument* document) {
  if (document_ == document) return;
  CDocument* old = document_;
  document_ = document;
  if (old != nullptr) old->RemoveView(this);
  if (document_ != nullptr) document_->AddView(this);
}

CFrameWnd* CView::GetParentFrame() const {
  for (QWidget* widget = parentWidget(); widget != nullptr; widget = widget->parentWidget()) {
    if (auto* frame = dynamic_cast<CFrameWnd*>(widget)) return frame;
  }
  return nullptr;
}

void CView::OnInitialUpdate() { OnUpdate(nullptr, 0); }

void CView::OnUpdate(CView*, int) { update(); }

bool CView::OnCmdMsg(CommandId id) {
  if (CCmdTarget* editor = EditorTarget(); editor != nullptr && editor->OnCmdMsg(id)) return true;
  if (CCmdTarget::OnCmdMsg(id)) return true;
  if (document_ == nullptr) return false;
  // The document's handler may close it and with it this view; nothing of
  // the view is touched after it.
  CDocument* document = document_;
  CDocTemplate* owner = document->GetDocTemplate();
  if (document->OnCmdMsg(id)) return true;
  return owner != nullptr && owner->OnCmdMsg(id);
}

bool CView::OnUpdateCmdMsg(CCmdUI* ui) {
  if (CCmdTarget* editor = EditorTarget(); editor != nullptr && editor->OnUpdateCmdMsg(ui))
    return true;
  if (CCmdTarget::OnUpdateCmdMsg(ui)) return true;
  if (document_ == nullptr) return false;
  if (document_->OnUpdateCmdMsg(ui)) return true;
  CDocTemplate* owner = document_->GetDocTemplate();
  return owner != nullptr && owner->OnUpdateCmdMsg(ui);
}

}  // namespace tbm::ui
