#include "AbstractSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>

namespace tbm {

namespace {

constexpr int kBacklog = 64;

// The address of an abstract name: a NUL, then the name's bytes (no
// terminator; the length says where it ends).
socklen_t AbstractAddress(std::string_view name, sockaddr_un* address) {
  std::memset(address, 0, sizeof *address);
  address->sun_family = AF_UNIX;
  const std::size_t length = std::min(name.size(), sizeof address->sun_path - 1);
  std::memcpy(address->sun_path + 1, name.data(), length);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// Closes fd and reports failure with the errno of the call that failed.
UniqueFd Failed(UniqueFd fd) {
  const int error = errno;
  fd.Reset();
  errno = error;
  return {};
}

}  // namespace

UniqueFd ListenOnAbstractSocket(std::string_view name) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!fd) return {};
  sockaddr_un address;
  const socklen_t length = AbstractAddress(name, &address);
  if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
      ::listen(fd.get(), kBacklog) != 0) {
    return Failed(std::move(fd));
  }
  return fd;
}

UniqueFd ConnectToAbstractSocket(std::string_view name, int timeoutMilliseconds) {
  UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!fd) return {};
  if (timeoutMilliseconds >= 0) {
    // A blocking connect waits for room in a full backlog as long as the
    // send time limit allows (a limit of zero would mean none).
    timeval limit{};
    limit.tv_sec = timeoutMilliseconds / 1000;
    limit.tv_usec = (timeoutMilliseconds % 1000) * 1000;
    if (timeoutMilliseconds == 0) limit.tv_usec = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  }
  sockaddr_un address;
  const socklen_t length = AbstractAddress(name, &address);
  int result;
  do {
    result = ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), length);
  } while (result != 0 && errno == EINTR);
  if (result != 0) return Failed(std::move(fd));
  return fd;
}

UniqueFd ConnectToSameUser(std::string_view name, int timeoutMilliseconds) {
  UniqueFd fd = ConnectToAbstractSocket(name, timeoutMilliseconds);
  if (!fd) return {};
  if (!PeerIsThisUser(fd.get())) {
    errno = EACCES;
    return Failed(std::move(fd));
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) != 0) {
    return Failed(std::move(fd));
  }
  return fd;
}

UniqueFd AcceptSameUser(int listener, bool* more) {
  *more = true;
  UniqueFd fd(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
  if (!fd) {
    // Nothing waiting; out of descriptors (or a connection that went before
    // it was taken) ends this round too: the next round tries again.
    *more = errno == EINTR || errno == ECONNABORTED;
    return {};
  }
  if (!PeerIsThisUser(fd.get())) return {};
  return fd;
}

std::optional<PeerCredentials> PeerOf(int socket) {
  ucred credentials{};
  socklen_t size = sizeof credentials;
  if (::getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 ||
      size != sizeof credentials) {
    return std::nullopt;
  }
  return PeerCredentials{static_cast<std::uint32_t>(credentials.pid),
                         static_cast<std::uint32_t>(credentials.uid)};
}

bool PeerIsThisUser(int socket) {
  const auto peer = PeerOf(socket);
  return peer && peer->uid == ::geteuid();
}

}  // namespace tbm
