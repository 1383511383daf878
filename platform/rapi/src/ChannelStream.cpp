#include "ChannelStream.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <system_error>

namespace tbm::rapi {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t Number(RapiCall call) { return static_cast<std::uint16_t>(call); }

// The local end handed to the caller: reference counted, forwarding to the
// session it keeps alive.
class ChannelStreamEnd final : public IRAPIStream {
 public:
  explicit ChannelStreamEnd(std::shared_ptr<ChannelStream> session)
      : session_(std::move(session)) {}

  ULONG AddRef() override { return ++references_; }
  ULONG Release() override {
    const ULONG left = --references_;
    if (left == 0) {
      session_->CloseLocalEnd();
      delete this;  // made only by ChannelStream::Start, on the heap
    }
    return left;
  }
  HRESULT Read(void* buffer, ULONG size, ULONG* read) override {
    return session_->Read(buffer, size, read, timeouts_.read());
  }
  HRESULT Write(const void* buffer, ULONG size, ULONG* written) override {
    return session_->Write(buffer, size, written, timeouts_.write());
  }
  HRESULT SetRapiStat(RAPISTREAMFLAG flag, DWORD value) override {
    return timeouts_.Set(flag, value);
  }
  HRESULT GetRapiStat(RAPISTREAMFLAG flag, DWORD* value) override {
    return timeouts_.Get(flag, value);
  }

 private:
  ~ChannelStreamEnd() override = default;

  std::shared_ptr<ChannelStream> session_;
  std::atomic<ULONG> references_{1};
  StreamTimeouts timeouts_;
};

// Waits on changed until ready() holds or timeoutMs passes (INFINITE
// waits without limit); false when the time passed.
template <typename Ready>
bool WaitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& changed, DWORD timeoutMs,
             Ready ready) {
  if (timeoutMs == INFINITE) {
    changed.wait(lock, ready);
    return true;
  }
  return changed.wait_for(lock, Milliseconds(timeoutMs), ready);
}

}  // namespace

Status ChannelStream::Start(std::unique_ptr<TlsChannel> channel, const Settings& settings,
                            FrameHandler handler, std::shared_ptr<ChannelStream>* session,
                            RapiStreamPtr* end) {
  UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake) {
    return Status(StatusCode::kNoMemory, "the stream cannot be opened: no descriptor is left");
  }
  std::shared_ptr<ChannelStream> made(
      new ChannelStream(std::move(channel), settings, std::move(handler), std::move(wake)));
  try {
    made->pump_ = std::thread([raw = made.get()] { raw->Pump(); });
  } catch (const std::system_error&) {
    return Status(StatusCode::kNoMemory, "the stream cannot be opened: no thread can be started");
  }
  end->reset(new ChannelStreamEnd(made));
  *session = std::move(made);
  return Status();
}

ChannelStream::ChannelStream(std::unique_ptr<TlsChannel> channel, const Settings& settings,
                             FrameHandler handler, UniqueFd wake)
    : channel_(std::move(channel)),
      settings_(settings),
      handler_(std::move(handler)),
      wake_(std::move(wake)) {}

ChannelStream::~ChannelStream() {
  Abort("the stream was given up");
  if (pump_.joinable()) pump_.join();
}

void ChannelStream::Wake() {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = ::write(wake_.get(), &one, sizeof one);
}

Status ChannelStream::Post(std::uint16_t call, std::uint32_t requestId,
                           std::vector<std::uint8_t> payload, bool expectReply) {
  {
    std::lock_guard hold(mutex_);
    if (over_) {
      return failure_.ok() ? Status(StatusCode::kFailed, "the stream has ended") : failure_;
    }
    posted_.push_back(Outgoing{call, requestId, std::move(payload)});
    if (expectReply) ++awaitedReplies_;
  }
  Wake();
  return Status();
}

void ChannelStream::CloseLocalEnd() {
  {
    std::lock_guard hold(mutex_);
    if (localClosed_) return;
    localClosed_ = true;
    inbound_.clear();  // nobody will read it
  }
  changed_.notify_all();
  Wake();
}

bool ChannelStream::WaitOver(Milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return over_; });
}

bool ChannelStream::over() {
  std::lock_guard hold(mutex_);
  return over_;
}

bool ChannelStream::localClosed() {
  std::lock_guard hold(mutex_);
  return localClosed_;
}

Status ChannelStream::failure() {
  std::lock_guard hold(mutex_);
  return failure_;
}

void ChannelStream::Abort(const std::string& reason) {
  {
    std::lock_guard hold(mutex_);
    if (over_) return;
    if (failure_.ok()) failure_ = Status(StatusCode::kFailed, reason, kConnectionDropped);
  }
  channel_->Shutdown();
  Wake();
}

