// CeRapiInvoke on the desktop: a handheld function called without a stream
// (one request, one reply) or with one (the connection's channel handed to
// a ChannelStream session until both ends are closed), and the calls made
// while a stream is open.
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>

#include "ChannelStream.h"
#include "Rapi.h"
#include "RapiConnection.h"
#include "Utf16.h"

namespace tbm::rapi {

// The open stream of an invocation and the replies that came beside it.
class InvocationSession {
 public:
  // The replies that came for requests made while the stream is open, by
  // request id. Shared with the pump's frame handler.
  struct Replies {
    std::mutex mutex;
    std::condition_variable arrived;
    std::map<std::uint32_t, Frame> frames;
  };

  std::shared_ptr<ChannelStream> stream;
  std::shared_ptr<Replies> replies = std::make_shared<Replies>();
};

namespace {

constexpr std::uint32_t kWithStream = 1;

// How often each side shows it is alive while a stream is open: a third of
// the time the other side waits before it gives up, within bounds.
Milliseconds AliveInterval() {
  return std::clamp(CallLimit() / 3, Milliseconds(50), Milliseconds(10000));
}

// Gives the channel back to the connection when the session is over in
// order; closes the connection when it failed. Nothing while it is open.
// REQUIRES: connection.lock held.
void Settle(Connection& connection) {
  if (!connection.session || !connection.session->stream->over()) return;
  if (const Status failure = connection.session->stream->failure(); !failure.ok()) {
    Record(failure.WithContext("the stream of CeRapiInvoke"));
    connection.Close();
    return;
  }
  connection.channel = connection.session->stream->TakeChannel();
  connection.session.reset();
}

// The reply frames of requests made while the stream is open go to their
// waiters; the handheld sends nothing else of its own.
ChannelStream::FrameHandler ReplyHandler(std::shared_ptr<InvocationSession::Replies> replies) {
  return [replies](const Frame& frame, ChannelStream&) -> Status {
    if ((frame.header.call & kReplyFlag) == 0) {
      return Status(StatusCode::kCorrupt, "the handheld sent " + CallName(frame.header.call) +
                                              " as a request while a stream was open");
    }
    {
      std::lock_guard hold(replies->mutex);
      replies->frames[frame.header.requestId] = frame;
    }
    replies->arrived.notify_all();
    return Status();
  };
}

// HRESULT of a call that failed: the handheld's own result when it reached
// it, else why it did not.
HRESULT FailureResult(const Status& status) {
  if (status.code() == StatusCode::kFailed && CeRapiGetError() == S_OK &&
      FAILED(static_cast<HRESULT>(status.platformError()))) {
    return static_cast<HRESULT>(status.platformError());
  }
  return FAILED(CeRapiGetError()) ? CeRapiGetError() : E_FAIL;
}

// The request of an invocation.
std::vector<std::uint8_t> InvokeRequest(const WCHAR* dllPath, const WCHAR* functionName,
                                        DWORD cbInput, const BYTE* pInput, bool withStream) {
  return PayloadWriter()
      .String(Utf16View(dllPath))
      .String(Utf16View(functionName))
      .Bytes(std::span<const std::uint8_t>(pInput, pInput != nullptr ? cbInput : 0))
      .U32(withStream ? kWithStream : 0)
      .U32(static_cast<std::uint32_t>(AliveInterval().count()))
      .Take();
}

HRESULT InvokeWithoutStream(std::span<const std::uint8_t> request, DWORD* pcbOutput,
                            BYTE** ppOutput) {
  std::vector<std::uint8_t> results;
  if (Status status = Call(RapiCall::kInvoke, request, &results); !status.ok()) {
    return FailureResult(status);
  }
  PayloadReader reader(results);
  std::int32_t result = 0;
  std::vector<std::uint8_t> output;
  if (!reader.I32(&result) || !reader.Bytes(&output) || !reader.End()) {
    Record(reader.status().WithContext("the reply to CeRapiInvoke"));
    return RAPI_E_BAD_REPLY;
  }
  if (!output.empty() && ppOutput != nullptr) {
    auto* block = static_cast<BYTE*>(std::malloc(output.size()));
    if (block == nullptr) {
      Record(Status(StatusCode::kNoMemory, "there is no memory for the function's output of " +
                                               std::to_string(output.size()) + " bytes"));
      return E_OUTOFMEMORY;
    }
    std::memcpy(block, output.data(), output.size());
    *ppOutput = block;
    if (pcbOutput != nullptr) *pcbOutput = static_cast<DWORD>(output.size());
  }
  return result;
}

// Sends the request of an invocation with a stream on the bare channel and
// hands the channel to a new session. REQUIRES: connection.lock held, the
// channel open and no session.
Status OpenStream(Connection& connection, std::span<const std::uint8_t> request,
                  RapiStreamPtr* end) {
  const std::uint32_t requestId = connection.nextRequest++;
  const auto number = static_cast<std::uint16_t>(RapiCall::kInvoke);
  if (Status status = connection.channel->Send(number, requestId, request, CallLimit());
      !status.ok()) {
    return status;
  }
  Frame reply;
  if (Status status = connection.channel->Receive(&reply, CallLimit()); !status.ok()) {
    return status;
  }
  if (reply.header.call != (number | kReplyFlag) || reply.header.requestId != requestId) {
    return Status(StatusCode::kCorrupt,
                  "the handheld answered CeRapiInvoke with a reply to another request");
  }
  PayloadReader reader(reply.payload);
  std::int32_t result = 0;
  if (!reader.I32(&result)) return reader.status().WithContext("the reply to CeRapiInvoke");
  if (FAILED(result)) {
    std::u16string words;
    if (!reader.String(&words, 4096) || !reader.End()) {
      return reader.status().WithContext("the reply to CeRapiInvoke");
    }
    return Status(StatusCode::kFailed,
                  "the handheld could not do CeRapiInvoke: " + Utf16ToUtf8(words),
                  static_cast<std::uint32_t>(result));
  }
  if (!reader.End()) return reader.status().WithContext("the reply to CeRapiInvoke");
  auto session = std::make_shared<InvocationSession>();
  ChannelStream::Settings settings;
  settings.requestId = requestId;
  settings.aliveInterval = AliveInterval();
  settings.silenceLimit = CallLimit();
  settings.frameLimit = CallLimit();
  if (Status status = ChannelStream::Start(std::move(connection.channel), settings,
                                           ReplyHandler(session->replies), &session->stream, end);
      !status.ok()) {
    return status;
  }
  connection.session = std::move(session);
  return Status();
}

HRESULT InvokeWithStream(std::span<const std::uint8_t> request, IRAPIStream** ppIRAPIStream) {
  Connection& connection = TheConnection();
  std::lock_guard hold(connection.lock);
  if (!connection.open()) {
    Record(Status(StatusCode::kFailed,
                  "there is no connection to the handheld; call CeRapiInit first"));
    return RAPI_E_NOT_CONNECTED;
  }
  Settle(connection);
  if (connection.session) {
    // The earlier stream ends once both sides released their ends.
    connection.session->stream->WaitOver(CallLimit());
    Settle(connection);
    if (connection.session) {
      Record(
          Status(StatusCode::kBusy, "the stream of an earlier CeRapiInvoke is still open after " +
                                        std::to_string(CallLimit().count()) +
                                        " ms; release its end before opening another"));
      return RAPI_E_BUSY;
    }
  }
  if (!connection.channel) return CeRapiGetError();  // the earlier stream broke the connection
  RapiStreamPtr end;
  const Status status = OpenStream(connection, request, &end);
  if (status.ok()) {
    Record(Status());
    *ppIRAPIStream = end.release();
    return S_OK;
  }
  if (status.code() == StatusCode::kFailed) {  // the handheld refused
    Record(Status());
    return static_cast<HRESULT>(status.platformError());
  }
  Record(status);
  connection.Close();
  return CeRapiGetError();
}

}  // namespace

void Connection::Close() {
  channel.reset();
  if (session) {
    session->stream->Abort("the connection to the handheld was closed (CeRapiUninit)");
    session->replies->arrived.notify_all();
    session.reset();
  }
}

Status ExchangeBesideStream(Connection& connection, std::uint16_t call, std::uint32_t requestId,
                            std::span<const std::uint8_t> payload, Frame* reply) {
  // Once the caller has given its end back, the invocation is over for it:
  // a call made now follows the invoked function, so it waits (within the
  // call limit) for the handheld to end the stream too, which it does when
  // the function has returned. Otherwise the call would run on the
  // handheld beside the function's last work (an EndSync beside the
  // closing of the database just rebuilt). Should the handheld not end it
  // in time, the call still goes beside the stream.
  if (connection.session->stream->localClosed()) {
    connection.session->stream->WaitOver(CallLimit());
  }
  if (connection.session->stream->over()) {
    if (const Status failure = connection.session->stream->failure(); !failure.ok()) {
      return failure.WithContext("the stream of CeRapiInvoke");
    }
  }
  Settle(connection);
  if (!connection.session) {
    if (!connection.channel) {
      return Status(StatusCode::kFailed, "the connection to the handheld broke during a stream");
    }
    if (Status status = connection.channel->Send(call, requestId, payload, CallLimit());
        !status.ok()) {
      return status;
    }
    return connection.channel->Receive(reply, CallLimit());
  }
  InvocationSession& session = *connection.session;
  if (Status status = session.stream->Post(
          call, requestId, std::vector<std::uint8_t>(payload.begin(), payload.end()), true);
      !status.ok()) {
    // The stream may have ended in order just now: then the channel is free.
    if (session.stream->over() && session.stream->failure().ok()) {
      return ExchangeBesideStream(connection, call, requestId, payload, reply);
    }
    return status;
  }
  // The pump's end does not signal this condition, so the wait looks at
  // the session now and then.
  const auto deadline = std::chrono::steady_clock::now() + CallLimit();
  std::unique_lock lock(session.replies->mutex);
  bool arrived = false;
  while (!(arrived = session.replies->frames.count(requestId) != 0 || session.stream->over()) &&
         std::chrono::steady_clock::now() < deadline) {
    session.replies->arrived.wait_for(lock, Milliseconds(50));
  }
  const auto found = session.replies->frames.find(requestId);
  if (found != session.replies->frames.end()) {
    *reply = std::move(found->second);
    session.replies->frames.erase(found);
    return Status();
  }
  if (!arrived) {
    return Status(StatusCode::kIoFailed,
                  CallName(call) + " took longer than the time limit of " +
                      std::to_string(CallLimit().count()) +
                      " ms while a stream was open; the handheld does not answer",
                  WAIT_TIMEOUT);
  }
  const Status failure = session.stream->failure();
  return failure.ok() ? Status(StatusCode::kCorrupt,
                               "the stream ended without the reply to " + CallName(call))
                      : failure;
}

}  // namespace tbm::rapi

using namespace tbm::rapi;

extern "C" HRESULT CeRapiInvoke(const WCHAR* dllPath, const WCHAR* functionName, DWORD cbInput,
                                BYTE* pInput, DWORD* pcbOutput, BYTE** ppOutput,
                                IRAPIStream** ppIRAPIStream, DWORD) {
  if (pcbOutput != nullptr) *pcbOutput = 0;
  if (ppOutput != nullptr) *ppOutput = nullptr;
  if (ppIRAPIStream != nullptr) *ppIRAPIStream = nullptr;
  if (dllPath == nullptr || functionName == nullptr || (pInput == nullptr && cbInput > 0)) {
    return E_INVALIDARG;
  }
  try {
    const std::vector<std::uint8_t> request =
        InvokeRequest(dllPath, functionName, cbInput, pInput, ppIRAPIStream != nullptr);
    if (ppIRAPIStream == nullptr) return InvokeWithoutStream(request, pcbOutput, ppOutput);
    return InvokeWithStream(request, ppIRAPIStream);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

extern "C" HRESULT CeRapiFreeBuffer(void* buffer) {
  std::free(buffer);
  return S_OK;
}
