// The edit commands every text box of the program answers: undo, cut,
// copy, paste, clear and select all, from the edit menu (menu 109) or from
// a text box's tap-and-hold menu.
//
// Enabling: undo while the box can undo; paste while the clipboard holds
// text; cut, copy and clear while the selection is not empty; select all
// while the text is not empty. A read-only box offers only copy and select
// all. A combo box answers only when it takes typing (its line edit);
// for a drop-down list the commands stay disabled.
//
// One thread: the user-interface thread.
#pragma once

#include <QPoint>
#include <cstdint>
#include <functional>

#include "CmdTarget.h"

class QWidget;

namespace tbm::ui {

// Whether id is one of the six edit commands.
bool IsEditCommand(CommandId id);

// Runs edit command id on edit (a QLineEdit, QTextEdit, QPlainTextEdit or
// an editable QComboBox). False when edit is none of those, or id is not
// an edit command or is disabled for it.
bool RunEditCommand(QWidget* edit, CommandId id);
// Sets ui's state for an edit command on edit (disabled for anything but
// a text box); false when ui's command is not an edit command.
bool UpdateEditCommand(QWidget* edit, CCmdUI* ui);

// A command target answering the six edit commands on whatever box the
// given function names at the time (none: disabled).
class CEditCommandTarget : public CCmdTarget {
 public:
  explicit CEditCommandTarget(std::function<QWidget*()> edit);
  bool OnCmdMsg(CommandId id) override;
  bool OnUpdateCmdMsg(CCmdUI* ui) override;

 private:
  std::function<QWidget*()> edit_;
};

// Shows menu number (its first pop-up) at point of control (the control's
// coordinates), right-aligned there, for the window that holds control:
// through the frame's command route when that window is the frame (the
// chosen command reaches the active view's field editor and so the
// control), else straight to the edit commands of the focused text box.
// Returns whether a menu was shown.
bool ShowControlMenu(QWidget* control, QPoint point, std::uint32_t number);

// Gives text box edit (and, for a box that scrolls, its viewport)
// tap-and-hold: a hold shows menu number (ShowControlMenu). The watcher
// goes with the box.
void InstallControlMenu(QWidget* edit, std::uint32_t number);

}  // namespace tbm::ui
