// The desktop's side of a conversation with Tabulon Pro's bridge plug-in:
// connect to the service "TBP_MOBILE", send each command as an asynchronous
// execute, wait for it while the thread's messages run (1 ms pauses) for at
// most the time limit, then fetch the reply item the same way and read its
// number. A transaction that fails or runs out of time counts as reply 1.
//
// The conversation belongs to the thread that connects; its DDE callbacks
// run only while Send waits.
#pragma once

#include <cstdint>
#include <memory>

#include "DdeCommandBlock.h"
#include "Status.h"
#include "WinTypes.h"

namespace tbm::sync {

// How long one transaction may take before it is given up.
constexpr DWORD kBridgeTimeLimitMs = 60000;

class BridgeClient {
 public:
  // Connects to the plug-in of the Tabulon Pro running on this (desktop)
  // machine. kUnavailable, in words, when none is running with it.
  static Status Connect(std::unique_ptr<BridgeClient>* out, DWORD timeLimitMs = kBridgeTimeLimitMs);
  ~BridgeClient();
  BridgeClient(const BridgeClient&) = delete;
  BridgeClient& operator=(const BridgeClient&) = delete;

  // Sends command and returns the reply's number, or 1 when the
  // transaction failed, timed out or brought no type-1 reply; *failure (when
  // given) then says why, else it is OK.
  std::int32_t Send(const DdeCommand& command, Status* failure = nullptr);

 private:
  BridgeClient() = default;
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace tbm::sync