std::unique_ptr<TlsChannel> ChannelStream::TakeChannel() {
  {
    std::lock_guard hold(mutex_);
    if (!over_) return nullptr;
  }
  if (pump_.joinable()) pump_.join();
  return std::move(channel_);
}

HRESULT ChannelStream::Read(void* buffer, ULONG size, ULONG* read, DWORD timeoutMs) {
  if (read != nullptr) *read = 0;
  if (buffer == nullptr && size > 0) return E_INVALIDARG;
  if (size == 0) return S_OK;
  std::unique_lock lock(mutex_);
  const bool ready = WaitFor(lock, changed_, timeoutMs, [&] {
    return !inbound_.empty() || peerEnded_ || !failure_.ok() || localClosed_;
  });
  if (!inbound_.empty()) {
    const bool wasFull = inbound_.size() >= kStreamRoomBytes;
    const std::size_t count = std::min<std::size_t>(size, inbound_.size());
    std::copy_n(inbound_.begin(), count, static_cast<std::uint8_t*>(buffer));
    inbound_.erase(inbound_.begin(), inbound_.begin() + static_cast<std::ptrdiff_t>(count));
    lock.unlock();
    if (wasFull) Wake();  // the pump may read the connection again
    if (read != nullptr) *read = static_cast<ULONG>(count);
    return S_OK;
  }
  if (!ready) return RAPI_E_TIMEOUT;
  if (!failure_.ok()) return RAPI_E_STREAM_BROKEN;
  return RAPI_E_STREAM_ENDED;
}

HRESULT ChannelStream::Write(const void* buffer, ULONG size, ULONG* written, DWORD timeoutMs) {
  if (written != nullptr) *written = 0;
  if (buffer == nullptr && size > 0) return E_INVALIDARG;
  const auto* bytes = static_cast<const std::uint8_t*>(buffer);
  ULONG done = 0;
  HRESULT result = S_OK;
  std::unique_lock lock(mutex_);
  while (done < size) {
    const bool ready = WaitFor(lock, changed_, timeoutMs, [&] {
      return outbound_.size() < kStreamRoomBytes || peerEnded_ || !failure_.ok() || localClosed_;
    });
    if (peerEnded_ || !failure_.ok() || localClosed_) {
      result = RAPI_E_STREAM_BROKEN;
      break;
    }
    if (!ready) {
      result = RAPI_E_TIMEOUT;
      break;
    }
    const std::size_t count =
        std::min<std::size_t>(size - done, kStreamRoomBytes - outbound_.size());
    outbound_.insert(outbound_.end(), bytes + done, bytes + done + count);
    done += static_cast<ULONG>(count);
    lock.unlock();
    Wake();
    lock.lock();
  }
  if (written != nullptr) *written = done;
  return result;
}

// The next frame the pump should send, if any; *done when the session is
// over in order. Called with mutex_ held.
bool ChannelStream::NextFrame(Outgoing* frame, bool* done) {
  *done = false;
  if (!posted_.empty()) {
    *frame = std::move(posted_.front());
    posted_.pop_front();
    return true;
  }
  if (!endSent_ && !outbound_.empty()) {
    const std::size_t count = std::min(outbound_.size(), kStreamChunkBytes);
    std::vector<std::uint8_t> bytes(outbound_.begin(),
                                    outbound_.begin() + static_cast<std::ptrdiff_t>(count));
    outbound_.erase(outbound_.begin(), outbound_.begin() + static_cast<std::ptrdiff_t>(count));
    *frame = Outgoing{Number(RapiCall::kStreamData), settings_.requestId,
                      PayloadWriter().Bytes(bytes).Take()};
    changed_.notify_all();  // room for writers
    return true;
  }
  if (localClosed_ && !endSent_) {
    endSent_ = true;
    *frame = Outgoing{Number(RapiCall::kStreamEnd), settings_.requestId, {}};
    return true;
  }
  *done = endSent_ && peerEnded_ && awaitedReplies_ == 0;
  return false;
}

// Takes in one frame the peer sent.
Status ChannelStream::Take(const Frame& frame) {
  const std::uint16_t call = frame.header.call;
  const bool streams = call == Number(RapiCall::kStreamData) ||
                       call == Number(RapiCall::kStreamEnd) ||
                       call == Number(RapiCall::kStreamAlive);
  if (!streams) {
    if ((call & kReplyFlag) != 0) {
      std::lock_guard hold(mutex_);
      if (awaitedReplies_ > 0) --awaitedReplies_;
    }
    return handler_(frame, *this);
  }
  if (frame.header.requestId != settings_.requestId) {
    return Status(StatusCode::kCorrupt, CallName(call) + " came for request " +
                                            std::to_string(frame.header.requestId) +
                                            ", not for the open stream's");
  }
  if (call == Number(RapiCall::kStreamAlive)) return Status();
  std::lock_guard hold(mutex_);
  if (peerEnded_) {
    return Status(StatusCode::kCorrupt, CallName(call) + " came after the stream's end");
  }
  if (call == Number(RapiCall::kStreamEnd)) {
    peerEnded_ = true;
    outbound_.clear();  // nobody will read it
    changed_.notify_all();
    return Status();
  }
  PayloadReader reader(frame.payload);
  std::vector<std::uint8_t> bytes;
  if (!reader.Bytes(&bytes, kStreamChunkBytes) || !reader.End()) {
    return reader.status().WithContext("the stream's bytes");
  }
  if (!localClosed_) {
    inbound_.insert(inbound_.end(), bytes.begin(), bytes.end());
    changed_.notify_all();
  }
  return Status();
}

