// A document: the data one or more views show, with its title, path and
// views. Views learn of a change through UpdateAllViews with a numeric hint
// that tells them what changed.
#pragma once

#include <string>
#include <vector>

#include "CmdTarget.h"

namespace tbm::ui {

class CView;
class CDocTemplate;

class CDocument : public CCmdTarget {
 public:
  CDocument() = default;
  ~CDocument() override;

  const std::u16string& GetTitle() const { return title_; }
  virtual void SetTitle(const std::u16string& title);
  // The full path; setting it also sets the title to the path's file name.
  const std::u16string& GetPathName() const { return pathName_; }
  virtual void SetPathName(const std::u16string& path);

  bool IsModified() const { return modified_; }
  void SetModifiedFlag(bool modified = true) { modified_ = modified; }
  // Whether the document deletes itself when its last view goes.
  bool autoDelete() const { return autoDelete_; }
  void SetAutoDelete(bool on) { autoDelete_ = on; }

  CDocTemplate* GetDocTemplate() const { return template_; }
  void SetDocTemplate(CDocTemplate* owner) { template_ = owner; }

  const std::vector<CView*>& views() const { return views_; }
  void AddView(CView* view);
  // Detaches view; when it was the last view and auto-delete is on, the
  // document closes (OnCloseDocument) and so deletes itself.
  void RemoveView(CView* view);
  // Calls OnUpdate(sender, hint) on every view but sender.
  void UpdateAllViews(CView* sender, int hint);

  // Opening, saving and closing, overridden by the program's document.
  // The base open and save succeed; the base close destroys the views, tells
  // the template (which shows the document list again), and deletes the
  // document itself when autoDelete. An override calls the base last.
  virtual bool OnOpenDocument(const std::u16string& path);
  virtual bool OnSaveDocument(const std::u16string& path);
  virtual void OnCloseDocument();
  // Asks to save when modified; true when the caller may go on.
  virtual bool SaveModified();

 private:
  std::u16string title_;
  std::u16string pathName_;
  bool modified_ = false;
  bool autoDelete_ = true;
  CDocTemplate* template_ = nullptr;
  std::vector<CView*> views_;
  bool closing_ = false;
};

}  // namespace tbm::ui
