#include "RapiChannel.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "WinTypes.h"

namespace tbm::rapi {
namespace {

using Clock = std::chrono::steady_clock;

// TLS_AES_128_GCM_SHA256, the one cipher suite both sides offer.
constexpr unsigned char kCipherSuite[2] = {0x13, 0x01};
constexpr const char* kCipherSuiteName = "TLS_AES_128_GCM_SHA256";

Status TimedOut(const std::string& what, Milliseconds limit) {
  return Status(StatusCode::kIoFailed,
                what + " took longer than the time limit of " + std::to_string(limit.count()) +
                    " ms; the other side does not answer",
                WAIT_TIMEOUT);
}

Status Dropped(const std::string& what) {
  return Status(StatusCode::kIoFailed, "the other side closed the connection during " + what,
                kConnectionDropped);
}

Status SystemError(const std::string& what, int error) {
  if (error == ECONNRESET || error == EPIPE) return Dropped(what);
  return Status(StatusCode::kIoFailed, what + " failed: " + std::strerror(error),
                static_cast<std::uint32_t>(error));
}

// Waits until fd is ready for events or the deadline passes; false when it
// passed. An error or hang-up counts as ready: the next call reports it.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int polled = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1 << 30)));
    if (polled > 0) return true;
    if (polled < 0 && errno != EINTR) return true;
  }
}

bool MakeNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// The first error OpenSSL queued for this thread, in words; the queue is
// emptied.
std::string OpenSslError() {
  const unsigned long error = ERR_get_error();
  ERR_clear_error();
  if (error == 0) return "no further detail";
  char text[256];
  ERR_error_string_n(error, text, sizeof text);
  return text;
}

SSL_SESSION* MakePskSession(SSL* ssl, const std::vector<std::uint8_t>& key) {
  const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, kCipherSuite);
  if (cipher == nullptr) return nullptr;
  SSL_SESSION* session = SSL_SESSION_new();
  if (session == nullptr) return nullptr;
  if (SSL_SESSION_set1_master_key(session, key.data(), key.size()) != 1 ||
      SSL_SESSION_set_cipher(session, cipher) != 1 ||
      SSL_SESSION_set_protocol_version(session, TLS1_3_VERSION) != 1) {
    SSL_SESSION_free(session);
    return nullptr;
  }
  return session;
}

}  // namespace

// What the PSK callbacks need, reached from the SSL object.
struct TlsChannel::Impl {
  UniqueFd fd;
  SSL_CTX* context = nullptr;
  SSL* ssl = nullptr;
  // Desktop side: what it offers.
  const PskCredential* credential = nullptr;
  // Handheld side: where keys come from, and what the peer offered.
  const PskLookup* lookup = nullptr;
  std::string offered;
  bool known = false;

  ~Impl() {
    if (ssl != nullptr) SSL_free(ssl);
    if (context != nullptr) SSL_CTX_free(context);
  }

  static Impl* Of(SSL* ssl) { return static_cast<Impl*>(SSL_get_app_data(ssl)); }

  static int UseSession(SSL* ssl, const EVP_MD* digest, const unsigned char** id,
                        std::size_t* idLength, SSL_SESSION** session) {
    Impl* self = Of(ssl);
    *id = nullptr;
    *idLength = 0;
    *session = nullptr;
    const SSL_CIPHER* cipher = SSL_CIPHER_find(ssl, kCipherSuite);
    if (self == nullptr || cipher == nullptr) return 0;
    if (digest != nullptr && SSL_CIPHER_get_handshake_digest(cipher) != digest) return 1;
    *session = MakePskSession(ssl, self->credential->key);
    if (*session == nullptr) return 0;
    *id = reinterpret_cast<const unsigned char*>(self->credential->identity.data());
    *idLength = self->credential->identity.size();
    return 1;
  }

