// One DDE conversation as one end of it keeps it.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "Ddeml.h"
#include "FrameChannel.h"
#include "Handles.h"

namespace tbm::dde {

// A client's transaction waiting for its result.
struct PendingTransaction {
  UINT type = 0;
  UINT format = 0;
  StringRef item;
  bool async = false;
  // Set when the result came (synchronous transactions only; an
  // asynchronous one is completed and forgotten at once).
  bool done = false;
  std::uint32_t flags = 0;
  bool hasData = false;
  std::vector<std::uint8_t> data;
};

struct Conversation {
  enum class Side { kClient, kServer };
  enum class State {
    kGreeting,  // client: Hello sent, no answer yet; server: waiting for Hello
    kOpen,
    kClosed,  // the socket is gone; a client's handle stays until DdeDisconnect
  };

  Conversation(Side side, Socket socket) : side(side), channel(std::move(socket)) {}

  const Side side;
  State state = State::kGreeting;
  HCONV handle = nullptr;  // given to the program once the conversation is open
  std::uint64_t key = 0;   // in the instance's poll set
  bool polled = false;     // in the poll set now
  FrameChannel channel;
  StringRef service;
  StringRef topic;
  bool self = false;  // both ends belong to the same instance

  // Server: the service whose socket it came in on, and whether the
  // program's callback is handling one of its frames (no other frame of it
  // is read meanwhile, so its transactions are answered in order).
  std::uint64_t listenerKey = 0;
  bool busy = false;

  // Client: why it closed (for the transactions tried on it afterwards),
  // whether a synchronous transaction waits on it, and what is pending.
  UINT closedError = DMLERR_NO_CONV_ESTABLISHED;
  bool refused = false;
  bool syncInFlight = false;
  std::map<std::uint32_t, PendingTransaction> pending;
};

}  // namespace tbm::dde
