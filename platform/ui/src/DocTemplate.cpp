#include "DocTemplate.h"

#include "DocList.h"
#include "Document.h"
#include "FrameWnd.h"
#include "MessageBox.h"
#include "Resources.h"
#include "View.h"
#include "WinApp.h"

namespace tbm::ui {

namespace {

CFrameWnd* MainFrame() {
  CWinApp* app = CWinApp::Get();
  return app != nullptr ? app->mainWindow() : nullptr;
}

void MakeMainFrame(CFrameWnd* frame) {
  CWinApp* app = CWinApp::Get();
  if (app != nullptr && app->mainWindow() == nullptr) app->SetMainWindow(frame);
}

void ReportFailedToCreate() {
  const QString text =
      FrameworkText(AFX_IDP_FAILED_TO_CREATE_DOC, "Failed to create empty document.");
  ShowMessageBox({FromQString(text), std::u16string(), MessageIcon::kError, MessageButtons::kOk});
}

}  // namespace

CDocTemplate::CDocTemplate(std::uint32_t resourceNumber, Classes classes)
    : resourceNumber_(resourceNumber), classes_(std::move(classes)) {}

CDocTemplate::~CDocTemplate() {
  if (document_ != nullptr) {
    CDocument* document = document_;
    document_ = nullptr;
    document->SetDocTemplate(nullptr);
    delete document;
  }
}

void CDocTemplate::AddDocument(CDocument* document) {
  document_ = document;
  document->SetDocTemplate(this);
}

void CDocTemplate::RemoveDocument(CDocument* document) {
  if (document_ == document) document_ = nullptr;
}

CFrameWnd* CDocTemplate::CreateNewFrame() {
  std::unique_ptr<CFrameWnd> frame = classes_.frame ? classes_.frame() : nullptr;
  if (frame == nullptr || !frame->LoadFrame(resourceNumber_)) {
    ReportFailedToCreate();
    return nullptr;
  }
  // A top-level window owns itself: it goes when it closes.
  frame->setAttribute(Qt::WA_DeleteOnClose);
  return frame.release();
}

CDocument* CDocTemplate::OpenDocumentFile(const std::optional<std::u16string>& path) {
  CFrameWnd* frame = MainFrame();
  CDocument* document = document_;
  bool created = false;
  if (document != nullptr) {
    if (!document->SaveModified()) return nullptr;
  } else {
    std::unique_ptr<CDocument> made = classes_.document ? classes_.document() : nullptr;
    if (made == nullptr) {
      ReportFailedToCreate();
      return nullptr;
    }
    document = made.release();
    AddDocument(document);
    created = true;
    if (frame != nullptr) OnFrameForDocument(frame);
  }

  if (frame == nullptr || created) {
    bool newFrame = frame == nullptr;
    if (newFrame) frame = CreateNewFrame();
    std::unique_ptr<CView> view = frame != nullptr && classes_.view ? classes_.view() : nullptr;
    if (view == nullptr) {
      if (frame != nullptr) ReportFailedToCreate();
      if (newFrame) delete frame;
      if (created) delete document;
      return nullptr;
    }
    frame->CreateView(std::move(view), document);
    if (newFrame) OnFrameForDocument(frame);
  }

  if (path) {
    bool opened = false;
    {
      CWaitCursor wait;
      opened = document->OnOpenDocument(*path);
    }
    if (!opened) {
      // The list comes back in the frame the document would have used.
      MakeMainFrame(frame);
      document->OnCloseDocument();
      if (frame->docList() == nullptr) ShowDocumentList();
      return nullptr;
    }
    document->SetPathName(*path);
  }

  MakeMainFrame(frame);
  frame->InitialUpdateFrame(document);
  return document;
}

CDocList* CDocTemplate::ShowDocumentList() {
  CFrameWnd* frame = MainFrame();
  if (frame == nullptr) {
    frame = CreateNewFrame();
    if (frame == nullptr) return nullptr;
    MakeMainFrame(frame);
  }
  auto list = std::make_unique<CDocList>(frame, filter_, folderText_);
  // The template outlives its frames (the application deletes its main
  // window before its templates).
  list->SetOpenHandler([this](const std::u16string& path) { OpenDocumentFile(path); });
  auto* shown = static_cast<CDocList*>(frame->SetMainPane(std::move(list)));
  frame->NotifyDocListCreated(shown);
  frame->show();
  shown->setFocus();
  return shown;
}

void CDocTemplate::OnDocumentClosed(CDocument*) {
  CFrameWnd* frame = MainFrame();
  if (frame != nullptr && frame->mainPane() == nullptr) ShowDocumentList();
}

void CDocTemplate::OnFrameForDocument(CFrameWnd*) {}

}  // namespace tbm::ui
