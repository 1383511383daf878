// Abstract-namespace sockets of windows.
#include "WindowSocket.h"

#include <cstdio>

namespace tbm::wnd {

std::string WindowSocketName(std::string_view machineTag, std::uint32_t hwnd) {
  char id[9];
  std::snprintf(id, sizeof id, "%08x", hwnd);
  std::string name = "tabulon-";
  name += machineTag;
  name += "-window-";
  name += id;
  return name;
}

}  // namespace tbm::wnd
