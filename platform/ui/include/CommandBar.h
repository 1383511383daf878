// The command bar: the handheld's bar along the bottom of the screen that
// holds the menu bar (the titles of the pop-up menus) and, after it, tool
// buttons. Its menus open upwards, as at the bottom of a screen they must.
// Every menu item is the frame's action for its command, brought up to date
// along the command route just before its menu shows.
#pragma once

#include <cstdint>

#include "ResourceLibrary.h"
#include "ToolBar.h"

class QMenuBar;

namespace tbm::ui {

class CCommandBar : public CToolBar {
 public:
  // The bar's height on the screen.
  static constexpr int kHeight = 26;

  explicit CCommandBar(CFrameWnd* frame, QWidget* parent = nullptr);
  ~CCommandBar() override;

  // Puts menu bar number of the language library in front of the buttons,
  // replacing an earlier one. False (and logged, nothing changed) when the
  // library lacks it or it cannot be read.
  bool InsertMenuBar(std::uint32_t number);
  // Puts menu's pop-ups (and any command items at its top level) in front
  // of the buttons, replacing an earlier menu bar.
  void InsertMenuBar(const res::Menu& menu);
  // The menu bar, or null before one is inserted.
  QMenuBar* menuBar() const { return menuBar_; }

  int BarHeight() const override { return kHeight; }

 protected:
  int FirstButtonSlot() const override { return menuBar_ != nullptr ? 1 : 0; }

 private:
  QMenuBar* menuBar_ = nullptr;
};

}  // namespace tbm::ui
