// A thread's message queue: posted messages and the sockets of its windows.
#include "ThreadQueue.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "WindowHost.h"
#include "WindowSocket.h"

namespace tbm::wnd {

namespace {

// Listener keys have the top bit set; connection keys do not.
constexpr std::uint64_t kListenerBit = std::uint64_t{1} << 63;
// Connections one window keeps at most; a sender holds one only while it
// waits for its answer, so more than this means a flood or a leak.
constexpr std::size_t kMaxConnectionsPerWindow = 32;
// Events handled in one pass, and requests read from one connection in one
// pass, so a busy peer cannot starve the thread's other work.
constexpr int kEventsPerPass = 64;
constexpr int kRequestsPerConnection = 16;

// Who owns the calling thread's queue. When the thread ends its windows
// end with it, without their window procedures being called (what they
// would touch may be gone already).
struct QueueOwner {
  std::shared_ptr<ThreadQueue> queue;
  ~QueueOwner() {
    if (queue) WindowHost::Get().ForgetWindowsOfThread(queue->thread());
  }
};
thread_local QueueOwner owner;

void Signal(int eventFd) {
  const std::uint64_t one = 1;
  while (::write(eventFd, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

bool Control(int set, int operation, int fd, std::uint64_t key, std::uint32_t events) {
  epoll_event event{};
  event.events = events;
  event.data.u64 = key;
  return ::epoll_ctl(set, operation, fd, &event) == 0;
}

void Drain(int eventFd) {
  std::uint64_t count;
  while (::read(eventFd, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

}  // namespace

std::shared_ptr<ThreadQueue> ThreadQueue::OfCallingThread() {
  if (owner.queue) return owner.queue;
  auto queue = std::make_shared<ThreadQueue>();
  queue->thread_ = ::gettid();
  queue->sent_.Reset(::epoll_create1(EPOLL_CLOEXEC));
  queue->ready_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  queue->wake_.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  queue->watched_.Reset(::epoll_create1(EPOLL_CLOEXEC));
  queue->pollable_.Reset(::epoll_create1(EPOLL_CLOEXEC));
  if (!queue->sent_ || !queue->ready_ || !queue->wake_ || !queue->watched_ || !queue->pollable_ ||
      !Control(queue->pollable_.get(), EPOLL_CTL_ADD, queue->sent_.get(), 0, EPOLLIN) ||
      !Control(queue->pollable_.get(), EPOLL_CTL_ADD, queue->ready_.get(), 1, EPOLLIN) ||
      !Control(queue->pollable_.get(), EPOLL_CTL_ADD, queue->watched_.get(), 2, EPOLLIN)) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return nullptr;
  }
  owner.queue = queue;
  return queue;
}

ThreadQueue* ThreadQueue::OfCallingThreadIfAny() { return owner.queue.get(); }

ThreadQueue::~ThreadQueue() = default;

DWORD ThreadQueue::AddWindow(std::uint32_t hwnd, UniqueFd listener) {
  const std::uint64_t key = kListenerBit | nextKey_++;
  if (!Control(sent_.get(), EPOLL_CTL_ADD, listener.get(), key, EPOLLIN))
    return ERROR_NO_SYSTEM_RESOURCES;
  listeners_.emplace(key, Listener{hwnd, std::move(listener)});
  return ERROR_SUCCESS;
}

void ThreadQueue::RemoveWindow(std::uint32_t hwnd) {
  std::erase_if(listeners_, [&](const auto& item) {
    if (item.second.hwnd != hwnd) return false;
    ::epoll_ctl(sent_.get(), EPOLL_CTL_DEL, item.second.fd.get(), nullptr);
    return true;
  });
  std::vector<std::uint64_t> closing;
  for (auto& [key, connection] : connections_) {
    if (connection.hwnd != hwnd) continue;
    if (connection.busy) {
      connection.orphaned = true;
    } else {
      closing.push_back(key);
    }
  }
  for (const std::uint64_t key : closing) Close(key);
}

void ThreadQueue::Close(std::uint64_t connectionKey) {
  const auto at = connections_.find(connectionKey);
  if (at == connections_.end()) return;
  ::epoll_ctl(sent_.get(), EPOLL_CTL_DEL, at->second.fd.get(), nullptr);
  connections_.erase(at);
}

DWORD ThreadQueue::AnswerSentMessages() {
  epoll_event events[kEventsPerPass];
  int count;
  do {
    count = ::epoll_wait(sent_.get(), events, kEventsPerPass, 0);
  } while (count < 0 && errno == EINTR);
  DWORD answered = 0;
  for (int i = 0; i < count; ++i) {
    const std::uint64_t key = events[i].data.u64;
    if ((key & kListenerBit) != 0) {
      Accept(key);
    } else {
      answered += Serve(key);
    }
  }
  return answered;
}

void ThreadQueue::MakeRoomForConnection(std::uint32_t hwnd) {
  std::size_t count = 0;
  std::uint64_t oldestKey = 0;
  std::uint64_t oldestAge = UINT64_MAX;
  for (const auto& [key, connection] : connections_) {
    if (connection.hwnd != hwnd) continue;
    ++count;
    if (!connection.busy && connection.age < oldestAge) {
      oldestAge = connection.age;
      oldestKey = key;
    }
  }
  if (count >= kMaxConnectionsPerWindow && oldestKey != 0) Close(oldestKey);
}

void ThreadQueue::Accept(std::uint64_t listenerKey) {
  const auto listener = listeners_.find(listenerKey);
  if (listener == listeners_.end()) return;
  const std::uint32_t hwnd = listener->second.hwnd;
  for (int accepted = 0; accepted < kEventsPerPass; ++accepted) {
    // Only processes of this user may ask our windows for anything.
    bool more = false;
    UniqueFd fd = AcceptSameUser(listener->second.fd.get(), &more);
    if (!fd && !more) return;  // nothing more waiting (or out of descriptors: try next time)
    if (!fd) continue;
    MakeRoomForConnection(hwnd);
    const std::uint64_t key = nextKey_++;
    if (!Control(sent_.get(), EPOLL_CTL_ADD, fd.get(), key, EPOLLIN)) continue;
    Connection connection;
    connection.hwnd = hwnd;
    connection.fd = std::move(fd);
    connection.age = key;
    connections_.emplace(key, std::move(connection));
  }
}

DWORD ThreadQueue::Serve(std::uint64_t connectionKey) {
  DWORD answered = 0;
  for (int served = 0; served < kRequestsPerConnection; ++served) {
    auto at = connections_.find(connectionKey);
    if (at == connections_.end() || at->second.busy) return answered;
    Connection& connection = at->second;
    const ssize_t n = ::recv(connection.fd.get(), connection.buffer.data() + connection.filled,
                             connection.buffer.size() - connection.filled, MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return answered;
    if (n <= 0) {  // the sender hung up, or the connection broke
      Close(connectionKey);
      return answered;
    }
    connection.filled += static_cast<std::size_t>(n);
    if (connection.filled < connection.buffer.size()) continue;
    connection.filled = 0;
    const std::optional<Request> request = DecodeRequest(connection.buffer);
    if (!request || request->hwnd != connection.hwnd) {
      Close(connectionKey);  // not our protocol, or not for this window
      return answered;
    }

    // While the window procedure runs it may wait in a message loop of its
    // own; the connection stays out of the ready set meanwhile, so that loop
    // neither spins on it nor reads a second request from it.
    connection.busy = true;
    Control(sent_.get(), EPOLL_CTL_MOD, connection.fd.get(), connectionKey, 0);
    const LRESULT result = WindowHost::Get().CallProcedure(request->hwnd, request->message,
                                                           static_cast<WPARAM>(request->wParam),
                                                           static_cast<LPARAM>(request->lParam));
    at = connections_.find(connectionKey);  // the map may have changed meanwhile
    ++answered;
    if (at == connections_.end()) return answered;
    Connection& after = at->second;
    after.busy = false;
    const auto reply = EncodeReply(result);
    const ssize_t sent =
        ::send(after.fd.get(), reply.data(), reply.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent != static_cast<ssize_t>(reply.size()) || after.orphaned ||
        !Control(sent_.get(), EPOLL_CTL_MOD, after.fd.get(), connectionKey, EPOLLIN)) {
      Close(connectionKey);
      return answered;
    }
  }
  return answered;
}

std::uint64_t ThreadQueue::AddWatch(int fd, std::function<DWORD()> handler) {
  const std::uint64_t key = nextKey_++;
  if (!Control(watched_.get(), EPOLL_CTL_ADD, fd, key, EPOLLIN)) return 0;
  watches_.emplace(key, Watch{fd, std::make_shared<std::function<DWORD()>>(std::move(handler))});
  return key;
}

void ThreadQueue::RemoveWatch(std::uint64_t key) {
  const auto at = watches_.find(key);
  if (at == watches_.end()) return;
  ::epoll_ctl(watched_.get(), EPOLL_CTL_DEL, at->second.fd, nullptr);
  watches_.erase(at);
}

DWORD ThreadQueue::RunWatches() {
  epoll_event events[kEventsPerPass];
  int count;
  do {
    count = ::epoll_wait(watched_.get(), events, kEventsPerPass, 0);
  } while (count < 0 && errno == EINTR);
  DWORD handled = 0;
  for (int i = 0; i < count; ++i) {
    // A handler may end any watch, its own included: look each one up anew.
    const auto at = watches_.find(events[i].data.u64);
    if (at == watches_.end()) continue;
    const auto handler = at->second.handler;
    handled += (*handler)();
  }
  return handled;
}

void ThreadQueue::UpdateReadyLocked() {
  const bool wanted = !posted_.empty() || quit_.has_value();
  if (wanted == readyArmed_) return;
  if (wanted) {
    Signal(ready_.get());
  } else {
    Drain(ready_.get());
  }
  readyArmed_ = wanted;
}

void ThreadQueue::Post(const MSG& message) {
  {
    std::lock_guard lock(postedMutex_);
    posted_.push_back(message);
    UpdateReadyLocked();
  }
  Signal(wake_.get());
}

void ThreadQueue::RequestQuit(int exitCode) {
  {
    std::lock_guard lock(postedMutex_);
    quit_ = exitCode;
    UpdateReadyLocked();
  }
  Signal(wake_.get());
}

void ThreadQueue::DropPostedFor(HWND window) {
  std::lock_guard lock(postedMutex_);
  std::erase_if(posted_, [&](const MSG& message) { return message.hwnd == window; });
  UpdateReadyLocked();
}

std::optional<MSG> ThreadQueue::TakePosted(HWND window, UINT min, UINT max, bool remove) {
  std::lock_guard lock(postedMutex_);
  const bool anyNumber = min == 0 && max == 0;
  for (auto at = posted_.begin(); at != posted_.end(); ++at) {
    if (window != nullptr && at->hwnd != window) continue;
    if (!anyNumber && (at->message < min || at->message > max)) continue;
    const MSG message = *at;
    if (remove) {
      posted_.erase(at);
      UpdateReadyLocked();
    }
    return message;
  }
  return std::nullopt;
}

std::optional<int> ThreadQueue::TakeQuit() {
  std::lock_guard lock(postedMutex_);
  const std::optional<int> exitCode = std::exchange(quit_, std::nullopt);
  UpdateReadyLocked();
  return exitCode;
}

std::size_t ThreadQueue::PostedCount() {
  std::lock_guard lock(postedMutex_);
  return posted_.size();
}

void ThreadQueue::ClearWake() { Drain(wake_.get()); }

}  // namespace tbm::wnd
