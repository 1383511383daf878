// Which machine a process stands on, and where that machine lives.
//
// The system has two sides, the handheld and the desktop, and both run here
// as ordinary processes. Each side has a machine root, a folder standing for
// that machine: the handheld's file system, registry and temporary folder
// live in the device root, the desktop's registry and data in the desktop
// root. Named objects (shared sections, mutexes, window sockets) carry a
// short tag made from their machine's root, so two emulated handhelds, or
// two test runs with their own roots, never see each other's objects.
#pragma once

#include <string>

namespace tbm {

enum class Machine { Handheld, Desktop };

// The machine this process stands on. A process is on the handheld unless
// it selects the desktop (SelectMachine) or starts with TBM_MACHINE=desktop.
Machine CurrentMachine();
void SelectMachine(Machine machine);

// A machine's root as an absolute host path without a trailing '/'.
// Handheld: $TBM_DEVICE_ROOT, desktop: $TBM_DESKTOP_ROOT, when set and not
// empty (a relative value is taken from the current folder); otherwise
// $XDG_DATA_HOME/tabulon/device or .../desktop, where XDG_DATA_HOME
// defaults to $HOME/.local/share (a relative XDG_DATA_HOME is ignored).
// The environment is read on every call; nothing is cached. Does not create
// the folder.
std::string MachineRoot(Machine machine);
std::string MachineRoot();  // of the current machine

// Eight lower-case hex digits that stand for a machine root in the names of
// named objects: a hash of the root path, so equal roots give equal tags.
std::string MachineTag(Machine machine);
std::string MachineTag();  // of the current machine

}  // namespace tbm
