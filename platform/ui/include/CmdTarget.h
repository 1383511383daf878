// Commands and their update handlers: the framework's message maps.
//
// A command (a menu item, a tool-bar button, a command sent by code) is a
// number (CommandIds.h). It goes along a fixed route of targets until one
// handles it: the field editor of the active view, the active view, its
// document, the document's template, the frame, the application
// (CFrameWnd::RouteCommand). Before a menu or bar shows, and after every
// handled input event (the framework's idle update), each command's user
// interface is brought up to date along the same route: the first target
// with an update handler for the command sets it enabled, checked or
// radio-marked through a CCmdUI. A command that no target handles is shown
// disabled.
//
// A target registers its handlers once, in its constructor, as a message
// map would list them.
#pragma once

#include <functional>
#include <string>
#include <unordered_map>

#include "CommandIds.h"

namespace tbm::ui {

// The user-interface state of one command as its update handler leaves it.
class CCmdUI {
 public:
  explicit CCmdUI(CommandId id) : id_(id) {}
  virtual ~CCmdUI() = default;

  CommandId id() const { return id_; }

  virtual void Enable(bool on = true) { enabled_ = on; }
  // 0 unchecked, 1 checked.
  virtual void SetCheck(int check = 1) { checked_ = check; }
  // The radio mark of one choice among several.
  virtual void SetRadio(bool on = true) { radio_ = on; }
  // A status-bar pane's text.
  virtual void SetText(const std::u16string& text) { text_ = text; }

  bool enabled() const { return enabled_; }
  int checked() const { return checked_; }
  bool radio() const { return radio_; }
  const std::u16string& text() const { return text_; }

 private:
  CommandId id_;
  bool enabled_ = true;
  int checked_ = 0;
  bool radio_ = false;
  std::u16string text_;
};

class CCmdTarget {
 public:
  using CommandHandler = std::function<void()>;
  using UpdateHandler = std::function<void(CCmdUI*)>;

  virtual ~CCmdTarget() = default;

  // Runs this target's handler for id. Returns false when it has none.
  // Subclasses that route further (a view to its editor, a frame to its
  // view) override these and call the base for their own handlers.
  virtual bool OnCmdMsg(CommandId id);
  // Runs this target's update handler for ui->id(). Returns false when it
  // has none; a target with a command handler but no update handler
  // enables the command and returns true.
  virtual bool OnUpdateCmdMsg(CCmdUI* ui);

 protected:
  void OnCommand(CommandId id, CommandHandler handler);
  void OnUpdateCommand(CommandId id, UpdateHandler handler);

 private:
  std::unordered_map<CommandId, CommandHandler> commands_;
  std::unordered_map<CommandId, UpdateHandler> updates_;
};

}  // namespace tbm::ui