// One round of the pump: sends one frame if there is one, then takes in a
// frame that has come (waiting for one, or for something to send, only
// when there was nothing to send).
Status ChannelStream::PumpOnce(Clock::time_point* lastHeard, Clock::time_point* lastSent,
                               bool* done) {
  Outgoing frame;
  bool sending = false;
  bool listening = true;
  bool showLife = false;    // until our end is sent; after it we send nothing of the stream's
  bool expectLife = false;  // until the peer's end came; after it, it sends nothing of it
  {
    std::lock_guard hold(mutex_);
    if (!failure_.ok()) return failure_;
    sending = NextFrame(&frame, done);
    if (*done) return Status();
    // A full local end is not read from the connection until it is read:
    // the peer's writes then wait, and its silence is not its fault.
    listening = inbound_.size() < kStreamRoomBytes;
    showLife = !endSent_;
    expectLife = !peerEnded_;
  }
  const Clock::time_point now = Clock::now();
  if (!sending && showLife && now - *lastSent >= settings_.aliveInterval) {
    frame = Outgoing{Number(RapiCall::kStreamAlive), settings_.requestId, {}};
    sending = true;
  }
  if (sending) {
    if (Status status =
            channel_->Send(frame.call, frame.requestId, frame.payload, settings_.frameLimit);
        !status.ok()) {
      return status.WithContext("sending " + CallName(frame.call));
    }
    *lastSent = Clock::now();
    // When that frame was the session's last (our end, after the peer's
    // and every reply), the peer may already have taken the channel back
    // and sent its next request: that frame is the owner's, not the
    // session's, so it is left on the connection.
    std::lock_guard hold(mutex_);
    if (posted_.empty() && endSent_ && peerEnded_ && awaitedReplies_ == 0) {
      *done = true;
      return Status();
    }
  }
  if (!listening || !expectLife) *lastHeard = Clock::now();
  const auto untilAlive =
      showLife ? *lastSent + settings_.aliveInterval - Clock::now() : Clock::duration::max() / 2;
  const auto untilSilent = *lastHeard + settings_.silenceLimit - Clock::now();
  const Milliseconds wait =
      sending
          ? Milliseconds(0)
          : std::max(Milliseconds(0),
                     std::chrono::duration_cast<Milliseconds>(std::min(untilAlive, untilSilent)) +
                         Milliseconds(1));
  const bool arrived = listening ? channel_->WaitForFrame(wake_.get(), wait) : false;
  if (!listening && !sending) {
    pollfd p{wake_.get(), POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(wait.count()));
  }
  std::uint64_t drained = 0;
  [[maybe_unused]] const ssize_t ignored = ::read(wake_.get(), &drained, sizeof drained);
  if (arrived) {
    Frame received;
    if (Status status = channel_->Receive(&received, settings_.frameLimit); !status.ok()) {
      return status;
    }
    *lastHeard = Clock::now();
    return Take(received);
  }
  if (listening && expectLife && Clock::now() - *lastHeard >= settings_.silenceLimit) {
    return Status(StatusCode::kIoFailed,
                  "nothing came from the other side for " +
                      std::to_string(settings_.silenceLimit.count()) +
                      " ms while the stream was open; it does not answer",
                  WAIT_TIMEOUT);
  }
  return Status();
}

void ChannelStream::Pump() {
  Clock::time_point lastHeard = Clock::now();
  Clock::time_point lastSent = lastHeard;
  for (;;) {
    bool done = false;
    const Status status = PumpOnce(&lastHeard, &lastSent, &done);
    if (!status.ok()) {
      Finish(status);
      return;
    }
    if (done) {
      Finish(Status());
      return;
    }
  }
}

void ChannelStream::Finish(const Status& failure) {
  {
    std::lock_guard hold(mutex_);
    if (!failure.ok() && failure_.ok()) failure_ = failure;
    over_ = true;
    if (!failure_.ok()) {
      outbound_.clear();
      posted_.clear();
    }
  }
  if (!failure.ok()) channel_->Shutdown();
  changed_.notify_all();
}

}  // namespace tbm::rapi
