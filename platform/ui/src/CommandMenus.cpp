#include "CommandMenus.h"

#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <string>

#include "CmdTarget.h"
#include "FrameWnd.h"
#include "FrameworkLog.h"
#include "Resources.h"
#include "WinApp.h"

namespace tbm::ui {

namespace {

// The item of a menu that names command id with text. An item is the
// command's action itself when the action has that text (the first menu to
// name a command gives the action its text). Where another menu names the
// command otherwise ("&New" in the menu bar, "&New Record" on tap-and-hold)
// the item is an action of its own, owned by owner, that shows the command
// action's state and triggers it.
QAction* CommandItem(const res::MenuItem& item, CFrameWnd* frame, QObject* owner) {
  QAction* command = frame->CommandAction(item.command);
  QString text = ToQString(item.text);
  if (command->text().isEmpty()) command->setText(text);
  if (command->text() == text) return command;

  auto* shown = new QAction(text, owner);
  auto follow = [shown, command] {
    if (command->actionGroup() != nullptr && shown->actionGroup() == nullptr) {
      auto* group = new QActionGroup(shown);
      group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
      group->addAction(shown);
    }
    shown->setEnabled(command->isEnabled());
    shown->setCheckable(command->isCheckable());
    shown->setChecked(command->isChecked());
  };
  follow();
  QObject::connect(command, &QAction::changed, shown, follow);
  QObject::connect(shown, &QAction::triggered, command, [command] { command->trigger(); });
  return shown;
}

// Every menu is brought up to date along the frame's route just before it
// shows.
void UpdateBeforeShowing(QMenu* menu, CFrameWnd* frame) {
  QPointer<CFrameWnd> owner(frame);
  QObject::connect(menu, &QMenu::aboutToShow, menu, [owner] {
    if (owner) owner->UpdateCommandUI();
  });
}

void FillMenu(QMenu* menu, const std::vector<res::MenuItem>& items, CFrameWnd* frame) {
  UpdateBeforeShowing(menu, frame);
  for (const res::MenuItem& item : items) {
    switch (item.kind) {
      case res::MenuItem::Kind::kPopup:
        FillMenu(menu->addMenu(ToQString(item.text)), item.children, frame);
        break;
      case res::MenuItem::Kind::kCommand:
        menu->addAction(CommandItem(item, frame, menu));
        break;
      case res::MenuItem::Kind::kSeparator:
        menu->addSeparator();
        break;
    }
  }
}

const res::MenuItem* FirstPopup(const res::Menu& menu) {
  for (const res::MenuItem& item : menu.items) {
    if (item.kind == res::MenuItem::Kind::kPopup) return &item;
  }
  return nullptr;
}

}  // namespace

void BuildMenuBar(QMenuBar* bar, const res::Menu& menu, CFrameWnd* frame) {
  for (const res::MenuItem& item : menu.items) {
    switch (item.kind) {
      case res::MenuItem::Kind::kPopup: {
        auto* popup = new QMenu(ToQString(item.text), bar);
        FillMenu(popup, item.children, frame);
        bar->addMenu(popup);
        break;
      }
      case res::MenuItem::Kind::kCommand:
        bar->addAction(CommandItem(item, frame, bar));
        break;
      case res::MenuItem::Kind::kSeparator:
        bar->addSeparator();
        break;
    }
  }
}

QMenu* BuildContextMenu(const res::Menu& menu, CFrameWnd* frame, QWidget* parent) {
  const res::MenuItem* popup = FirstPopup(menu);
  if (popup == nullptr || popup->children.empty()) return nullptr;
  auto* built = new QMenu(parent);
  FillMenu(built, popup->children, frame);
  return built;
}

QMenu* TrackPopupMenu(const res::Menu& menu, QPoint globalPosition, CFrameWnd* frame) {
  QMenu* shown = BuildContextMenu(menu, frame, frame);
  if (shown == nullptr) return nullptr;
  // The chosen action fires after the menu hides, and it is the frame's,
  // so the menu may go as soon as it hides.
  QObject::connect(shown, &QMenu::aboutToHide, shown, &QObject::deleteLater);
  shown->popup(globalPosition);
  return shown;
}

QMenu* TrackPopupMenu(std::uint32_t number, QPoint globalPosition, CFrameWnd* frame) {
  res::Menu menu;
  if (!LoadMenuResource(number, &menu)) return nullptr;
  return TrackPopupMenu(menu, globalPosition, frame);
}

QMenu* BuildCommandMenu(const res::Menu& menu, std::shared_ptr<CCmdTarget> target,
                        QWidget* parent) {
  const res::MenuItem* popup = FirstPopup(menu);
  if (popup == nullptr || popup->children.empty()) return nullptr;
  auto* built = new QMenu(parent);
  for (const res::MenuItem& item : popup->children) {
    if (item.kind == res::MenuItem::Kind::kSeparator) {
      built->addSeparator();
      continue;
    }
    if (item.kind != res::MenuItem::Kind::kCommand) continue;
    QAction* action = built->addAction(ToQString(item.text));
    const CommandId id = item.command;
    QObject::connect(action, &QAction::triggered, built, [target, id] { target->OnCmdMsg(id); });
    QObject::connect(built, &QMenu::aboutToShow, action, [target, action, id] {
      CCmdUI ui(id);
      action->setEnabled(target->OnUpdateCmdMsg(&ui) && ui.enabled());
    });
  }
  return built;
}

bool LoadMenuResource(std::uint32_t number, res::Menu* menu) {
  CWinApp* app = CWinApp::Get();
  if (app == nullptr || app->resources() == nullptr) {
    LogFrameworkError("menu " + std::to_string(number) + ": no language library is loaded");
    return false;
  }
  Status status = app->resources()->LoadMenu(number, menu);
  if (!status.ok()) {
    LogFrameworkError("menu " + std::to_string(number) + ": " + status.message());
    return false;
  }
  return true;
}

}  // namespace tbm::ui
