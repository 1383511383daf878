// The sockets sent messages travel on: one listening socket per window in
// the abstract namespace (nothing on disk to clean up: the name goes with the
// last descriptor, so a process that dies takes its windows' names along).
// Listening, connecting and checking peers are AbstractSocket.h's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "AbstractSocket.h"

namespace tbm::wnd {

// The name of a window's socket, without the leading NUL of the abstract
// namespace: it carries the machine's tag, so equal handles on two machines
// never meet.
std::string WindowSocketName(std::string_view machineTag, std::uint32_t hwnd);

}  // namespace tbm::wnd
