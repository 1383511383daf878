// Finding a live window of the current machine by its handle, whether this
// process owns it or another one does.
#pragma once

#include <optional>
#include <string>

#include "WindowEntry.h"
#include "WindowHost.h"

namespace tbm::wnd {

struct FoundWindow {
  WindowEntry entry;                     // as published (as kept, for our own)
  std::string machineTag;                // names its socket
  std::optional<LocalWindowView> local;  // set when this process owns it
};

// The window, or nullopt when no live window has that handle.
std::optional<FoundWindow> LookUpWindow(HWND window);

}  // namespace tbm::wnd
