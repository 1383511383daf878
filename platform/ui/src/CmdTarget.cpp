#include "CmdTarget.h"

namespace tbm::ui {

bool CCmdTarget::OnCmdMsg(CommandId id) {
  auto found = commands_.find(id);
  if (found == commands_.end()) return false;
  found->second();
  return true;
}

bool CCmdTarget::OnUpdateCmdMsg(CCmdUI* ui) {
  auto update = updates_.find(ui->id());
  if (update != updates_.end()) {
    update->second(ui);
    return true;
  }
  if (commands_.count(ui->id()) != 0) {
    ui->Enable(true);
    return true;
  }
  return false;
}

void CCmdTarget::OnCommand(CommandId id, CommandHandler handler) {
  commands_[id] = std::move(handler);
}

void CCmdTarget::OnUpdateCommand(CommandId id, UpdateHandler handler) {
  updates_[id] = std::move(handler);
}

}  // namespace tbm::ui