  static int FindSession(SSL* ssl, const unsigned char* id, std::size_t idLength,
                         SSL_SESSION** session) {
    Impl* self = Of(ssl);
    *session = nullptr;
    if (self == nullptr) return 0;
    self->offered.assign(reinterpret_cast<const char*>(id), idLength);
    const std::optional<std::vector<std::uint8_t>> key = (*self->lookup)(self->offered);
    self->known = key.has_value() && key->size() == kPskBytes;
    if (!self->known) return 1;  // no key: the handshake fails, there is no certificate
    *session = MakePskSession(ssl, *key);
    return *session != nullptr ? 1 : 0;
  }

  // Repeats an SSL call until it succeeds, fails, or the deadline passes.
  template <typename Call>
  Status Pump(const std::string& what, Milliseconds limit, Clock::time_point deadline, Call call,
              int* result) {
    for (;;) {
      ERR_clear_error();
      errno = 0;
      const int rc = call();
      if (rc > 0) {
        *result = rc;
        return Status();
      }
      const int error = SSL_get_error(ssl, rc);
      if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
        if (!WaitFor(fd.get(), error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, deadline)) {
          return TimedOut(what, limit);
        }
        continue;
      }
      if (error == SSL_ERROR_ZERO_RETURN) return Dropped(what);
      // A peer that vanished without closing TLS (killed, or its machine
      // gone) is an unexpected end of file to OpenSSL 3.
      if (error == SSL_ERROR_SSL &&
          ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING) {
        ERR_clear_error();
        return Dropped(what);
      }
      if (error == SSL_ERROR_SYSCALL) {
        if (errno == 0 || errno == ECONNRESET || errno == EPIPE) return Dropped(what);
        return SystemError(what, errno);
      }
      return Status(StatusCode::kIoFailed, what + " failed: " + OpenSslError());
    }
  }

  Status Write(std::span<const std::uint8_t> bytes, Milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!bytes.empty()) {
      int written = 0;
      const Status status = Pump(
          "sending a frame", limit, deadline,
          [&] {
            return SSL_write(ssl, bytes.data(),
                             static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)));
          },
          &written);
      if (!status.ok()) return status;
      bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return Status();
  }

  Status Read(std::span<std::uint8_t> bytes, Milliseconds limit, const std::string& what) {
    const auto deadline = Clock::now() + limit;
    while (!bytes.empty()) {
      int got = 0;
      const Status status = Pump(
          what, limit, deadline,
          [&] {
            return SSL_read(ssl, bytes.data(),
                            static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)));
          },
          &got);
      if (!status.ok()) return status;
      bytes = bytes.subspan(static_cast<std::size_t>(got));
    }
    return Status();
  }
};

namespace {

// A context for one side with TLS 1.3 only and the one cipher suite.
SSL_CTX* MakeContext(bool server) {
  SSL_CTX* context = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
  if (context == nullptr) return nullptr;
  if (SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION) != 1 ||
      SSL_CTX_set_ciphersuites(context, kCipherSuiteName) != 1) {
    SSL_CTX_free(context);
    return nullptr;
  }
  // Records are taken off the socket many at a time rather than header and
  // body each with its own read; whoever waits for the socket asks
  // SSL_has_pending first (WaitForFrame), so nothing taken waits unseen.
  SSL_CTX_set_read_ahead(context, 1);
  SSL_CTX_set_default_read_buffer_len(context, 256 * 1024);
  if (server) {
    SSL_CTX_set_num_tickets(context, 0);
    SSL_CTX_set_psk_find_session_callback(context, &TlsChannel::Impl::FindSession);
  } else {
    SSL_CTX_set_psk_use_session_callback(context, &TlsChannel::Impl::UseSession);
  }
  return context;
}

