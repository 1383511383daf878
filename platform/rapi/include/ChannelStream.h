// The stream of a remote invocation carried over the protected channel,
// beside the requests and replies that go on while it is open. Both sides
// use it: the desktop for the end CeRapiInvoke hands out, the device
// connection service for the end the handheld's function talks through.
//
// While the stream is open, one thread of the session's own (the pump)
// owns the channel. It sends what the local end wrote as kStreamData frames
// of at most kStreamChunkBytes, taking together whatever was written while
// the previous frame went out (a run of small writes costs few frames); it
// sends kStreamEnd once the local end is closed and everything written
// before has gone; it sends kStreamAlive when it has sent nothing for the
// alive interval. It receives the peer's frames: stream bytes go to the
// local end, and every other frame (a request on the handheld, a reply on
// the desktop) to the session's FrameHandler, on the pump's thread. Post
// sends a frame of the owner's between the stream's.
//
// Time limits. Sending or receiving one frame is bounded by frameLimit; a
// peer from which nothing (not even a sign of life) has come for
// silenceLimit counts as lost. Either ends the session as failed: the
// connection is shut, the local end's reads and writes fail with
// RAPI_E_STREAM_BROKEN at once, whatever their own time limits say, and
// failure() says why in words. A read of the local end otherwise waits as
// its STREAM_TIMEOUT_READ allows (without limit by default, which is safe:
// a stopped or vanished peer fails the session).
//
// The session is over when both ends are closed and every frame posted and
// every reply expected has gone through, or when it failed. Then the owner
// takes the channel back (TakeChannel).
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "RapiChannel.h"
#include "RapiStream.h"
#include "UniqueFd.h"

namespace tbm::rapi {

// The largest stream frame's bytes.
inline constexpr std::size_t kStreamChunkBytes = 64 * 1024;
// The bytes each direction holds before a Write waits for the pump or the
// pump stops reading the connection until the local end reads.
inline constexpr std::size_t kStreamRoomBytes = 1024 * 1024;

class ChannelStream {
 public:
  struct Settings {
    std::uint32_t requestId = 0;  // of the kInvoke that opened the stream
    Milliseconds aliveInterval{10000};
    Milliseconds silenceLimit{30000};
    Milliseconds frameLimit{30000};
  };

  // Handles a frame that is not the stream's, on the pump's thread. A
  // failure ends the session as failed.
  using FrameHandler = std::function<Status(const Frame& frame, ChannelStream& session)>;

  // Starts the pump on channel. *end gets the local end with one reference;
  // releasing its last reference closes it. Fails (and *end stays null) when
  // the pump's thread or its wake-up descriptor cannot be made; the channel
  // is then closed.
  static Status Start(std::unique_ptr<TlsChannel> channel, const Settings& settings,
                      FrameHandler handler, std::shared_ptr<ChannelStream>* session,
                      RapiStreamPtr* end);

  // Shuts the connection if the session is not over, and waits for the pump.
  ~ChannelStream();
  ChannelStream(const ChannelStream&) = delete;
  ChannelStream& operator=(const ChannelStream&) = delete;

  // Queues a frame to be sent between the stream's; with expectReply the
  // session stays open until a reply frame (one with kReplyFlag) has come
  // for it. Fails when the session is over.
  Status Post(std::uint16_t call, std::uint32_t requestId, std::vector<std::uint8_t> payload,
              bool expectReply);

  // Closes the local end as its last Release does, for a holder that did
  // not release it. Nothing when it is closed already.
  void CloseLocalEnd();

  // Waits up to limit until the session is over; true when it is.
  bool WaitOver(Milliseconds limit);
  bool over();
  // Whether the local end is closed (released, or CloseLocalEnd).
  bool localClosed();
  // Why the session failed; ok when it is not over or ended in order.
  Status failure();

  // Shuts the connection: the session ends as failed (with reason, unless
  // it failed already) and the pump stops. Safe from any thread.
  void Abort(const std::string& reason);

  // Once the session is over: the channel, for requests and replies one by
  // one again after an orderly end (after a failure it is shut). Null
  // before the end and after the first call.
  std::unique_ptr<TlsChannel> TakeChannel();

  // The local end's calls (the end object forwards them).
  HRESULT Read(void* buffer, ULONG size, ULONG* read, DWORD timeoutMs);
  HRESULT Write(const void* buffer, ULONG size, ULONG* written, DWORD timeoutMs);

 private:
  struct Outgoing {
    std::uint16_t call = 0;
    std::uint32_t requestId = 0;
    std::vector<std::uint8_t> payload;
  };

  ChannelStream(std::unique_ptr<TlsChannel> channel, const Settings& settings, FrameHandler handler,
                UniqueFd wake);
  void Pump();
  Status PumpOnce(std::chrono::steady_clock::time_point* lastHeard,
                  std::chrono::steady_clock::time_point* lastSent, bool* done);
  bool NextFrame(Outgoing* frame, bool* done);
  Status Take(const Frame& frame);
  void Wake();
  void Finish(const Status& failure);

  std::unique_ptr<TlsChannel> channel_;
  const Settings settings_;
  FrameHandler handler_;
  UniqueFd wake_;
  std::thread pump_;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<std::uint8_t> inbound_;
  std::deque<std::uint8_t> outbound_;
  std::deque<Outgoing> posted_;
  int awaitedReplies_ = 0;
  bool localClosed_ = false;
  bool endSent_ = false;
  bool peerEnded_ = false;
  bool over_ = false;
  Status failure_;
};

}  // namespace tbm::rapi
