// Finding a window by its handle.
#include "WindowLookup.h"

#include "Machine.h"
#include "WindowDirectory.h"

namespace tbm::wnd {

std::optional<FoundWindow> LookUpWindow(HWND window) {
  if (window == nullptr) return std::nullopt;
  if (auto local = WindowHost::Get().Find(window)) {
    FoundWindow found{local->entry, local->machineTag, std::nullopt};
    found.local = std::move(local);
    return found;
  }
  auto entry = WindowDirectory::OfCurrentMachine().ReadLive(HandleNumber(window));
  if (!entry) return std::nullopt;
  return FoundWindow{std::move(*entry), MachineTag(), std::nullopt};
}

}  // namespace tbm::wnd
