// An instance's life, its poll set, and the waits that keep the thread's
// messages flowing.
#include "Instance.h"

#include <errno.h>
#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <optional>
#include <vector>

#include "MessagePump.h"
#include "ProgramLog.h"
#include "QueueWatch.h"
#include "Registry.h"
#include "WinUser.h"

namespace tbm::dde {

namespace {

// Events taken from the poll set in one pass.
constexpr int kEventsPerPass = 32;
// The largest frame a peer may send before its conversation is open: a
// Hello or a Welcome, whose names are short.
constexpr std::size_t kGreetingFrameBytes = 1024;

}  // namespace

void LogWarning(std::string_view text) {
  WriteLog(program_invocation_short_name, LogLevel::kWarning, text);
}

Instance::Instance(DWORD id, PFNCALLBACK callback, DWORD flags)
    : id_(id), thread_(::gettid()), callback_(callback), flags_(flags) {}

Instance::~Instance() = default;

bool Instance::OnOwnThread() const { return ::gettid() == thread_; }

void Instance::SetFlags(DWORD flags) {
  flags_ = flags;
  if (!noticeSocket_ &&
      (!Filtered(CBF_SKIP_REGISTRATIONS) || !Filtered(CBF_SKIP_UNREGISTRATIONS))) {
    OpenNoticeSocket();
  }
}

UINT Instance::Start() {
  pollSet_.Reset(::epoll_create1(EPOLL_CLOEXEC));
  if (!pollSet_) return DMLERR_SYS_ERROR;
  watch_ = WatchOnMessageQueue(pollSet_.get(), [weak = weak_from_this()]() -> DWORD {
    const auto self = weak.lock();
    return self ? self->HandleEvents() : 0;
  });
  if (watch_ == 0) return DMLERR_SYS_ERROR;
  if (!Filtered(CBF_SKIP_REGISTRATIONS) || !Filtered(CBF_SKIP_UNREGISTRATIONS)) {
    OpenNoticeSocket();
  }
  return DMLERR_NO_ERROR;
}

void Instance::End() {
  if (ended_) return;
  ended_ = true;
  for (const auto& [key, listener] : services_) {
    if (const auto text = StringText(listener.service.get())) Tell(false, *text);
  }
  services_.clear();
  const auto conversations = conversations_;
  for (const auto& [key, conversation] : conversations) {
    if (conversation->state == Conversation::State::kOpen) {
      conversation->channel.Send(EncodeFrame(Goodbye{}));  // as far as the socket takes it
    }
    Forget(*conversation);
  }
  for (const HCONV handle : handles_) RemoveConversation(handle);
  handles_.clear();
  notices_.clear();
  noticeSocket_.Reset();
  StopWatchOnMessageQueue(watch_);
  pollSet_.Reset();
  ReleaseStringsOf(id_);
  FreeDataOf(id_);
}

HCONV Instance::GiveHandle(const std::shared_ptr<Conversation>& conversation) {
  conversation->handle = AddConversation(id_, conversation);
  handles_.insert(conversation->handle);
  return conversation->handle;
}

void Instance::TakeHandle(Conversation& conversation) {
  if (conversation.handle == nullptr) return;
  RemoveConversation(conversation.handle);
  handles_.erase(conversation.handle);
}

DWORD Instance::HandleEvents() {
  const auto keep = shared_from_this();  // a callback may end the instance
  epoll_event events[kEventsPerPass];
  int count;
  do {
    count = ::epoll_wait(pollSet_.get(), events, kEventsPerPass, 0);
  } while (count < 0 && errno == EINTR);
  DWORD handled = 0;
  for (int i = 0; i < count && !ended_; ++i) {
    // Anything may have changed since the last event: look each key up.
    const std::uint64_t key = events[i].data.u64;
    if (services_.contains(key)) {
      AcceptConversations(key);
    } else if (key == noticeKey_) {
      AcceptNotices();
    } else if (notices_.contains(key)) {
      handled += ReadNotice(key);
    } else if (const auto at = conversations_.find(key); at != conversations_.end()) {
      const auto conversation = at->second;  // its entry may go while it is handled
      handled += Pump(conversation, events[i].events);
    }
  }
  return handled;
}

DWORD Instance::Pump(const std::shared_ptr<Conversation>& conversation, std::uint32_t events) {
  const UINT died = conversation->side == Conversation::Side::kClient ? DMLERR_SERVER_DIED : 0;
  if ((events & EPOLLOUT) != 0 && !conversation->channel.Flush()) {
    Lost(conversation, died);
    return 0;
  }
  bool ended = false;
  if ((events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0) ended = !conversation->channel.Receive();
  // What arrived before the end is still handled.
  const DWORD handled = TakeFrames(conversation);
  if (ended) {
    Lost(conversation, died);
  } else {
    Arm(*conversation);
  }
  return handled;
}

DWORD Instance::TakeFrames(const std::shared_ptr<Conversation>& conversation) {
  DWORD handled = 0;
  std::vector<std::uint8_t> body;
  while (!ended_ && conversation->state != Conversation::State::kClosed && !conversation->busy) {
    const std::size_t limit = conversation->state == Conversation::State::kGreeting
                                  ? kGreetingFrameBytes
                                  : kMaxFrameBytes;
    const FrameChannel::Next next = conversation->channel.Take(&body, limit);
    if (next == FrameChannel::Next::kNone) break;
    if (next == FrameChannel::Next::kBad) {
      Drop(conversation, "a frame longer than the protocol allows, or of no length");
      break;
    }
    std::optional<Message> message = DecodeFrame(body);
    if (!message) {
      Drop(conversation, "bytes that are not a frame of the protocol");
      break;
    }
    handled += conversation->side == Conversation::Side::kServer
                   ? OnServerMessage(conversation, *message)
                   : OnClientMessage(conversation, *message);
  }
  return handled;
}

std::uint64_t Instance::AddToPollSet(int fd) {
  const std::uint64_t key = nextKey_++;
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = key;
  return ::epoll_ctl(pollSet_.get(), EPOLL_CTL_ADD, fd, &event) == 0 ? key : 0;
}

void Instance::Arm(Conversation& conversation) {
  if (conversation.state == Conversation::State::kClosed || !pollSet_) return;
  if (conversation.busy) {
    // Out of the set altogether: a hung-up socket would keep waking the
    // callback's own message loop otherwise.
    if (conversation.polled) {
      ::epoll_ctl(pollSet_.get(), EPOLL_CTL_DEL, conversation.channel.fd(), nullptr);
    }
    conversation.polled = false;
    return;
  }
  epoll_event event{};
  event.events = EPOLLIN | (conversation.channel.WantsWrite() ? EPOLLOUT : 0u);
  event.data.u64 = conversation.key;
  ::epoll_ctl(pollSet_.get(), conversation.polled ? EPOLL_CTL_MOD : EPOLL_CTL_ADD,
              conversation.channel.fd(), &event);
  conversation.polled = true;
}

void Instance::Forget(Conversation& conversation) {
  if (conversation.polled && pollSet_) {
    ::epoll_ctl(pollSet_.get(), EPOLL_CTL_DEL, conversation.channel.fd(), nullptr);
  }
  conversation.polled = false;
  conversation.channel.Close();
  conversation.state = Conversation::State::kClosed;
  conversations_.erase(conversation.key);
}

void Instance::Lost(const std::shared_ptr<Conversation>& conversation, UINT reason) {
  if (conversation->state == Conversation::State::kClosed) return;
  const bool wasOpen = conversation->state == Conversation::State::kOpen;
  Forget(*conversation);
  if (!wasOpen) return;  // a greeting that came to nothing: nobody knew of it
  if (conversation->side == Conversation::Side::kClient) {
    conversation->closedError = reason;
    if (reason == DMLERR_SERVER_DIED) {
      LogWarning("DDE: the server of service \"" +
                 StringText(conversation->service.get()).value_or("") +
                 "\" went away without ending the conversation; its transactions fail");
    }
    FailPending(conversation);
  }
  if (!ended_ && !Filtered(CBF_SKIP_DISCONNECTS) && conversation->handle != nullptr) {
    Call(XTYP_DISCONNECT, 0, conversation->handle, nullptr, nullptr, nullptr, 0,
         conversation->self ? 1 : 0);
  }
  // A client's handle stays until the program lets go of it, so that its
  // transactions can say why they fail; a server's goes now.
  if (conversation->side == Conversation::Side::kServer) TakeHandle(*conversation);
}

void Instance::Drop(const std::shared_ptr<Conversation>& conversation, std::string_view why) {
  LogWarning("DDE: dropped a connection of service \"" +
             StringText(conversation->service.get()).value_or("") + "\" that sent " +
             std::string(why));
  Lost(conversation, DMLERR_SYS_ERROR);
}

bool Instance::PumpUntil(const std::function<bool()>& done, Clock::time_point deadline) {
  const int queue = MessageQueueDescriptor();
  std::optional<int> quit;
  while (!done()) {
    const auto now = Clock::now();
    if (now >= deadline) break;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    pollfd wait{queue >= 0 ? queue : pollSet_.get(), POLLIN, 0};
    ::poll(&wait, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (queue < 0) {
      HandleEvents();  // no queue to run: at least this instance's sockets
      continue;
    }
    MSG message{};
    while (!done() && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      // A quit request is kept for the loop that waits for it.
      if (message.message == WM_QUIT) {
        quit = static_cast<int>(message.wParam);
        continue;
      }
      DispatchMessageW(&message);
    }
  }
  if (quit) PostQuitMessage(*quit);
  return done();
}

HDDEDATA Instance::Call(UINT type, UINT format, HCONV conversation, HSZ hsz1, HSZ hsz2,
                        HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2) noexcept {
  return callback_(type, format, conversation, hsz1, hsz2, data, data1, data2);
}

}  // namespace tbm::dde
