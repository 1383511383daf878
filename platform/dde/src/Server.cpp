// The serving side of an instance: its service names, the conversations
// clients open with it, the transactions it answers, and the registration
// notices it sends and hears.
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Instance.h"
#include "Registry.h"
#include "ServiceSocket.h"

namespace tbm::dde {

namespace {

// Connections taken from a listening socket in one pass.
constexpr int kAcceptsPerPass = 16;
// Conversations an instance keeps at most, and connections that have not
// greeted yet: beyond these, the newest is refused or the oldest silent one
// goes, so a peer that opens and says nothing cannot use the instance up.
constexpr std::size_t kMaxConversations = 256;
constexpr std::size_t kMaxGreetings = 16;
// Registration notices being read at once, the largest notice frame, and how
// long a server waits for room at one instance's notice socket.
constexpr std::size_t kMaxNoticeConnections = 16;
constexpr std::size_t kNoticeFrameBytes = 1024;
constexpr int kNoticeConnectMilliseconds = 50;

// What a server's callback may answer an execute or a poke: the
// acknowledgement, busy, and the program's own status byte.
constexpr std::uintptr_t kAnswerFlags = DDE_FACK | DDE_FBUSY | 0x00FF;

}  // namespace

UINT Instance::Register(HSZ service) {
  if (clientOnly()) return DMLERR_DLL_USAGE;
  const auto text = StringText(service);
  if (!text || text->empty()) return DMLERR_INVALIDPARAMETER;
  std::string folded = FoldName(*text);
  for (const auto& [key, listener] : services_) {
    if (listener.folded == folded) return DMLERR_NO_ERROR;  // ours already
  }
  Socket socket = ListenOnAbstractSocket(ServiceSocketName(*text));
  if (!socket) {
    if (errno == EADDRINUSE) {
      LogWarning("DDE: another server of this desktop machine has registered the service \"" +
                 *text + "\"; it stays the only one until it withdraws the name or ends");
      return DMLERR_DLL_USAGE;
    }
    LogWarning("DDE: the service \"" + *text +
               "\" could not be registered: " + std::strerror(errno));
    return DMLERR_SYS_ERROR;
  }
  const std::uint64_t key = AddToPollSet(socket.get());
  if (key == 0) return DMLERR_SYS_ERROR;
  services_.emplace(key, ServiceListener{StringRef(*text), std::move(folded), std::move(socket)});
  Tell(true, *text);
  return DMLERR_NO_ERROR;
}

UINT Instance::Unregister(HSZ service) {
  if (clientOnly()) return DMLERR_DLL_USAGE;
  std::optional<std::string> folded;
  if (service != nullptr) {
    const auto text = StringText(service);
    if (!text) return DMLERR_INVALIDPARAMETER;
    folded = FoldName(*text);
  }
  bool found = false;
  for (auto at = services_.begin(); at != services_.end();) {
    if (folded && at->second.folded != *folded) {
      ++at;
      continue;
    }
    found = true;
    const std::string text = StringText(at->second.service.get()).value_or("");
    at = services_.erase(at);  // closing the socket takes it out of the poll set
    Tell(false, text);
  }
  // Conversations already open go on: only new ones can no longer start.
  return found || !folded ? DMLERR_NO_ERROR : DMLERR_INVALIDPARAMETER;
}

void Instance::AcceptConversations(std::uint64_t listenerKey) {
  for (int accepted = 0; accepted < kAcceptsPerPass; ++accepted) {
    const auto listener = services_.find(listenerKey);
    if (listener == services_.end()) return;
    bool more = false;
    Socket socket = AcceptSameUser(listener->second.socket.get(), &more);
    if (!socket) {
      if (!more) return;
      continue;
    }
    if (conversations_.size() >= kMaxConversations) {
      LogWarning("DDE: too many conversations at once; a new client was turned away");
      continue;
    }
    // Keys grow with time, so the first greeting found is the oldest.
    std::size_t greeting = 0;
    std::shared_ptr<Conversation> oldest;
    for (const auto& [key, conversation] : conversations_) {
      if (conversation->side != Conversation::Side::kServer ||
          conversation->state != Conversation::State::kGreeting) {
        continue;
      }
      if (!oldest) oldest = conversation;
      ++greeting;
    }
    if (greeting >= kMaxGreetings) Forget(*oldest);
    auto conversation =
        std::make_shared<Conversation>(Conversation::Side::kServer, std::move(socket));
    conversation->listenerKey = listenerKey;
    conversation->key = nextKey_++;
    conversations_.emplace(conversation->key, conversation);
    Arm(*conversation);
  }
}

DWORD Instance::OnServerMessage(const std::shared_ptr<Conversation>& conversation,
                                Message& message) {
  if (conversation->state == Conversation::State::kGreeting) {
    if (const auto* hello = std::get_if<Hello>(&message)) return Greet(conversation, *hello);
    Drop(conversation, "something other than a greeting first");
    return 0;
  }
  if (auto* transaction = std::get_if<Transaction>(&message)) {
    return Serve(conversation, *transaction);
  }
  if (std::holds_alternative<Goodbye>(message)) {
    Lost(conversation, DMLERR_NO_CONV_ESTABLISHED);
    return 1;
  }
  Drop(conversation, "a frame that only a server sends");
  return 0;
}

DWORD Instance::Greet(const std::shared_ptr<Conversation>& conversation, const Hello& hello) {
  conversation->service = StringRef(hello.service);
  conversation->topic = StringRef(hello.topic);
  const auto peer = PeerOf(conversation->channel.fd());
  conversation->self =
      peer && peer->pid == static_cast<std::uint32_t>(::getpid()) && hello.instance == id_;
  const auto listener = services_.find(conversation->listenerKey);
  bool accepted = false;
  if (listener != services_.end() && FoldName(hello.service) == listener->second.folded &&
      !Filtered(CBF_FAIL_CONNECTIONS) &&
      !(conversation->self && Filtered(CBF_FAIL_SELFCONNECTIONS))) {
    conversation->busy = true;
    Arm(*conversation);
    accepted = Call(XTYP_CONNECT, 0, nullptr, conversation->topic.get(),
                    conversation->service.get(), nullptr, 0, conversation->self ? 1 : 0) != nullptr;
    conversation->busy = false;
  }
  if (ended_ || conversation->state == Conversation::State::kClosed) return 1;
  if (!conversation->channel.Send(EncodeFrame(Welcome{accepted})) || !accepted) {
    Forget(*conversation);
    return 1;
  }
  conversation->state = Conversation::State::kOpen;
  GiveHandle(conversation);
  Arm(*conversation);
  if (!Filtered(CBF_SKIP_CONNECT_CONFIRMS)) {
    Call(XTYP_CONNECT_CONFIRM, 0, conversation->handle, conversation->topic.get(),
         conversation->service.get(), nullptr, 0, conversation->self ? 1 : 0);
  }
  return 1;
}

DWORD Instance::Serve(const std::shared_ptr<Conversation>& conversation, Transaction& transaction) {
  Result result;
  result.id = transaction.id;
  // No other frame of this conversation is read until this one is answered.
  conversation->busy = true;
  Arm(*conversation);
  const HSZ topic = conversation->topic.get();
  switch (transaction.type) {
    case XTYP_EXECUTE:
    case XTYP_POKE: {
      const bool poke = transaction.type == XTYP_POKE;
      if (Filtered(poke ? CBF_FAIL_POKES : CBF_FAIL_EXECUTES)) break;
      const StringRef item(poke ? transaction.item : std::string());
      const DataRef data(id_, std::move(transaction.data), transaction.format);
      const HDDEDATA answer = Call(transaction.type, transaction.format, conversation->handle,
                                   topic, poke ? item.get() : nullptr, data.get(), 0, 0);
      result.flags =
          static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(answer) & kAnswerFlags);
      break;
    }
    case XTYP_REQUEST: {
      if (Filtered(CBF_FAIL_REQUESTS)) break;
      const StringRef item(transaction.item);
      const HDDEDATA answer = Call(XTYP_REQUEST, transaction.format, conversation->handle, topic,
                                   item.get(), nullptr, 0, 0);
      if (answer == nullptr) break;
      const auto block = TakeData(answer);  // the library frees what the callback gave
      if (!block) {
        LogWarning("DDE: a request was answered with something that is not a data handle");
      } else if (block->bytes.size() > kMaxBlockBytes) {
        LogWarning("DDE: a request's answer of " + std::to_string(block->bytes.size()) +
                   " bytes is larger than a conversation carries; the client gets no data");
      } else {
        result.flags = DDE_FACK;
        result.hasData = true;
        result.data = std::move(block->bytes);
      }
      break;
    }
    default:
      break;  // not a transaction this library runs: not processed
  }
  conversation->busy = false;
  if (ended_ || conversation->state == Conversation::State::kClosed) return 1;
  if (!conversation->channel.Send(EncodeFrame(result))) {
    Lost(conversation, DMLERR_NO_CONV_ESTABLISHED);
    return 1;
  }
  Arm(*conversation);
  return 1;
}

