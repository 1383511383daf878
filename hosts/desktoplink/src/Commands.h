// The commands of tbm-desktoplink besides "run" (ServiceRun.h). Each prints
// what it did on standard output and fails in words.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "Status.h"

namespace tbm::desktoplink {

// "register MODULE" / "unregister MODULE".
Status RegisterCommand(const std::string& module, bool unregister);

// "providers": the registered object types, their program identifiers and
// modules.
Status ProvidersCommand();

// "partnerships": the desktop's partnership and its handheld's settings.
Status PartnershipsCommand();

// "set": changes the handheld's settings (each given one).
Status SetCommand(std::optional<bool> updateOnDocking, std::optional<bool> continuouslyUpdate);

// "sync": asks the running service for a synchronisation and waits up to
// limit for it to finish; prints what the providers said.
Status SyncCommand(std::chrono::seconds limit);

// "options [TYPE]": shows the options dialog of the provider of TYPE (the
// only one registered when TYPE is empty), loaded in this process. Needs a
// display; refused in words without one (exit status 2 through *exitCode).
Status OptionsCommand(const std::string& objectType, const char* programPath, int* exitCode);

}  // namespace tbm::desktoplink
