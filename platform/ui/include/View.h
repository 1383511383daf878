// A view: a widget that shows its document and takes commands after the
// field editor it may host and before its document (CmdTarget.h). Views
// paint from state in paintEvent; input handlers change state and call
// update().
#pragma once

#include <QWidget>

#include "CmdTarget.h"

namespace tbm::ui {

class CDocument;
class CFrameWnd;

class CView : public QWidget, public CCmdTarget {
 public:
  explicit CView(QWidget* parent = nullptr);
  ~CView() override;

  CDocument* GetDocument() const { return document_; }
  // Attaches the view to document (and the document to the view).
  void SetDocument(CDocument* document);
  // The frame the view is the main pane of, or null.
  CFrameWnd* GetParentFrame() const;

  // Called once after the view is made and attached; the base calls
  // OnUpdate(nullptr, 0).
  virtual void OnInitialUpdate();
  // The document changed; hint says what.
  virtual void OnUpdate(CView* sender, int hint);

  // Routes id to the hosted field editor first (none in the base), then to
  // this view's own handlers, then to the document and its template.
  bool OnCmdMsg(CommandId id) override;
  bool OnUpdateCmdMsg(CCmdUI* ui) override;

 protected:
  // The field editor's command target while one is hosted, else null.
  virtual CCmdTarget* EditorTarget() { return nullptr; }

 private:
  CDocument* document_ = nullptr;
};

}  // namespace tbm::ui
