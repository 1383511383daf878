// Requests from other processes. The program's main window is published in
// the handheld's window directory (class "TBMMainFrame") and answers
// WM_USER through the RPC block, also while one of its dialogs is open:
//   1 open the database a command line names (a second start hands its
//     command line over);
//   2 the name of the open database (the synchronisation agent asks);
//   3 close every view and document before a synchronisation (the value
//     being edited is stored); refused while a dialog or a message box is
//     open, or while the field being edited holds a value that cannot be
//     stored (the open database then stays out of the synchronisation).
// Requests run on the user-interface thread, between the user's actions.
//
// Like any window, it also takes input from other processes: WM_COMMAND
// picks a command as its menu item would (refused, answer 0, while the
// command is disabled or a dialog is open), WM_KEYDOWN and WM_CHAR press a
// key in the window that has the focus (the open dialog's, when one is
// open). Both act after the answer, from the event loop, as input does.
//
// A second start finds the running program's window, brings it to the
// front, hands it its command line and ends (HandToRunningInstance).
//
// One thread: the user-interface thread.
#pragma once

#include <QObject>
#include <optional>
#include <string>

#include "HandheldCalls.h"

class QSocketNotifier;

namespace tbm::app {

// The running program's window comes to the front when sent this.
constexpr UINT kBringToFrontMessage = WM_USER + 1;

class CProgramRequests : public QObject, public sync::HandheldCallHandler {
 public:
  // Publishes the main window (frame) and starts answering its messages;
  // window() stays null (logged) when the window cannot be published.
  explicit CProgramRequests(QWidget* frame);
  ~CProgramRequests() override;

  HWND window() const { return window_; }

  bool OpenDatabase(const std::u16string& commandLine) override;
  std::optional<std::u16string> OpenDatabaseName() override;
  bool CloseViewsForSync() override;

  // A label the scanner read: into the dialog that has the focus when it
  // takes labels (find, field editing), else to the frame's active record
  // view (the field being edited, or a find); then the next read is asked
  // for.
  void OnScannedLabel(WPARAM wParam, LPARAM lParam);

 private:
  static LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  bool PickCommand(WPARAM wParam);
  void PressKey(UINT message, WPARAM wParam);

  QWidget* frame_;
  HWND window_ = nullptr;
  QSocketNotifier* pump_ = nullptr;
};

// The path a command line names: its first quoted part, or the whole text
// without the blanks around it.
std::u16string PathOfCommandLine(const std::u16string& commandLine);

// At start-up: when this program runs already on the handheld (a visible
// main window of the same program file), brings that window to the front,
// hands it the command line naming path (when there is one) and returns
// true: this instance then ends. False when none runs.
bool HandToRunningInstance(const std::optional<std::u16string>& path);

}  // namespace tbm::app
