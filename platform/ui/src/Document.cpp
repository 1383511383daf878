#include "Document.h"

#include <algorithm>

#include "DocTemplate.h"
#include "View.h"

namespace tbm::ui {

CDocument::~CDocument() {
  // Detaching a view removes it from views_; work on a copy.
  closing_ = true;
  std::vector<CView*> views = views_;
  for (CView* view : views) view->SetDocument(nullptr);
  if (template_ != nullptr) template_->RemoveDocument(this);
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

void CDocument::RemoveView(CView* view) {
  if (std::erase(views_, view) == 0) return;
  if (views_.empty() && autoDelete_ && !closing_) OnCloseDocument();
}

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
  if (closing_) return;
  closing_ = true;
  // Each view leaves its frame and this document as it goes.
  std::vector<CView*> views = views_;
  for (CView* view : views) {
    if (std::find(views_.begin(), views_.end(), view) != views_.end()) delete view;
  }
  views_.clear();
  closing_ = false;
  if (template_ != nullptr) template_->OnDocumentClosed(this);
  if (autoDelete_) delete this;
}

bool CDocument::SaveModified() { return true; }

}  // namespace tbm::ui
