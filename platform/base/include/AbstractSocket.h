// Unix-domain stream sockets in the abstract namespace, on which windows
// answer sent messages and DDE services hold their conversations.
//
// An abstract name leaves nothing on disk: it goes with the last
// descriptor that holds it, so a process that dies frees its names at
// once. Anyone may bind any abstract name, so a listener accepts, and a
// caller keeps, only a peer that runs as the same user (SO_PEERCRED); the
// names themselves (which machine, which user, which window or service)
// are the callers' own.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "UniqueFd.h"

namespace tbm {

// A non-blocking socket listening on name (without the leading NUL of the
// abstract namespace; a name longer than a socket address holds is cut).
// Empty on failure, with errno set (EADDRINUSE when another socket has the
// name).
UniqueFd ListenOnAbstractSocket(std::string_view name);

// A blocking socket connected to name, waiting at most timeoutMilliseconds
// (-1: without limit) when the listener's backlog is full. Empty on
// failure, with errno set (ECONNREFUSED when nobody listens). The peer is
// not checked: see PeerOf.
UniqueFd ConnectToAbstractSocket(std::string_view name, int timeoutMilliseconds);

// As ConnectToAbstractSocket, then checks that the listener runs as this
// user and makes the socket non-blocking. Empty on failure, with errno set
// (EACCES when another user listens).
UniqueFd ConnectToSameUser(std::string_view name, int timeoutMilliseconds);

// A connection taken from a listening socket, when one waits and its peer
// runs as this user (a peer of another user is closed at once). Empty when
// none was taken; *more is false when there is no point in asking again
// before the listener is readable anew (the backlog is empty, or the
// process is out of descriptors).
UniqueFd AcceptSameUser(int listener, bool* more);

// The process and user at the other end of a connected Unix-domain socket,
// as the kernel recorded them.
struct PeerCredentials {
  std::uint32_t pid = 0;
  std::uint32_t uid = 0;
};
std::optional<PeerCredentials> PeerOf(int socket);

// Whether the other end of a connected socket runs as this user.
bool PeerIsThisUser(int socket);

}  // namespace tbm