Status PrepareImpl(UniqueFd connection, bool server, std::unique_ptr<TlsChannel::Impl>* impl) {
  auto made = std::make_unique<TlsChannel::Impl>();
  made->fd = std::move(connection);
  if (!MakeNonBlocking(made->fd.get())) {
    return SystemError("preparing the connection", errno);
  }
  made->context = MakeContext(server);
  if (made->context != nullptr) made->ssl = SSL_new(made->context);
  if (made->ssl == nullptr || SSL_set_fd(made->ssl, made->fd.get()) != 1) {
    return Status(StatusCode::kFailed, "the TLS library could not be set up: " + OpenSslError());
  }
  SSL_set_app_data(made->ssl, made.get());
  *impl = std::move(made);
  return Status();
}

}  // namespace

std::string Endpoint::ToString() const {
  if (host.find(':') != std::string::npos) return "[" + host + "]:" + std::to_string(port);
  return host + ":" + std::to_string(port);
}

Status ParseEndpoint(const std::string& text, Endpoint* endpoint) {
  Endpoint result;
  std::string portText;
  if (!text.empty() && text[0] == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string::npos) {
      return Status(StatusCode::kInvalidArgument, "'" + text + "' lacks the closing ']'");
    }
    result.host = text.substr(1, close - 1);
    if (close + 1 < text.size()) {
      if (text[close + 1] != ':') {
        return Status(StatusCode::kInvalidArgument, "'" + text + "' is not HOST:PORT");
      }
      portText = text.substr(close + 2);
    }
  } else if (const std::size_t colon = text.rfind(':'); colon != std::string::npos) {
    result.host = text.substr(0, colon);
    portText = text.substr(colon + 1);
  } else {
    result.host = text;
  }
  if (result.host.empty()) {
    return Status(StatusCode::kInvalidArgument, "'" + text + "' names no host");
  }
  if (!portText.empty()) {
    char* end = nullptr;
    errno = 0;
    const unsigned long port = std::strtoul(portText.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || port > 65535 || portText[0] == '-') {
      return Status(StatusCode::kInvalidArgument,
                    "'" + portText + "' is not a port number (0 to 65535)");
    }
    result.port = static_cast<std::uint16_t>(port);
  }
  *endpoint = result;
  return Status();
}

namespace {

// The addresses for endpoint, numeric or by name.
Status Resolve(const Endpoint& endpoint, bool passive, addrinfo** found) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = passive ? AI_PASSIVE : 0;
  const std::string port = std::to_string(endpoint.port);
  const int rc = ::getaddrinfo(endpoint.host.c_str(), port.c_str(), &hints, found);
  if (rc != 0) {
    return Status(StatusCode::kInvalidArgument,
                  "the host '" + endpoint.host + "' cannot be found: " + ::gai_strerror(rc));
  }
  return Status();
}

}  // namespace

Status Listener::Open(const Endpoint& endpoint, Listener* listener) {
  addrinfo* found = nullptr;
  if (Status status = Resolve(endpoint, true, &found); !status.ok()) return status;
  Status failure(StatusCode::kFailed, "no address of '" + endpoint.host + "' can be listened on");
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    UniqueFd fd(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!fd) continue;
    const int yes = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(fd.get(), a->ai_addr, a->ai_addrlen) != 0) {
      const int error = errno;
      failure = error == EADDRINUSE
                    ? Status(StatusCode::kBusy, "the port " + std::to_string(endpoint.port) +
                                                    " of " + endpoint.host +
                                                    " is in use by another program; choose "
                                                    "another with --port")
                    : SystemError("listening on " + endpoint.ToString(), error);
      continue;
    }
    if (::listen(fd.get(), 16) != 0 || !MakeNonBlocking(fd.get())) {
      failure = SystemError("listening on " + endpoint.ToString(), errno);
      continue;
    }
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &length);
    listener->port_ =
        ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                          : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    listener->fd_ = std::move(fd);
    ::freeaddrinfo(found);
    return Status();
  }
  ::freeaddrinfo(found);
  return failure;
}

Status Listener::Accept(UniqueFd* connection) {
  const int fd = ::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED) {
      return Status(StatusCode::kBusy, "no connection is waiting");
    }
    return SystemError("accepting a connection", errno);
  }
  const int yes = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
  connection->Reset(fd);
  return Status();
}

