// The sockets sent messages travel on: one listening socket per window in
// the abstract namespace (nothing on disk to clean up: the name goes with the
// last descriptor, so a process that dies takes its windows' names along).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "UniqueFd.h"

namespace tbm::wnd {

// The name of a window's socket, without the leading NUL of the abstract
// namespace: it carries the machine's tag, so equal handles on two machines
// never meet.
std::string WindowSocketName(std::string_view machineTag, std::uint32_t hwnd);

// A non-blocking socket listening on name. An empty UniqueFd on failure,
// with errno set (EADDRINUSE when another socket has the name).
UniqueFd ListenOnWindowSocket(std::string_view name);

// A blocking socket connected to name, waiting at most timeoutMilliseconds
// (-1: without limit) when the listener's backlog is full. An empty UniqueFd
// on failure, with errno set (ECONNREFUSED when nobody listens).
UniqueFd ConnectToWindowSocket(std::string_view name, int timeoutMilliseconds);

// The process and user at the other end of a connected Unix-domain socket,
// as the kernel recorded them.
struct PeerCredentials {
  std::uint32_t pid = 0;
  std::uint32_t uid = 0;
};
std::optional<PeerCredentials> PeerOf(int socket);

}  // namespace tbm::wnd
