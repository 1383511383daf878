// Abstract-namespace sockets of DDE services and registration notices.
#include "ServiceSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>

#include "Machine.h"

namespace tbm::dde {

namespace {

constexpr int kBacklog = 64;

socklen_t AbstractAddress(std::string_view name, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  const std::size_t length = std::min(name.size(), sizeof address->sun_path - 1);
  std::memcpy(address->sun_path + 1, name.data(), length);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

std::optional<ucred> PeerCredentials(int socket) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      size != sizeof credentials) {
    return std::nullopt;
  }
  return credentials;
}

bool PeerIsThisUser(int socket) {
  const auto peer = PeerCredentials(socket);
  return peer && peer->uid == ::geteuid();
}

// "tabulon-<desktop tag>-dde-<user>-": the services and notice sockets of
// this machine and user.
std::string MachinePrefix() {
  char user[16];
  std::snprintf(user, sizeof user, "%u", static_cast<unsigned>(::geteuid()));
  return "tabulon-" + MachineTag(Machine::Desktop) + "-dde-" + user + "-";
}

Socket Failed(Socket socket) {
  const int error = errno;
  socket.Reset();
  errno = error;
  return {};
}

}  // namespace

std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

std::string ServiceSocketName(std::string_view service) {
  // FNV-1a, 64 bits: names up to 255 bytes must fit a socket name of 107.
  // Two names with one hash would meet at one socket; the server compares
  // the name each client asks for, so the second is refused, not confused.
  std::uint64_t hash = 14695981039346656037ull;
  for (const unsigned char c : FoldName(service)) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return MachinePrefix() + "service-" + text;
}

std::string NoticeSocketPrefix() { return MachinePrefix() + "notices-"; }

std::string NoticeSocketName(std::uint32_t instance) {
  char text[32];
  std::snprintf(text, sizeof text, "%d-%u", static_cast<int>(::getpid()), instance);
  return NoticeSocketPrefix() + text;
}

std::vector<std::string> ListeningNoticeSockets() {
  // The kernel lists every Unix-domain socket of this network namespace,
  // an abstract name with '@' for its leading NUL; listeners carry the
  // accepting flag (__SO_ACCEPTCON, 0x10000) in their flags column.
  std::ifstream table("/proc/net/unix");
  const std::string wanted = "@" + NoticeSocketPrefix();
  std::set<std::string> names;
  std::string line;
  std::getline(table, line);  // the column titles
  while (std::getline(table, line)) {
    const auto at = line.find(wanted);
    if (at == std::string::npos) continue;
    unsigned long flags = 0;
    if (std::sscanf(line.c_str(), "%*s %*s %*s %lx", &flags) != 1 || (flags & 0x10000) == 0) {
      continue;
    }
    names.insert(line.substr(at + 1));
  }
  return {names.begin(), names.end()};
}

Socket Listen(std::string_view name) {
  Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!socket) return {};
  sockaddr_un address;
  const socklen_t length = AbstractAddress(name, &address);
  if (::bind(socket.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(socket.get(), kBacklog) != 0) {
    return Failed(std::move(socket));
  }
  return socket;
}

Socket Connect(std::string_view name, int timeoutMilliseconds) {
  Socket socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return {};
  // A blocking connect waits for room in a full backlog as long as the send
  // time limit allows; afterwards the socket is made non-blocking.
  timeval limit{};
  limit.tv_sec = timeoutMilliseconds / 1000;
  limit.tv_usec = std::max(1, (timeoutMilliseconds % 1000) * 1000);
  ::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  sockaddr_un address;
  const socklen_t length = AbstractAddress(name, &address);
  int result;
  do {
    result = ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), length);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return Failed(std::move(socket));
  if (!PeerIsThisUser(socket.get())) {
    errno = EACCES;
    return Failed(std::move(socket));
  }
  const int flags = ::fcntl(socket.get(), F_GETFL);
  if (flags < 0 || ::fcntl(socket.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    return Failed(std::move(socket));
  }
  return socket;
}

Socket AcceptSameUser(int listener, bool* more) {
  *more = true;
  Socket socket(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!socket) {
    // Nothing waiting; out of descriptors (or a connection that went before
    // it was taken) ends this round too: the next round tries again.
    *more = errno == EINTR || errno == ECONNABORTED;
    return {};
  }
  if (!PeerIsThisUser(socket.get())) return {};
  return socket;
}

std::optional<pid_t> PeerProcess(int socket) {
  const auto peer = PeerCredentials(socket);
  if (!peer) return std::nullopt;
  return peer->pid;
}

}  // namespace tbm::dde