Status ConnectTcp(const Endpoint& endpoint, Milliseconds limit, UniqueFd* connection) {
  const auto deadline = Clock::now() + limit;
  addrinfo* found = nullptr;
  if (Status status = Resolve(endpoint, false, &found); !status.ok()) return status;
  Status failure(StatusCode::kFailed, "no address of '" + endpoint.host + "' answers");
  for (addrinfo* a = found; a != nullptr; a = a->ai_next) {
    UniqueFd fd(
        ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
    if (!fd) continue;
    int error = 0;
    if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        if (!WaitFor(fd.get(), POLLOUT, deadline)) {
          failure = TimedOut("connecting to " + endpoint.ToString(), limit);
          continue;
        }
        socklen_t length = sizeof error;
        ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length);
      }
    }
    if (error == ECONNREFUSED) {
      failure = Status(StatusCode::kNotFound,
                       "nothing listens at " + endpoint.ToString() +
                           "; start the device connection service there (tbm-devicelink run "
                           "or pair)",
                       static_cast<std::uint32_t>(error));
      continue;
    }
    if (error != 0) {
      failure = SystemError("connecting to " + endpoint.ToString(), error);
      continue;
    }
    const int yes = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    *connection = std::move(fd);
    ::freeaddrinfo(found);
    return Status();
  }
  ::freeaddrinfo(found);
  return failure;
}

Status SendRaw(int fd, std::span<const std::uint8_t> bytes, Milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(sent));
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!WaitFor(fd, POLLOUT, deadline)) return TimedOut("sending", limit);
    } else {
      return SystemError("sending", errno);
    }
  }
  return Status();
}

Status ReceiveRaw(int fd, std::span<std::uint8_t> bytes, Milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (!bytes.empty()) {
    const ssize_t got = ::recv(fd, bytes.data(), bytes.size(), 0);
    if (got > 0) {
      bytes = bytes.subspan(static_cast<std::size_t>(got));
    } else if (got == 0) {
      return Dropped("the pairing greeting");
    } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      if (!WaitFor(fd, POLLIN, deadline)) return TimedOut("waiting for the handheld", limit);
    } else {
      return SystemError("receiving", errno);
    }
  }
  return Status();
}

