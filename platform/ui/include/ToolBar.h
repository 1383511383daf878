// Tool bars: a row of buttons, each sending a command, with gaps between
// groups. The buttons show pictures of the language library and tool tips
// of their own; each button is the frame's action for its command
// (CFrameWnd::CommandAction), so it is enabled and checked as the
// command's update handler says, and pressing it routes the command.
//
// CToolBarEx is the navigation tool bar: flat, along the bottom of the
// frame above the command bar, with its border trimmed (ControlBar.h).
#pragma once

#include <QIcon>
#include <QSize>
#include <QString>
#include <cstdint>
#include <vector>

#include "CommandIds.h"
#include "ControlBar.h"
#include "ResourceLibrary.h"

class QHBoxLayout;
class QToolButton;

namespace tbm::ui {

class CToolBar : public CControlBar {
 public:
  // frame gives the buttons their actions; the bar is a child of parent,
  // or of frame when parent is null.
  explicit CToolBar(CFrameWnd* frame, QWidget* parent = nullptr);
  ~CToolBar() override;

  // Replaces the buttons by tool bar number of the language library. False
  // (and logged, buttons unchanged) when the library lacks it or it cannot
  // be read.
  bool LoadToolBar(std::uint32_t number);
  // Replaces the buttons by bar's. A picture the library lacks leaves its
  // button without a picture (logged); the button still works.
  void SetButtons(const res::ToolBar& bar);
  // Inserts a button at index (at the end when index is out of range) with
  // the icon given. The icon is the command's: it goes on the frame's action,
  // so every button of that command shows it (menus do not). A null icon
  // leaves the action's as it is.
  void InsertButton(int index, CommandId id, const QIcon& icon);
  void InsertSeparator(int index);
  // Deletes the button or gap at index; false when there is none.
  bool DeleteButton(int index);

  // Buttons and gaps, in order.
  int GetButtonCount() const { return static_cast<int>(items_.size()); }
  // The index of the first button with command id, or -1.
  int CommandToIndex(CommandId id) const;
  // The command of the button at index; 0 for a gap or an index out of range.
  CommandId GetItemID(int index) const;
  // The button at index, or null for a gap or an index out of range.
  QToolButton* GetButton(int index) const;
  // The item's rectangle in the bar's coordinates; empty when out of range.
  QRect GetItemRect(int index) const;

  // The size of every button (23 x 22 until set).
  QSize buttonSize() const { return buttonSize_; }
  void SetButtonSize(QSize size);

  // Tool tips of the buttons in order, gaps skipped: tips[0] belongs to the
  // first button. Extra tips are ignored; buttons without one have none.
  void SetToolTips(const std::vector<QString>& tips);
  QString GetToolTip(int index) const;

  int BarHeight() const override;
  void OnUpdateCmdUI(CFrameWnd* frame) override;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  QHBoxLayout* barLayout() const { return layout_; }
  CFrameWnd* frame() const { return frame_; }
  // Where the first button goes in the layout (after a menu bar).
  virtual int FirstButtonSlot() const { return 0; }

 private:
  struct Item {
    CommandId id = 0;
    QToolButton* button = nullptr;  // null for a gap
    QWidget* gap = nullptr;         // null for a button
    QString toolTip;
  };
  void Insert(int index, Item item);
  void Clear();

  CFrameWnd* frame_;
  QHBoxLayout* layout_;
  std::vector<Item> items_;
  QSize buttonSize_{23, 22};
};

class CToolBarEx : public CToolBar {
 public:
  explicit CToolBarEx(CFrameWnd* frame, QWidget* parent = nullptr);
};

}  // namespace tbm::ui
