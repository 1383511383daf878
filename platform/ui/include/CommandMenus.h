// Menus from the language library's menu resources. Every command item of
// a built menu is the frame's action for that command
// (CFrameWnd::CommandAction): choosing it routes the command, and just
// before the menu shows, the frame's idle update sets it enabled, checked
// or radio-marked. The first menu that names a command gives the action its
// text; an item whose menu names the command otherwise keeps its own text
// on an action of the menu's that follows the command's action.
#pragma once

#include <QPoint>
#include <cstdint>
#include <memory>

#include "ResourceLibrary.h"

class QMenu;
class QMenuBar;
class QWidget;

namespace tbm::ui {

class CCmdTarget;
class CFrameWnd;

// Fills bar with menu's top-level items: each pop-up becomes a menu title,
// each command item a command on the bar itself.
void BuildMenuBar(QMenuBar* bar, const res::Menu& menu, CFrameWnd* frame);

// A pop-up menu of the items of menu's first pop-up (a context-menu resource
// holds its menu as the first and only pop-up), owned by parent. Null when
// menu has no pop-up or the pop-up is empty.
QMenu* BuildContextMenu(const res::Menu& menu, CFrameWnd* frame, QWidget* parent);

// Shows the context menu of menu (as BuildContextMenu makes it) with its top
// left corner at globalPosition, moved to stay on the screen, and returns at
// once; the menu deletes itself when it closes, and a chosen command is
// routed through frame. Returns the menu shown, or null when there was
// nothing to show.
QMenu* TrackPopupMenu(const res::Menu& menu, QPoint globalPosition, CFrameWnd* frame);
// The same for menu number of the language library; null (logged) when the
// library lacks it or it cannot be read.
QMenu* TrackPopupMenu(std::uint32_t number, QPoint globalPosition, CFrameWnd* frame);

// A pop-up menu of the items of menu's first pop-up whose commands go
// straight to target (outside any frame: a dialog's), each item's state
// set by target just before the menu shows. Null when menu has no pop-up
// or the pop-up is empty.
QMenu* BuildCommandMenu(const res::Menu& menu, std::shared_ptr<CCmdTarget> target, QWidget* parent);

// Reads menu number of the program's language library into *menu; false
// (logged) when there is no library, the library lacks it or it cannot be
// read.
bool LoadMenuResource(std::uint32_t number, res::Menu* menu);

}  // namespace tbm::ui
