// One DDE instance: a thread's callback, its filters, the services it
// serves, its conversations and its last error.
//
// Everything an instance does on its sockets happens on the thread that
// made it, when that thread looks at its message queue: the instance keeps
// its sockets in a poll set of its own and watches that on the thread's
// queue (QueueWatch.h). Its callback therefore runs there and nowhere else.
// A callback may run a message loop, call the DDE calls again, disconnect
// or even end the instance; every step after a callback looks again at
// what is left.
//
// Instance.cpp holds the life of an instance, its poll set and the waits;
// Server.cpp the serving side; Client.cpp the client side.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <span>
#include <string>

#include "Conversation.h"
#include "Ddeml.h"
#include "FrameChannel.h"
#include "Handles.h"
#include "Socket.h"
#include "WireFormat.h"

namespace tbm::dde {

using Clock = std::chrono::steady_clock;

// Writes a line to the running program's log.
void LogWarning(std::string_view text);

// DdeConnect's wait for a server's answer (Client.cpp).
void SetConnectTimeLimit(DWORD milliseconds);

class Instance : public std::enable_shared_from_this<Instance> {
 public:
  Instance(DWORD id, PFNCALLBACK callback, DWORD flags);
  ~Instance();
  Instance(const Instance&) = delete;
  Instance& operator=(const Instance&) = delete;

  // Makes the poll set and joins the calling thread's message queue; the
  // DMLERR_ code.
  UINT Start();
  // Ends every service and conversation (peers are told) and frees the
  // instance's handles. No callback runs.
  void End();

  DWORD id() const { return id_; }
  bool OnOwnThread() const;
  // Owning thread only: new filters (DdeInitializeA again).
  void SetFlags(DWORD flags);
  bool clientOnly() const { return (flags_ & APPCMD_CLIENTONLY) != 0; }

  // Keeps code as the last error (DMLERR_NO_ERROR leaves it alone) and
  // returns failure, for the failure exits of the calls.
  template <typename Result>
  Result Fail(UINT code, Result failure) {
    if (code != DMLERR_NO_ERROR) lastError_ = code;
    return failure;
  }
  UINT TakeError() { return lastError_.exchange(DMLERR_NO_ERROR); }

  // Server side (Server.cpp): DMLERR_ codes.
  UINT Register(HSZ service);
  UINT Unregister(HSZ service);  // null: every service

  // Client side (Client.cpp); failures keep their code as the last error.
  std::shared_ptr<Conversation> Connect(HSZ service, HSZ topic);
  HDDEDATA Transact(const std::shared_ptr<Conversation>& conversation,
                    std::span<const std::uint8_t> data, HSZ item, UINT format, UINT type,
                    DWORD timeout, DWORD* result);
  bool Abandon(Conversation* conversation, DWORD transaction);
  // Ends a conversation of this instance from this side (either side).
  void Disconnect(const std::shared_ptr<Conversation>& conversation);

 private:
  struct ServiceListener {
    StringRef service;
    std::string folded;
    Socket socket;
  };

  // Instance.cpp
  DWORD HandleEvents();
  DWORD Pump(const std::shared_ptr<Conversation>& conversation, std::uint32_t events);
  DWORD TakeFrames(const std::shared_ptr<Conversation>& conversation);
  std::uint64_t AddToPollSet(int fd);
  void Arm(Conversation& conversation);
  void Forget(Conversation& conversation);
  HCONV GiveHandle(const std::shared_ptr<Conversation>& conversation);
  void TakeHandle(Conversation& conversation);
  void Lost(const std::shared_ptr<Conversation>& conversation, UINT reason);
  void Drop(const std::shared_ptr<Conversation>& conversation, std::string_view why);
  bool PumpUntil(const std::function<bool()>& done, Clock::time_point deadline);
  HDDEDATA Call(UINT type, UINT format, HCONV conversation, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                ULONG_PTR data1, ULONG_PTR data2) noexcept;
  bool Filtered(DWORD filter) const { return (flags_ & filter) != 0; }

  // Server.cpp
  void AcceptConversations(std::uint64_t listenerKey);
  DWORD OnServerMessage(const std::shared_ptr<Conversation>& conversation, Message& message);
  DWORD Greet(const std::shared_ptr<Conversation>& conversation, const Hello& hello);
  DWORD Serve(const std::shared_ptr<Conversation>& conversation, Transaction& transaction);
  void Tell(bool registered, const std::string& service);
  void OpenNoticeSocket();
  void AcceptNotices();
  DWORD ReadNotice(std::uint64_t key);

  // Client.cpp
  DWORD OnClientMessage(const std::shared_ptr<Conversation>& conversation, Message& message);
  DWORD Complete(const std::shared_ptr<Conversation>& conversation, Result& result);
  void FailPending(const std::shared_ptr<Conversation>& conversation);

  const DWORD id_;
  const pid_t thread_;
  const PFNCALLBACK callback_;
  std::atomic<DWORD> flags_;
  std::atomic<UINT> lastError_{DMLERR_NO_ERROR};
  bool ended_ = false;

  Socket pollSet_;
  std::uint64_t watch_ = 0;
  std::uint64_t nextKey_ = 1;
  std::map<std::uint64_t, ServiceListener> services_;
  // The conversations in the poll set, and the handles given out (a
  // client's closed conversation keeps its handle until DdeDisconnect).
  std::map<std::uint64_t, std::shared_ptr<Conversation>> conversations_;
  std::set<HCONV> handles_;
  Socket noticeSocket_;
  std::uint64_t noticeKey_ = 0;
  std::map<std::uint64_t, FrameChannel> notices_;
  std::uint32_t nextTransaction_ = 1;
};

}  // namespace tbm::dde