void Instance::Tell(bool registered, const std::string& service) {
  const std::string own = noticeSocket_ ? NoticeSocketName(id_) : std::string();
  Notice notice;
  notice.registered = registered;
  notice.service = service;
  // The instance-specific name: the service and which instance serves it.
  notice.instanceName =
      service + "(" + std::to_string(::getpid()) + ":" + std::to_string(id_) + ")";
  if (notice.instanceName.size() > kMaxNameBytes) notice.instanceName = service;
  const auto frame = EncodeFrame(notice);
  for (const std::string& name : ListeningNoticeSockets()) {
    if (name == own) continue;
    const Socket socket = ConnectToSameUser(name, kNoticeConnectMilliseconds);
    if (socket) ::send(socket.get(), frame.data(), frame.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  }
}

void Instance::OpenNoticeSocket() {
  noticeSocket_ = ListenOnAbstractSocket(NoticeSocketName(id_));
  if (noticeSocket_) noticeKey_ = AddToPollSet(noticeSocket_.get());
  if (noticeKey_ == 0) {
    LogWarning(std::string("DDE: an instance will not hear of registrations: ") +
               std::strerror(errno));
  }
}

void Instance::AcceptNotices() {
  for (int accepted = 0; accepted < kAcceptsPerPass && noticeSocket_; ++accepted) {
    bool more = false;
    Socket socket = AcceptSameUser(noticeSocket_.get(), &more);
    if (!socket) {
      if (!more) return;
      continue;
    }
    if (notices_.size() >= kMaxNoticeConnections) notices_.erase(notices_.begin());
    const std::uint64_t key = AddToPollSet(socket.get());
    if (key != 0) notices_.emplace(key, FrameChannel(std::move(socket)));
  }
}

DWORD Instance::ReadNotice(std::uint64_t key) {
  const auto at = notices_.find(key);
  const bool open = at->second.Receive();
  std::vector<std::uint8_t> body;
  const FrameChannel::Next next = at->second.Take(&body, kNoticeFrameBytes);
  if (next == FrameChannel::Next::kNone && open) return 0;  // the rest is on its way
  // One notice per connection, read or not.
  notices_.erase(at);
  const std::optional<Message> message =
      next == FrameChannel::Next::kFrame ? DecodeFrame(body) : std::nullopt;
  const Notice* notice = message ? std::get_if<Notice>(&*message) : nullptr;
  if (notice == nullptr) return 0;
  if (Filtered(notice->registered ? CBF_SKIP_REGISTRATIONS : CBF_SKIP_UNREGISTRATIONS)) return 0;
  const StringRef service(notice->service);
  const StringRef name(notice->instanceName);
  Call(notice->registered ? XTYP_REGISTER : XTYP_UNREGISTER, 0, nullptr, service.get(), name.get(),
       nullptr, 0, 0);
  return 1;
}

}  // namespace tbm::dde
