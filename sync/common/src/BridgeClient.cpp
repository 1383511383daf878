#include "BridgeClient.h"

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "Ddeml.h"
#include "WinUser.h"

namespace tbm::sync {

namespace {

// What the callback learnt of the transaction a Send waits for.
struct Completion {
  DWORD transaction = 0;
  bool done = false;
  bool succeeded = false;
  std::vector<std::uint8_t> data;
};

// The completion the calling thread waits for; the callback has no other
// way to reach its client.
thread_local Completion* waiting = nullptr;

HDDEDATA OnTransactionComplete(UINT type, UINT, HCONV, HSZ, HSZ, HDDEDATA data, ULONG_PTR data1,
                               ULONG_PTR) {
  if (type != XTYP_XACT_COMPLETE || waiting == nullptr || data1 != waiting->transaction)
    return nullptr;
  waiting->done = true;
  waiting->succeeded = data != nullptr;
  if (data != nullptr) {
    const DWORD size = DdeGetData(data, nullptr, 0, 0);
    waiting->data.resize(size);
    if (size > 0) DdeGetData(data, waiting->data.data(), size, 0);
  }
  return nullptr;
}

std::string DdeProblem(UINT error) {
  switch (error) {
    case DMLERR_SERVER_DIED:
      return "Tabulon Pro ended the conversation (it may have been closed)";
    case DMLERR_NO_CONV_ESTABLISHED:
      return "no Tabulon Pro with its synchronisation plug-in is running";
    case DMLERR_BUSY:
      return "Tabulon Pro is busy with another command";
    case DMLERR_NOTPROCESSED:
      return "Tabulon Pro's plug-in did not take the command";
    default:
      return "the DDE call failed (code " + std::to_string(error) + ")";
  }
}

}  // namespace

struct BridgeClient::State {
  DWORD instance = 0;
  DWORD timeLimitMs = kBridgeTimeLimitMs;
  HSZ service = nullptr;
  HSZ item = nullptr;
  HCONV conversation = nullptr;

  // Runs one asynchronous transaction to its end: the data of a request
  // (empty for an execute), or nothing when it failed or ran out of time.
  std::optional<std::vector<std::uint8_t>> Run(const std::uint8_t* bytes, DWORD size, UINT format,
                                               UINT type, Status* failure) {
    Completion completion;
    DWORD id = 0;
    if (DdeClientTransaction(bytes, size, conversation, type == XTYP_REQUEST ? item : nullptr,
                             format, type, TIMEOUT_ASYNC, &id) == nullptr) {
      *failure = Status(StatusCode::kFailed, DdeProblem(DdeGetLastError(instance)));
      return std::nullopt;
    }
    completion.transaction = id;
    waiting = &completion;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeLimitMs);
    while (!completion.done && std::chrono::steady_clock::now() < deadline) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      if (!completion.done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    waiting = nullptr;
    if (!completion.done) {
      DdeAbandonTransaction(instance, conversation, id);
      *failure = Status(StatusCode::kBusy, "Tabulon Pro did not answer within " +
                                               std::to_string(timeLimitMs / 1000.0).substr(0, 4) +
                                               " seconds; the command was given up");
      return std::nullopt;
    }
    if (!completion.succeeded && type == XTYP_REQUEST) {
      *failure = Status(StatusCode::kFailed, "Tabulon Pro's plug-in gave no reply to the command");
      return std::nullopt;
    }
    if (!completion.succeeded) {
      *failure = Status(StatusCode::kFailed, DdeProblem(DdeGetLastError(instance)));
      return std::nullopt;
    }
    return std::move(completion.data);
  }
};

Status BridgeClient::Connect(std::unique_ptr<BridgeClient>* out, DWORD timeLimitMs) {
  auto state = std::make_unique<State>();
  state->timeLimitMs = timeLimitMs;
  if (UINT error = DdeInitializeA(&state->instance, OnTransactionComplete, APPCMD_CLIENTONLY, 0);
      error != DMLERR_NO_ERROR) {
    return Status(StatusCode::kFailed, "cannot start a DDE conversation: " + DdeProblem(error));
  }
  state->service = DdeCreateStringHandleA(state->instance, kDdeServiceName, CP_WINANSI);
  HSZ topic = DdeCreateStringHandleA(state->instance, kDdeTopicName, CP_WINANSI);
  state->item = DdeCreateStringHandleA(state->instance, kDdeReplyItemName, CP_WINANSI);
  state->conversation = DdeConnect(state->instance, state->service, topic, nullptr);
  DdeFreeStringHandle(state->instance, topic);
  auto client = std::unique_ptr<BridgeClient>(new BridgeClient());
  const UINT error = state->conversation == nullptr ? DdeGetLastError(state->instance) : 0;
  client->state_ = std::move(state);
  if (client->state_->conversation == nullptr) {
    return Status(StatusCode::kNotFound,
                  DdeProblem(error == 0 ? DMLERR_NO_CONV_ESTABLISHED : error) +
                      "; start Tabulon Pro (\"Tabulon Pro\" run) and try again");
  }
  *out = std::move(client);
  return Status();
}

BridgeClient::~BridgeClient() {
  if (!state_) return;
  if (state_->conversation != nullptr) DdeDisconnect(state_->conversation);
  DdeUninitialize(state_->instance);
}

std::int32_t BridgeClient::Send(const DdeCommand& command, Status* failure) {
  Status problem;
  std::int32_t number = 1;
  DdeBlock block;
  if (problem = BuildDdeBlock(command, &block); problem.ok()) {
    // The block goes up to and including its terminating zero.
    if (state_->Run(block.buffer.data(), static_cast<DWORD>(block.size), CF_TEXT, XTYP_EXECUTE,
                    &problem)) {
      if (auto reply = state_->Run(nullptr, 0, CF_TEXT, XTYP_REQUEST, &problem)) {
        problem = ReadDdeReply(*reply, &number);
        if (!problem.ok()) number = 1;
      }
    }
  }
  if (failure != nullptr) *failure = problem;
  return problem.ok() ? number : 1;
}

}  // namespace tbm::sync
