// The client side of an instance: opening conversations, running
// transactions on them, and completing or giving up the ones in flight.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "Instance.h"
#include "Registry.h"
#include "ServiceSocket.h"

namespace tbm::dde {

namespace {

std::atomic<DWORD> connectTimeLimit{30000};

// What a server acknowledged: the flags it answered, or the failure.
UINT RefusalOf(std::uint32_t flags) {
  return (flags & DDE_FBUSY) != 0 ? DMLERR_BUSY : DMLERR_NOTPROCESSED;
}

UINT TimeoutOf(UINT type) {
  switch (type) {
    case XTYP_EXECUTE:
      return DMLERR_EXECACKTIMEOUT;
    case XTYP_POKE:
      return DMLERR_POKEACKTIMEOUT;
    default:
      return DMLERR_DATAACKTIMEOUT;
  }
}

// A non-null answer that is not a data handle: a transaction that carried
// no data back went well.
HDDEDATA const kDone = reinterpret_cast<HDDEDATA>(std::uintptr_t{1});

}  // namespace

std::shared_ptr<Conversation> Instance::Connect(HSZ service, HSZ topic) {
  const auto serviceText = StringText(service);
  const auto topicText = StringText(topic);
  if (!serviceText || serviceText->empty() || !topicText) {
    return Fail(DMLERR_INVALIDPARAMETER, nullptr);
  }
  const DWORD limit = connectTimeLimit.load();
  Socket socket = ConnectToSameUser(ServiceSocketName(*serviceText),
                                    static_cast<int>(std::min<DWORD>(limit, INT_MAX)));
  if (!socket) {
    LogWarning(errno == EACCES ? "DDE: the socket of service \"" + *serviceText +
                                     "\" belongs to another user; no conversation was opened"
                               : "DDE: no server of service \"" + *serviceText +
                                     "\" runs on this desktop machine");
    return Fail(DMLERR_NO_CONV_ESTABLISHED, nullptr);
  }
  auto conversation =
      std::make_shared<Conversation>(Conversation::Side::kClient, std::move(socket));
  conversation->service = StringRef(*serviceText);
  conversation->topic = StringRef(*topicText);
  conversation->key = nextKey_++;
  if (!conversation->channel.Send(EncodeFrame(Hello{id_, *serviceText, *topicText}))) {
    return Fail(DMLERR_NO_CONV_ESTABLISHED, nullptr);
  }
  conversations_.emplace(conversation->key, conversation);
  Arm(*conversation);
  const bool answered =
      PumpUntil([&] { return conversation->state != Conversation::State::kGreeting; },
                Clock::now() + std::chrono::milliseconds(limit));
  if (!answered) {
    LogWarning("DDE: the server of service \"" + *serviceText + "\" did not answer within " +
               std::to_string(limit) + " ms; no conversation was opened");
    Forget(*conversation);
  }
  if (conversation->state != Conversation::State::kOpen) {
    return Fail(DMLERR_NO_CONV_ESTABLISHED, nullptr);
  }
  GiveHandle(conversation);
  return conversation;
}

HDDEDATA Instance::Transact(const std::shared_ptr<Conversation>& conversation,
                            std::span<const std::uint8_t> data, HSZ item, UINT format, UINT type,
                            DWORD timeout, DWORD* result) {
  if (conversation->side != Conversation::Side::kClient) {
    return Fail(DMLERR_DLL_USAGE, HDDEDATA{nullptr});
  }
  if (conversation->state != Conversation::State::kOpen) {
    return Fail(conversation->closedError, HDDEDATA{nullptr});
  }
  if (type != XTYP_EXECUTE && type != XTYP_POKE && type != XTYP_REQUEST) {
    return Fail(DMLERR_INVALIDPARAMETER, HDDEDATA{nullptr});
  }
  const std::optional<std::string> itemText =
      type == XTYP_EXECUTE ? std::optional<std::string>("") : StringText(item);
  if (!itemText) return Fail(DMLERR_INVALIDPARAMETER, HDDEDATA{nullptr});
  if (data.size() > kMaxBlockBytes) {
    LogWarning("DDE: a block of " + std::to_string(data.size()) +
               " bytes is larger than a conversation carries; the transaction was not sent");
    return Fail(DMLERR_MEMORY_ERROR, HDDEDATA{nullptr});
  }
  const bool async = timeout == TIMEOUT_ASYNC;
  if (!async && conversation->syncInFlight) return Fail(DMLERR_REENTRANCY, HDDEDATA{nullptr});

  std::uint32_t id = nextTransaction_++;
  if (id == 0) id = nextTransaction_++;
  Transaction transaction;
  transaction.id = id;
  transaction.type = type;
  transaction.format = format;
  transaction.item = *itemText;
  if (type != XTYP_REQUEST) transaction.data.assign(data.begin(), data.end());
  if (!conversation->channel.Send(EncodeFrame(transaction))) {
    Lost(conversation, DMLERR_SERVER_DIED);
    return Fail(DMLERR_SERVER_DIED, HDDEDATA{nullptr});
  }
  Arm(*conversation);
  PendingTransaction& pending = conversation->pending[id];
  pending.type = type;
  pending.format = format;
  pending.item = StringRef(*itemText);
  pending.async = async;
  if (async) {
    if (result != nullptr) *result = id;
    return kDone;
  }

  conversation->syncInFlight = true;
  const auto finished = [&] {
    const auto at = conversation->pending.find(id);
    return conversation->state == Conversation::State::kClosed ||
           (at != conversation->pending.end() && at->second.done);
  };
  PumpUntil(finished, Clock::now() + std::chrono::milliseconds(timeout));
  conversation->syncInFlight = false;
  const auto node = conversation->pending.extract(id);  // a late answer finds nothing
  if (node.empty() || !node.mapped().done) {
    if (conversation->state == Conversation::State::kClosed) {
      return Fail(conversation->closedError, HDDEDATA{nullptr});
    }
    LogWarning("DDE: a transaction with service \"" +
               StringText(conversation->service.get()).value_or("") + "\" had no answer within " +
               std::to_string(timeout) + " ms and was given up");
    return Fail(TimeoutOf(type), HDDEDATA{nullptr});
  }
  const PendingTransaction& done = node.mapped();
  if (result != nullptr) *result = done.flags;
  if (type == XTYP_REQUEST) {
    if (!done.hasData) return Fail(DMLERR_NOTPROCESSED, HDDEDATA{nullptr});
    return AddData(id_, std::move(node.mapped().data), format);
  }
  if ((done.flags & DDE_FACK) == 0) return Fail(RefusalOf(done.flags), HDDEDATA{nullptr});
  return kDone;
}

DWORD Instance::OnClientMessage(const std::shared_ptr<Conversation>& conversation,
                                Message& message) {
  if (conversation->state == Conversation::State::kGreeting) {
    if (const auto* welcome = std::get_if<Welcome>(&message)) {
      if (welcome->accepted) {
        conversation->state = Conversation::State::kOpen;
      } else {
        conversation->refused = true;
        Forget(*conversation);
      }
      return 1;
    }
    Drop(conversation, "something other than an answer to its greeting");
    return 0;
  }
  if (auto* result = std::get_if<Result>(&message)) return Complete(conversation, *result);
  if (std::holds_alternative<Goodbye>(message)) {
    Lost(conversation, DMLERR_NO_CONV_ESTABLISHED);
    return 1;
  }
  Drop(conversation, "a frame that only a client sends");
  return 0;
}

DWORD Instance::Complete(const std::shared_ptr<Conversation>& conversation, Result& result) {
  const auto at = conversation->pending.find(result.id);
  if (at == conversation->pending.end()) return 0;  // given up: the answer is dropped
  if (!at->second.async) {
    at->second.done = true;
    at->second.flags = result.flags;
    at->second.hasData = result.hasData;
    at->second.data = std::move(result.data);
    return 1;
  }
  const PendingTransaction pending = std::move(at->second);
  conversation->pending.erase(at);
  std::optional<DataRef> data;
  HDDEDATA answer = nullptr;
  if (pending.type == XTYP_REQUEST) {
    if (result.hasData) {
      data.emplace(id_, std::move(result.data), pending.format);
      answer = data->get();
    }
  } else if ((result.flags & DDE_FACK) != 0) {
    answer = kDone;
  }
  Call(XTYP_XACT_COMPLETE, pending.format, conversation->handle, conversation->topic.get(),
       pending.item.get(), answer, result.id, result.flags);
  return 1;
}

void Instance::FailPending(const std::shared_ptr<Conversation>& conversation) {
  // Synchronous waits see the closed conversation; asynchronous
  // transactions complete with nothing, so nobody waits out a time limit
  // for a server that is gone.
  std::vector<std::pair<std::uint32_t, PendingTransaction>> failed;
  for (auto at = conversation->pending.begin(); at != conversation->pending.end();) {
    if (!at->second.async) {
      ++at;
      continue;
    }
    failed.emplace_back(at->first, std::move(at->second));
    at = conversation->pending.erase(at);
  }
  for (const auto& [id, pending] : failed) {
    if (ended_) return;
    Call(XTYP_XACT_COMPLETE, pending.format, conversation->handle, conversation->topic.get(),
         pending.item.get(), nullptr, id, 0);
  }
}

bool Instance::Abandon(Conversation* conversation, DWORD transaction) {
  bool found = false;
  const auto abandon = [&](Conversation& in) {
    std::erase_if(in.pending, [&](const auto& entry) {
      const bool match = entry.second.async && (transaction == 0 || entry.first == transaction);
      found = found || match;
      return match;
    });
  };
  if (conversation != nullptr) {
    abandon(*conversation);
  } else {
    for (const auto& [key, open] : conversations_) abandon(*open);
  }
  if (!found && transaction != 0) return Fail(DMLERR_UNFOUND_QUEUE_ID, false);
  return true;
}

void Instance::Disconnect(const std::shared_ptr<Conversation>& conversation) {
  if (conversation->state == Conversation::State::kOpen) {
    conversation->channel.Send(EncodeFrame(Goodbye{}));  // as far as the socket takes it
  }
  conversation->closedError = DMLERR_NO_CONV_ESTABLISHED;
  conversation->pending.clear();  // nothing of it completes any more
  Forget(*conversation);
  TakeHandle(*conversation);
}

void SetConnectTimeLimit(DWORD milliseconds) { connectTimeLimit = milliseconds; }

}  // namespace tbm::dde
