// Message boxes, by text or by resource number, and the wait cursor.
//
// A box is a real modal dialog. A program running without a display, and
// the tests, install an answerer instead: it receives every box that would
// be shown (its text, caption, icon and buttons) and returns the button
// chosen, so no run ever blocks on a box nobody can see.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

class QWidget;

namespace tbm::ui {

enum class MessageIcon { kNone, kInformation, kWarning, kError, kQuestion };
enum class MessageButtons { kOk, kOkCancel, kYesNo, kYesNoCancel };
enum class MessageAnswer { kOk, kCancel, kYes, kNo };

struct MessageBoxRequest {
  std::u16string text;
  std::u16string caption;
  MessageIcon icon = MessageIcon::kNone;
  MessageButtons buttons = MessageButtons::kOk;
};

// Shows the box over parent (the main window when null) and returns the
// button chosen. The caption defaults to the program's name.
MessageAnswer ShowMessageBox(const MessageBoxRequest& request, QWidget* parent = nullptr);

// Replaces real boxes by answerer for the rest of the process (null puts
// the real boxes back).
using MessageBoxAnswerer = std::function<MessageAnswer(const MessageBoxRequest&)>;
void SetMessageBoxAnswerer(MessageBoxAnswerer answerer);

// The wait cursor while the object lives.
class CWaitCursor {
 public:
  CWaitCursor();
  ~CWaitCursor();
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
};

}  // namespace tbm::ui