TlsChannel::TlsChannel(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TlsChannel::~TlsChannel() {
  if (impl_ && impl_->ssl != nullptr) {
    ERR_clear_error();
    SSL_shutdown(impl_->ssl);  // a courtesy close_notify; not waited for
    ERR_clear_error();
  }
}

Status TlsChannel::Connect(UniqueFd connection, const PskCredential& credential, Milliseconds limit,
                           std::unique_ptr<TlsChannel>* channel) {
  std::unique_ptr<Impl> impl;
  if (Status status = PrepareImpl(std::move(connection), false, &impl); !status.ok()) {
    return status;
  }
  impl->credential = &credential;
  int done = 0;
  Impl* raw = impl.get();
  Status status = impl->Pump(
      "the handshake with the handheld", limit, Clock::now() + limit,
      [raw] { return SSL_connect(raw->ssl); }, &done);
  impl->credential = nullptr;
  if (!status.ok()) {
    if (status.platformError() == WAIT_TIMEOUT) return status;
    return Status(StatusCode::kNoPermission,
                  "the handheld refused the connection: this desktop is not paired with it, or "
                  "the partnership was forgotten there; pair again (tbm-devicelink pair on the "
                  "handheld, tbm-rapi pair here)",
                  status.platformError());
  }
  channel->reset(new TlsChannel(std::move(impl)));
  (*channel)->identity_ = credential.identity;
  return Status();
}

Status TlsChannel::Accept(UniqueFd connection, const PskLookup& lookup, Milliseconds limit,
                          std::unique_ptr<TlsChannel>* channel, std::string* offeredIdentity) {
  std::unique_ptr<Impl> impl;
  if (Status status = PrepareImpl(std::move(connection), true, &impl); !status.ok()) {
    return status;
  }
  impl->lookup = &lookup;
  int done = 0;
  Impl* raw = impl.get();
  Status status = impl->Pump(
      "the handshake with the desktop", limit, Clock::now() + limit,
      [raw] { return SSL_accept(raw->ssl); }, &done);
  impl->lookup = nullptr;
  if (offeredIdentity != nullptr) *offeredIdentity = impl->offered;
  if (!status.ok()) {
    if (status.platformError() == WAIT_TIMEOUT) return status;
    if (impl->offered.empty()) {
      return Status(StatusCode::kNoPermission,
                    "refused a connection that offered no partnership (" + status.message() + ")");
    }
    if (!impl->known) {
      return Status(
          StatusCode::kNoPermission,
          "refused a desktop offering the unknown partner identifier '" + impl->offered + "'");
    }
    return Status(StatusCode::kNoPermission, "refused a desktop offering partner identifier '" +
                                                 impl->offered + "' with a wrong key (" +
                                                 status.message() + ")");
  }
  channel->reset(new TlsChannel(std::move(impl)));
  (*channel)->identity_ = (*channel)->impl_->offered;
  return Status();
}

Status TlsChannel::Send(std::uint16_t call, std::uint32_t requestId,
                        std::span<const std::uint8_t> payload, Milliseconds limit) {
  // A large payload follows its header as it is, without being copied
  // into one frame first; a small one travels with it in one record.
  constexpr std::size_t kCopyBelowBytes = 64 * 1024;
  if (payload.size() < kCopyBelowBytes) {
    return impl_->Write(WriteFrame(call, requestId, payload), limit);
  }
  const auto header = WriteFrameHeader(call, requestId, static_cast<std::uint32_t>(payload.size()));
  const auto deadline = std::chrono::steady_clock::now() + limit;
  if (Status status = impl_->Write(header, limit); !status.ok()) return status;
  const auto left =
      std::chrono::duration_cast<Milliseconds>(deadline - std::chrono::steady_clock::now());
  return impl_->Write(payload, std::max(left, Milliseconds(1)));
}

Status TlsChannel::Receive(Frame* frame, Milliseconds limit) {
  std::uint8_t headerBytes[kFrameHeaderBytes];
  if (Status status = impl_->Read(headerBytes, limit, "waiting for a frame"); !status.ok()) {
    return status;
  }
  FrameHeader header;
  if (Status status = ReadFrameHeader(headerBytes, &header); !status.ok()) return status;
  std::vector<std::uint8_t> payload(header.payloadBytes);
  if (Status status = impl_->Read(payload, limit, "reading a frame of " + CallName(header.call));
      !status.ok()) {
    return status;
  }
  frame->header = header;
  frame->payload = std::move(payload);
  return Status();
}

bool TlsChannel::WaitForFrame(int wakeFd, Milliseconds limit) {
  // Bytes OpenSSL has already taken off the socket are not seen by poll.
  if (SSL_has_pending(impl_->ssl) == 1) return true;
  const auto deadline = Clock::now() + limit;
  for (;;) {
    const auto left = std::chrono::duration_cast<Milliseconds>(deadline - Clock::now()).count();
    pollfd p[2] = {{impl_->fd.get(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const int polled =
        ::poll(p, wakeFd >= 0 ? 2 : 1, static_cast<int>(std::clamp<long long>(left, 0, 1 << 30)));
    if (polled < 0 && errno == EINTR) continue;
    if (polled < 0) return true;  // Receive reports what is wrong
    if (polled > 0 && p[0].revents != 0) return true;
    return false;
  }
}

void TlsChannel::Shutdown() {
  if (impl_) ::shutdown(impl_->fd.get(), SHUT_RDWR);
}

}  // namespace tbm::rapi
