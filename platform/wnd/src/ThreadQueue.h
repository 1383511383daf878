// The message queue of one thread: the messages posted to it and the
// sockets on which its windows receive sent messages.
//
// Posting may come from any thread; everything that touches the sockets
// (listening, accepting, reading requests, calling window procedures,
// answering) happens on the owning thread only, so the window procedures
// always run there.
//
// Descriptors:
//   sent     an epoll set of the windows' listening sockets and accepted
//            connections; readable while a sent message may be waiting;
//   ready    an eventfd readable while posted messages or a quit request
//            wait (kept level: armed exactly while there is something);
//   wake     an eventfd written at every post and emptied by a waiter before
//            it looks at the queue, so a waiter that found nothing to take
//            sleeps until something new arrives;
//   watched  an epoll set of the descriptors other layers watch on the
//            queue (QueueWatch.h);
//   pollable an epoll set of sent, ready and watched: what an outside event
//            loop watches.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>

#include "MessageFrame.h"
#include "UniqueFd.h"
#include "WinUser.h"

namespace tbm::wnd {

class ThreadQueue {
 public:
  // The calling thread's queue, made on first use; null when its
  // descriptors could not be made (the last error says why).
  static std::shared_ptr<ThreadQueue> OfCallingThread();
  // The calling thread's queue when it has one; never makes it.
  static ThreadQueue* OfCallingThreadIfAny();

  // Made only by OfCallingThread.
  ThreadQueue() = default;
  ~ThreadQueue();
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  pid_t thread() const { return thread_; }
  int PollableDescriptor() const { return pollable_.get(); }
  int SentDescriptor() const { return sent_.get(); }
  int WakeDescriptor() const { return wake_.get(); }
  int WatchedDescriptor() const { return watched_.get(); }

  // Owning thread only: starts answering sent messages for hwnd on the
  // listening socket. Returns ERROR_SUCCESS or ERROR_NO_SYSTEM_RESOURCES.
  DWORD AddWindow(std::uint32_t hwnd, UniqueFd listener);
  // Owning thread only: stops listening for hwnd and closes its connections,
  // except one whose message is being answered, which is closed after its
  // answer is sent.
  void RemoveWindow(std::uint32_t hwnd);

  // Owning thread only: one pass over the sockets that are ready. Accepts
  // new connections (of the same user only) and answers each complete
  // request by calling its window procedure. Never waits. Returns the number
  // of messages answered.
  DWORD AnswerSentMessages();

  // Owning thread only: the watches of other layers (QueueWatch.h).
  // AddWatch returns the watch's key, 0 when the descriptor could not be
  // added. RunWatches calls the handlers whose descriptors are readable,
  // never waits, and returns the sum of what they handled.
  std::uint64_t AddWatch(int fd, std::function<DWORD()> handler);
  void RemoveWatch(std::uint64_t key);
  DWORD RunWatches();

  // Any thread.
  void Post(const MSG& message);
  void RequestQuit(int exitCode);
  void DropPostedFor(HWND window);
  // The first posted message for window (any when null) in [min, max] (any
  // when both are 0); removed when remove is set.
  std::optional<MSG> TakePosted(HWND window, UINT min, UINT max, bool remove);
  // The quit request, taken once: its exit code.
  std::optional<int> TakeQuit();
  std::size_t PostedCount();
  // Empties the wake descriptor; call before looking for something to take.
  void ClearWake();

 private:
  struct Connection {
    std::uint32_t hwnd = 0;
    UniqueFd fd;
    std::array<std::uint8_t, kRequestBytes> buffer{};
    std::size_t filled = 0;
    std::uint64_t age = 0;  // order of acceptance; the oldest idle one goes first
    bool busy = false;      // its message is being answered
    bool orphaned = false;  // its window went while busy: close after the answer
  };
  struct Listener {
    std::uint32_t hwnd = 0;
    UniqueFd fd;
  };

  void Accept(std::uint64_t listenerKey);
  DWORD Serve(std::uint64_t connectionKey);
  void Close(std::uint64_t connectionKey);
  void MakeRoomForConnection(std::uint32_t hwnd);
  void UpdateReadyLocked();

  pid_t thread_ = 0;
  UniqueFd sent_;
  UniqueFd ready_;
  UniqueFd wake_;
  UniqueFd watched_;
  UniqueFd pollable_;

  // Owning thread only. Keys are never reused, so an event for a closed
  // connection cannot reach one opened since.
  std::unordered_map<std::uint64_t, Listener> listeners_;
  std::unordered_map<std::uint64_t, Connection> connections_;
  struct Watch {
    int fd = -1;
    std::shared_ptr<std::function<DWORD()>> handler;  // kept alive while it runs
  };
  std::unordered_map<std::uint64_t, Watch> watches_;
  std::uint64_t nextKey_ = 1;

  std::mutex postedMutex_;  // guards what follows
  std::deque<MSG> posted_;
  std::optional<int> quit_;
  bool readyArmed_ = false;
};

}  // namespace tbm::wnd
