#include "Document.h"

#include <algorithm>

#include "FrameWnd.h"
#include "View.h"

namespace tbm::ui {

CDocument::~CDocument() {
  for (CView* view : views_) view->SetDocument(nullptr);
}

void CDocument::SetTitle(const std::u16string& title) { title_ = title; }

void CDocument::SetPathName(const std::u16string& path) {
  pathName_ = path;
  std::size_t slash = path.find_last_of(u"/\\");
  SetTitle(slash == std::u16string::npos ? path : path.substr(slash + 1));
}

void CDocument::AddView(CView* view) {
  if (std::find(views_.begin(), views_.end(), view) == views_.end()) views_.push_back(view);
}

void CDocument::RemoveView(CView* view) { std::erase(views_, view); }

void CDocument::UpdateAllViews(CView* sender, int hint) {
  // A view may go while others update (a view switch); work on a copy.
  std::vector<CView*> views = views_;
  for (CView* view : views) {
    if (view != sender && std::find(views_.begin(), views_.end(), view) != views_.end())
      view->OnUpdate(sender, hint);
  }
}

bool CDocument::OnOpenDocument(const std::u16string&) { return true; }

bool CDocument::OnSaveDocument(const std::u16string&) {
  SetModifiedFlag(false);
  return true;
}

void CDocument::OnCloseDocument() {
  // Destroying a view detaches it; the frame of the first view goes with
  // its views.
  bool autoDelete = autoDelete_;
  autoDelete_ = false;
  std::vector<CView*> views = views_;
  CFrameWnd* frame = views.empty() ? nullptr : views.front()->GetParentFrame();
  for (CView* view : views) {
    RemoveView(view);
    view->SetDocument(nullptr);
    if (frame != nullptr && frame->GetActiveView() == view) frame->SetActiveView(nullptr);
    delete view;
  }
  autoDelete_ = autoDelete;
  if (autoDelete_) delete this;
}

bool CDocument::SaveModified() { return true; }

}  // namespace tbm::ui
