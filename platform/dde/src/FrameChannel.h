// One end of a DDE socket: frames coming in, cut out of the byte stream
// with their lengths checked, and frames going out without ever blocking.
//
// The socket is non-blocking. What the peer has not taken yet waits in the
// channel's outbox until the socket is writable again (the owner polls for
// it while WantsWrite()).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "Socket.h"

namespace tbm::dde {

class FrameChannel {
 public:
  explicit FrameChannel(Socket socket) : socket_(std::move(socket)) {}

  int fd() const { return socket_.get(); }
  bool open() const { return static_cast<bool>(socket_); }

  // Reads what the socket has now (a bounded amount per call). false at the
  // end of the stream or when the socket broke: the peer is gone.
  bool Receive();

  enum class Next { kNone, kFrame, kBad };
  // Takes the next complete frame's body out of what was received: kFrame
  // with *body set, kNone when no whole frame is there yet, kBad when the
  // length in front of it is 0 or larger than limit (the peer does not speak
  // this protocol and must be dropped).
  Next Take(std::vector<std::uint8_t>* body, std::size_t limit);

  // Queues a whole frame and writes what the socket takes now. false when
  // the socket broke or the peer has left too much unread.
  bool Send(std::vector<std::uint8_t> frame);
  // Writes what waits in the outbox; false when the socket broke.
  bool Flush();
  bool WantsWrite() const { return !outbox_.empty(); }

  void Close() { socket_.Reset(); }

 private:
  Socket socket_;
  std::vector<std::uint8_t> inbound_;
  std::size_t consumed_ = 0;  // bytes at the front of inbound_ already taken
  std::deque<std::vector<std::uint8_t>> outbox_;
  std::size_t sentOfFront_ = 0;
  std::size_t outboxBytes_ = 0;
};

}  // namespace tbm::dde
