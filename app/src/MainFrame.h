// CMainFrame: the program's frame on the handheld's screen. It makes the
// command bar (menu bar 128 and tool bar 128), the navigation tool bar
// (tool bar 143) and the status bar with the database's title, the record
// position and the found-set mark; keeps which bars show in the profile
// ("BarInfo"); adapts the document list's command bar when the list shows;
// and answers help requests by starting the help viewer on the topic of
// what is shown.
#pragma once

#include <QString>
#include <cstdint>
#include <functional>

#include "FrameWnd.h"
#include "StatusBar.h"

namespace tbm::app {

// Help topics, as the help viewer's argument.
constexpr int kHelpAbout = 1;
constexpr int kHelpOpenDatabase = 103;
constexpr int kHelpDeleteDatabase = 104;
constexpr int kHelpViewRecords = 201;
constexpr int kHelpFindRecords = 204;
constexpr int kHelpSortRecords = 205;
constexpr int kHelpDisplayOptions = 301;
QString HelpTopic(int code);

// Starts the help viewer on topic; returns whether it started. Tests and
// programs without a viewer may replace the launcher (null puts the real
// one back).
using HelpLauncher = std::function<bool(const QString& topic)>;
void SetHelpLauncher(HelpLauncher launcher);
bool ShowHelp(int code);

// The profile value that keeps which bars show: bit 0 the navigation tool
// bar, bit 1 the status bar; 0xFFFF until something is stored.
constexpr int kToolBarBit = 0;
constexpr int kStatusBarBit = 1;
bool ReadBarBit(int bit);
void WriteBarBit(int bit, bool shown);

// The status bar: the title, the record position and the found-set mark,
// drawn by the program.
class CTBMStatusBar : public ui::CStatusBar {
 public:
  explicit CTBMStatusBar(QWidget* parent = nullptr);

  int BarHeight() const override;
  void OnUpdateCmdUI(ui::CFrameWnd* frame) override;

 protected:
  void DrawItem(QPainter& painter, int index, const QRect& rect) override;
};

class CProgramRequests;

class CMainFrame : public ui::CFrameWnd {
 public:
  CMainFrame();
  ~CMainFrame() override;

  // Shows or hides both bars as the profile says, and sets the command
  // bar's tool-bar button to match.
  void ApplyBarInfo();
  // Writes the bars' current visibility to the profile.
  void SaveBarInfo();

 protected:
  bool OnCreate() override;
  bool OnHelpRequest() override;
  void OnActivateFrame(bool active, bool byTap) override;
  void OnDocListCreated(ui::CDocList* list) override;

 public:
  // What answers other processes' requests (made with the frame).
  CProgramRequests* requests() const { return requests_; }

 private:
  CProgramRequests* requests_ = nullptr;
};

}  // namespace tbm::app
