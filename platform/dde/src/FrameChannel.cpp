// Frames in and out of one non-blocking DDE socket.
#include "FrameChannel.h"

#include <sys/socket.h>

#include <cerrno>

#include "LittleEndian.h"
#include "WireFormat.h"

namespace tbm::dde {

namespace {

// Bytes read from the socket in one call, so a busy peer cannot keep the
// thread from its other work.
constexpr std::size_t kReadChunk = 64 * 1024;
// Replies a peer may leave unread before it counts as gone: a client has
// few transactions in flight, so this is generous.
constexpr std::size_t kMaxOutboxBytes = 3 * kMaxFrameBytes;

}  // namespace

bool FrameChannel::Receive() {
  if (!socket_) return false;
  if (consumed_ > 0 && consumed_ * 2 >= inbound_.size()) {
    inbound_.erase(inbound_.begin(), inbound_.begin() + static_cast<std::ptrdiff_t>(consumed_));
    consumed_ = 0;
  }
  const std::size_t before = inbound_.size();
  inbound_.resize(before + kReadChunk);
  ssize_t n;
  do {
    n = ::recv(socket_.get(), inbound_.data() + before, kReadChunk, MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  inbound_.resize(before + (n > 0 ? static_cast<std::size_t>(n) : 0));
  if (n > 0) return true;
  return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
}

FrameChannel::Next FrameChannel::Take(std::vector<std::uint8_t>* body, std::size_t limit) {
  const std::size_t available = inbound_.size() - consumed_;
  if (available < kFrameLengthBytes) return Next::kNone;
  const std::uint32_t length = LoadU32(inbound_.data() + consumed_);
  if (length == 0 || length > limit) return Next::kBad;
  if (available - kFrameLengthBytes < length) return Next::kNone;
  const auto begin = inbound_.begin() + static_cast<std::ptrdiff_t>(consumed_ + kFrameLengthBytes);
  body->assign(begin, begin + length);
  consumed_ += kFrameLengthBytes + length;
  if (consumed_ == inbound_.size()) {
    inbound_.clear();
    consumed_ = 0;
  }
  return Next::kFrame;
}

bool FrameChannel::Send(std::vector<std::uint8_t> frame) {
  if (!socket_) return false;
  if (outboxBytes_ + frame.size() > kMaxOutboxBytes) return false;
  outboxBytes_ += frame.size();
  outbox_.push_back(std::move(frame));
  return Flush();
}

bool FrameChannel::Flush() {
  while (!outbox_.empty()) {
    if (!socket_) return false;
    const auto& front = outbox_.front();
    const ssize_t n = ::send(socket_.get(), front.data() + sentOfFront_,
                             front.size() - sentOfFront_, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    sentOfFront_ += static_cast<std::size_t>(n);
    if (sentOfFront_ < front.size()) continue;
    outboxBytes_ -= front.size();
    outbox_.pop_front();
    sentOfFront_ = 0;
  }
  return true;
}

}  // namespace tbm::dde
