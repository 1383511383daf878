// The document template: makes the program's one document, its frame and
// its first view, opens databases into them, and shows the document list
// (the files of the device's documents folders) when no database is open.
// It is on every command's route after the document.
//
// A program derives its template from CDocTemplate, gives the constructor
// the factories of its document, frame and first view, and overrides the
// hooks: OnFrameForDocument to set a frame's bars up for a document, and
// the document's OnOpenDocument (Document.h) for the opening itself.
//
// Ownership: the template owns the frames it makes (a frame deletes itself
// when it closes) and its one document, which deletes itself when it closes
// unless its auto-delete is off; the template then deletes it when it goes.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "CmdTarget.h"

namespace tbm::ui {

class CDocument;
class CDocList;
class CFrameWnd;
class CView;

// The framework's message for a document or frame that could not be made.
inline constexpr std::uint32_t AFX_IDP_FAILED_TO_CREATE_DOC = 61700;

class CDocTemplate : public CCmdTarget {
 public:
  struct Classes {
    std::function<std::unique_ptr<CDocument>()> document;
    std::function<std::unique_ptr<CFrameWnd>()> frame;
    std::function<std::unique_ptr<CView>()> view;  // the first view
  };

  // resourceNumber: the frame's resource number (LoadFrame). The document
  // list's filter starts as "All Files|*.*||" and its folder entry as "All
  // Folders".
  CDocTemplate(std::uint32_t resourceNumber, Classes classes);
  ~CDocTemplate() override;
  CDocTemplate(const CDocTemplate&) = delete;
  CDocTemplate& operator=(const CDocTemplate&) = delete;

  std::uint32_t resourceNumber() const { return resourceNumber_; }
  const QString& filter() const { return filter_; }
  void SetFilter(const QString& filter) { filter_ = filter; }
  const QString& folderText() const { return folderText_; }
  void SetFolderText(const QString& text) { folderText_ = text; }

  // The template's one document, or null.
  CDocument* document() const { return document_; }

  // Opens path into the template's document, or makes a document without
  // opening anything when path is empty:
  // 1. An existing document is asked to save if modified (stop on refusal)
  //    and is used again; otherwise a new document is made, and when the
  //    main frame exists OnFrameForDocument is called for it.
  // 2. A document that could not be made: message 61700, stop.
  // 3. Without a main frame, one is made for the document with its first
  //    view (message 61700 and the document deleted when that fails) and
  //    OnFrameForDocument is called; a frame that showed the document list
  //    gets the first view of a new document as its main pane, active.
  // 4. With a path: the wait cursor while the document's OnOpenDocument
  //    runs; when it fails, the document is closed, the document list shown
  //    unless it is there already, and null returned. Otherwise the path
  //    (and title) is set.
  // 5. The frame becomes the application's main window if there was none,
  //    and gets its initial update.
  // Returns the document, or null when nothing was opened.
  virtual CDocument* OpenDocumentFile(const std::optional<std::u16string>& path);

  // Shows the document list as the main frame's main pane (the frame is
  // made first when there is none; an earlier list is replaced), with the
  // template's filter and folder entry; a tap on a file opens it through
  // OpenDocumentFile. The frame hears of the list's creation. Null when no
  // frame could be made.
  virtual CDocList* ShowDocumentList();

  // Makes a frame through the factory and loads it; null (message 61700)
  // when that fails. The frame deletes itself when it closes.
  CFrameWnd* CreateNewFrame();

  // The document's bookkeeping (CDocument calls them).
  void AddDocument(CDocument* document);
  void RemoveDocument(CDocument* document);
  // A document of this template closed: when the main frame is left without
  // a main pane, it shows the document list again.
  virtual void OnDocumentClosed(CDocument* document);

 protected:
  // A frame is about to show a document: a new frame made for it, or the
  // existing frame when a new document is made. The base does nothing; a
  // program applies its stored bar visibility here.
  virtual void OnFrameForDocument(CFrameWnd* frame);

 private:
  std::uint32_t resourceNumber_;
  Classes classes_;
  QString filter_ = QStringLiteral("All Files|*.*||");
  QString folderText_ = QStringLiteral("All Folders");
  CDocument* document_ = nullptr;
};

}  // namespace tbm::ui
