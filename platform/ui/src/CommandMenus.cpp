#include "CommandMenus.h"

#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <string>

#include "FrameWnd.h"
#include "FrameworkLog.h"
#include "Resources.h"
#include "WinApp.h"

namespace tbm::ui {

namespace {

QAction* CommandItem(const res::MenuItem& item, CFrameWnd* frame) {
  QAction* action = frame->CommandAction(item.command);
  // One action serves every menu that names the command; the first text
  // given is its text.
  if (action->text().isEmpty()) action->setText(ToQString(item.text));
  return action;
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
        menu->addAction(CommandItem(item, frame));
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
        bar->addAction(CommandItem(item, frame));
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
