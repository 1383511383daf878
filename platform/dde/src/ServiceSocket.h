// Where DDE servers listen and how peers reach them.
//
// Every service of the desktop machine listens on a Unix-domain socket in
// the abstract namespace (nothing on disk: the name goes with the server's
// last descriptor, so a server that dies frees its name at once). The name
// carries the desktop machine's tag, the user's id and a hash of the
// service name with letters folded, so equal names in other cases meet at
// one socket and the services of another machine root or another user are
// never seen. Anyone may bind a name in the abstract namespace, so both
// ends check that the peer runs as the same user: servers listen and
// accept with ListenOnAbstractSocket and AcceptSameUser, clients connect
// with ConnectToSameUser (AbstractSocket.h).
//
// Instances that hear registrations listen on a socket of their own; a
// server that registers or withdraws a name tells each of them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "AbstractSocket.h"

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

}  // namespace tbm::dde
