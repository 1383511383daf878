// Where DDE servers listen and how peers reach them.
//
// Every service of the desktop machine listens on a Unix-domain socket in
// the abstract namespace (nothing on disk: the name goes with the server's
// last descriptor, so a server that dies frees its name at once). The name
// carries the desktop machine's tag, the user's id and a hash of the
// service name with letters folded, so equal names in other cases meet at
// one socket and the services of another machine root or another user are
// never seen. Anyone may bind a name in the abstract namespace, so both
// ends check that the peer runs as the same user (SO_PEERCRED).
//
// Instances that hear registrations listen on a socket of their own; a
// server that registers or withdraws a name tells each of them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Socket.h"

namespace tbm::dde {

// Names compare without regard to case: A to Z are a to z; other bytes
// stand for themselves (they may be parts of multibyte characters).
std::string FoldName(std::string_view name);

// The socket name of a service (without the abstract namespace's NUL).
std::string ServiceSocketName(std::string_view service);
// The socket name on which instance of this process hears registrations,
// and the start every such name of this machine and user shares.
std::string NoticeSocketName(std::uint32_t instance);
std::string NoticeSocketPrefix();
// The notice sockets of this machine and user that are listening now.
std::vector<std::string> ListeningNoticeSockets();

// A non-blocking socket listening on name. Empty on failure, with errno
// set (EADDRINUSE when another socket has the name).
Socket Listen(std::string_view name);

// A non-blocking socket connected to name, after checking that its listener
// runs as this user. Waits at most timeoutMilliseconds for room in a full
// backlog. Empty on failure, with errno set (ECONNREFUSED when nobody
// listens, EACCES when another user does).
Socket Connect(std::string_view name, int timeoutMilliseconds);

// A connection taken from a listening socket, when one waits and its peer
// runs as this user (a peer of another user is closed at once). Empty when
// none waits; *more is false when the backlog is empty.
Socket AcceptSameUser(int listener, bool* more);

// The process at the other end of a connected socket.
std::optional<pid_t> PeerProcess(int socket);

}  // namespace tbm::dde
