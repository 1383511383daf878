// The protected channel the remote API runs on: one TCP connection carrying
// TLS 1.3 whose only credential is a pre-shared key (no certificates), and
// frames (RapiFrame.h) inside it.
//
// What is protected. Every byte after the TLS handshake is encrypted and
// authenticated with keys that come from the pre-shared key and a fresh
// Diffie-Hellman exchange (TLS_AES_128_GCM_SHA256, the psk_dhe_ke mode):
// a peer that does not hold the key cannot complete the handshake, read or
// change a frame, and a recorded session cannot be decrypted later even by
// someone who then learns the key. The key itself never travels; only its
// identity does, in clear (a partner identifier, or kPairingIdentity while
// pairing). A recorded handshake or frame played back again fails, since
// each handshake mixes in both sides' fresh random values and 0-RTT data is
// never accepted; the server issues no session tickets, so a connection
// can only ever be opened with the key. What is not hidden: that a
// connection took place, its identity, and the sizes and timing of frames.
//
// Time limits. Connecting, the handshake, and every send and receive are
// bounded by a time limit given by the caller; passing it is an error whose
// platformError() is WAIT_TIMEOUT. A peer that closes or drops the
// connection is an error saying so (platformError() kConnectionDropped).
// Errors are Status values with a sentence for a person; nothing throws.
//
// Threads: one channel is used by one thread at a time; Shutdown may be
// called from another thread to wake that one.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "RapiFrame.h"
#include "Status.h"
#include "UniqueFd.h"

namespace tbm::rapi {

using Milliseconds = std::chrono::milliseconds;

// The port the device connection service listens on unless told otherwise.
inline constexpr std::uint16_t kDefaultPort = 41730;
// Bytes of a partnership key, and of the key derived from a pairing code.
inline constexpr std::size_t kPskBytes = 32;
// platformError() of a Status for a connection the peer closed or dropped.
inline constexpr std::uint32_t kConnectionDropped = 109;

// Where the service listens or the desktop connects: a host name or
// address and a port.
struct Endpoint {
  std::string host = "127.0.0.1";
  std::uint16_t port = kDefaultPort;
  std::string ToString() const;
};

// Reads "HOST:PORT", "HOST" (the default port) or "[v6-address]:PORT".
Status ParseEndpoint(const std::string& text, Endpoint* endpoint);

// A key and the identity it is offered under.
struct PskCredential {
  std::string identity;
  std::vector<std::uint8_t> key;  // kPskBytes
};

// A listening TCP socket.
class Listener {
 public:
  // Binds endpoint (port 0 picks a free port) and listens. Fails in words
  // when the address is in use or cannot be used.
  static Status Open(const Endpoint& endpoint, Listener* listener);
  int fd() const { return fd_.get(); }
  std::uint16_t port() const { return port_; }
  // Takes the next waiting connection (call when fd() is readable). Fails
  // with kBusy when none is waiting.
  Status Accept(UniqueFd* connection);

 private:
  UniqueFd fd_;
  std::uint16_t port_ = 0;
};

// Opens a TCP connection to endpoint within limit. The descriptor is
// non-blocking.
Status ConnectTcp(const Endpoint& endpoint, Milliseconds limit, UniqueFd* connection);

// Writes or reads raw bytes on a non-blocking socket within limit: the
// pairing preamble travels this way, before TLS starts.
Status SendRaw(int fd, std::span<const std::uint8_t> bytes, Milliseconds limit);
Status ReceiveRaw(int fd, std::span<std::uint8_t> bytes, Milliseconds limit);

// The key for an identity on the server side; nullopt for an identity it
// does not know.
using PskLookup = std::function<std::optional<std::vector<std::uint8_t>>(const std::string&)>;

class TlsChannel {
 public:
  ~TlsChannel();
  TlsChannel(const TlsChannel&) = delete;
  TlsChannel& operator=(const TlsChannel&) = delete;

  // The desktop side: runs the handshake on connection offering credential.
  // A server that does not know the identity or holds another key refuses
  // (kNoPermission, with a sentence saying pairing may be needed).
  static Status Connect(UniqueFd connection, const PskCredential& credential, Milliseconds limit,
                        std::unique_ptr<TlsChannel>* channel);

  // The handheld side: runs the handshake on an accepted connection,
  // taking keys from lookup. On failure *offeredIdentity (when not null)
  // holds the identity the peer offered, if it got that far, and the status
  // says whether the identity was unknown or the key wrong.
  static Status Accept(UniqueFd connection, const PskLookup& lookup, Milliseconds limit,
                       std::unique_ptr<TlsChannel>* channel,
                       std::string* offeredIdentity = nullptr);

  // The identity the handshake was made under.
  const std::string& identity() const { return identity_; }

  // Sends one frame.
  Status Send(std::uint16_t call, std::uint32_t requestId, std::span<const std::uint8_t> payload,
              Milliseconds limit);
  // Receives one whole frame: the header within limit, and its payload
  // within limit more. A bad header is an error from ReadFrameHeader.
  Status Receive(Frame* frame, Milliseconds limit);

  // Waits up to limit until a frame has begun to arrive or the connection
  // has closed (true: Receive will not wait for the peer to start one), or
  // until wakeFd (-1 for none) becomes readable or the limit passes (false).
  bool WaitForFrame(int wakeFd, Milliseconds limit);

  // Closes the connection in both directions, so that a thread waiting on
  // it returns at once. Safe from any thread.
  void Shutdown();

  struct Impl;

 private:
  explicit TlsChannel(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
  std::string identity_;
};

}  // namespace tbm::rapi
