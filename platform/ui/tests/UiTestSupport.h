// What the framework's tests share: targets whose handlers a test sets, a
// frame with the three bars, menus and tool bars written as the language
// library hands them out, and a way to look at what the screen shows.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "CmdTarget.h"
#include "CommandBar.h"
#include "DocTemplate.h"
#include "Document.h"
#include "FrameWnd.h"
#include "ResourceLibrary.h"
#include "StatusBar.h"
#include "ToolBar.h"
#include "View.h"
#include "WinApp.h"

namespace tbm::ui::testing {

// Runs what the event loop has queued (posted commands, the idle update,
// deferred deletions).
inline void ProcessEvents() {
  for (int round = 0; round < 3; ++round) {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// Saves a grab for a person to look at when TBM_UI_GRAB_DIR names a folder.
// A language library built beside the test program (suffix "409" for
// English), as the handheld program finds its own.
inline std::string LanguageLibraryPath(const std::string& suffix) {
  return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tbmres" /
          ("tbmres" + suffix + ".so"))
      .string();
}

inline void SaveGrab(const QPixmap& grab, const std::string& name) {
  const char* folder = std::getenv("TBM_UI_GRAB_DIR");
  if (folder == nullptr) return;
  grab.save(QString::fromStdString((std::filesystem::path(folder) / (name + ".png")).string()));
}

// Handler registration opened up for tests.
class TestTarget : public CCmdTarget {
 public:
  using CCmdTarget::OnCommand;
  using CCmdTarget::OnUpdateCommand;
};

class TestDocument : public CDocument {
 public:
  using CCmdTarget::OnCommand;
  using CCmdTarget::OnUpdateCommand;

  // OnOpenDocument fails for a path that contains failWhen.
  std::u16string failWhen = u"Damaged";
  int opened = 0;
  int closed = 0;
  static inline int alive = 0;

  TestDocument() { ++alive; }
  ~TestDocument() override { --alive; }

  bool OnOpenDocument(const std::u16string& path) override {
    ++opened;
    return path.find(failWhen) == std::u16string::npos;
  }
  void OnCloseDocument() override {
    ++closed;
    CDocument::OnCloseDocument();
  }
};

class TestView : public CView {
 public:
  using CCmdTarget::OnCommand;
  using CCmdTarget::OnUpdateCommand;

  TestView() = default;
  TestView(CCmdTarget* editor) : editor_(editor) {}

  int initialUpdates = 0;
  void OnInitialUpdate() override {
    ++initialUpdates;
    CView::OnInitialUpdate();
  }

 protected:
  CCmdTarget* EditorTarget() override { return editor_; }

 private:
  CCmdTarget* editor_ = nullptr;
};

// A second kind of view, for switching.
class OtherView : public TestView {};

class TestApp : public CWinApp {
 public:
  using CCmdTarget::OnCommand;
  using CCmdTarget::OnUpdateCommand;
};

// A status bar that fills each pane with a colour of its own and writes its
// text in it, so a test can see from the pixels which pane is where.
class TestStatusBar : public CStatusBar {
 public:
  static QColor PaneColour(int index) {
    static const QColor colours[] = {QColor(200, 40, 40), QColor(40, 160, 40), QColor(40, 40, 200)};
    return colours[index % 3];
  }
  int drawn = 0;

 protected:
  void DrawItem(QPainter& painter, int index, const QRect& rect) override;
};

// Menu and tool-bar resources as the language library hands them out.
res::MenuItem Command(const char16_t* text, CommandId id);
res::MenuItem Popup(const char16_t* text, std::vector<res::MenuItem> children);
res::MenuItem Separator();
res::ToolBar Buttons(std::initializer_list<CommandId> ids);

// A frame as the program makes its own: a command bar with a menu bar and
// buttons, a navigation tool bar and a status bar of three panes (title 120
// pixels, record stretching, found set 15).
class TestFrame : public CFrameWnd {
 public:
  using CCmdTarget::OnCommand;
  using CCmdTarget::OnUpdateCommand;

  res::Menu menu;
  int helpRequests = 0;
  int docListsCreated = 0;
  int activations = 0;

  TestStatusBar* testStatusBar() const { return static_cast<TestStatusBar*>(statusBar()); }

 protected:
  bool OnCreate() override;
  bool OnHelpRequest() override {
    ++helpRequests;
    return true;
  }
  void OnActivateFrame(bool active, bool byTap) override {
    if (active) ++activations;
    CFrameWnd::OnActivateFrame(active, byTap);
  }
  void OnDocListCreated(CDocList* list) override;
};

// The commands the test menus and bars carry.
inline constexpr CommandId kEnabledCommand = ID_RECORD_NEW;
inline constexpr CommandId kCheckedCommand = ID_VIEW_OPTIONS;
inline constexpr CommandId kUnhandledCommand = ID_RECORD_GOTO;

res::Menu TestMenuBar();

}  // namespace tbm::ui::testing
