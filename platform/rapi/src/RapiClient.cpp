// The desktop side of the remote API: one process-wide connection to the
// paired handheld, and the calls made over it.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "CeUtil.h"
#include "Rapi.h"
#include "RapiConnection.h"
#include "Utf16.h"

namespace tbm::rapi {
namespace {

std::atomic<long long> callLimitMs{30000};
std::atomic<std::uint64_t> exchanges{0};

thread_local HRESULT lastFailure = S_OK;
thread_local std::string lastFailureText;

HRESULT ResultOf(const Status& status) {
  if (status.ok()) return S_OK;
  if (status.platformError() == WAIT_TIMEOUT) return RAPI_E_TIMEOUT;
  if (status.platformError() == kConnectionDropped) return RAPI_E_STREAM_BROKEN;
  switch (status.code()) {
    case StatusCode::kNoPermission:
      return RAPI_E_NOT_PAIRED;
    case StatusCode::kTruncated:
    case StatusCode::kCorrupt:
    case StatusCode::kBadLength:
      return RAPI_E_BAD_REPLY;
    default:
      return E_FAIL;
  }
}

// SIGPIPE would end the process when the handheld drops the connection
// while a frame is written; a program that has not chosen otherwise gets
// the error instead.
void IgnoreSigpipeUnlessHandled() {
  struct sigaction current {};
  if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) {
    ::signal(SIGPIPE, SIG_IGN);
  }
}

// Takes apart the reply to a request; *results gets what follows the
// reply's HRESULT. A failure the handheld reported is kFailed with its
// words and the HRESULT as platformError; everything else is a failure to
// reach it. The reply's payload is moved into *results.
Status ReadReply(Frame& reply, std::uint16_t number, std::uint32_t requestId,
                 std::vector<std::uint8_t>* results, bool* reachedHandheld) {
  *reachedHandheld = false;
  if (reply.header.call != (number | kReplyFlag) || reply.header.requestId != requestId) {
    return Status(StatusCode::kCorrupt,
                  "the handheld answered " + CallName(number) + " with a reply to another request");
  }
  PayloadReader reader(reply.payload);
  std::int32_t result = 0;
  if (!reader.I32(&result)) return reader.status().WithContext("the reply to " + CallName(number));
  if (FAILED(result)) {
    std::u16string words;
    if (!reader.String(&words, 4096) || !reader.End()) {
      return reader.status().WithContext("the reply to " + CallName(number));
    }
    *reachedHandheld = true;
    return Status(StatusCode::kFailed,
                  "the handheld could not do " + CallName(number) + ": " + Utf16ToUtf8(words),
                  static_cast<std::uint32_t>(result));
  }
  *reachedHandheld = true;
  // The results are moved down over the HRESULT, not copied: a file read
  // brings a megabyte at a time.
  reply.payload.erase(reply.payload.begin(), reply.payload.begin() + 4);
  *results = std::move(reply.payload);
  return Status();
}

// Sends one request on channel and waits for its reply (ReadReply).
Status Exchange(TlsChannel& channel, std::uint32_t requestId, RapiCall call,
                std::span<const std::uint8_t> payload, std::vector<std::uint8_t>* results,
                bool* reachedHandheld) {
  *reachedHandheld = false;
  const auto number = static_cast<std::uint16_t>(call);
  if (Status status = channel.Send(number, requestId, payload, CallLimit()); !status.ok()) {
    return status;
  }
  Frame reply;
  if (Status status = channel.Receive(&reply, CallLimit()); !status.ok()) return status;
  return ReadReply(reply, number, requestId, results, reachedHandheld);
}

}  // namespace

Connection& TheConnection() {
  static Connection connection;
  return connection;
}

Milliseconds CallLimit() { return Milliseconds(callLimitMs.load()); }

void Record(const Status& status) {
  lastFailure = ResultOf(status);
  lastFailureText = status.message();
}

Status Call(RapiCall call, std::span<const std::uint8_t> payload,
            std::vector<std::uint8_t>* results) {
  Connection& connection = TheConnection();
  std::lock_guard<std::mutex> hold(connection.lock);
  if (!connection.open()) {
    const Status status(StatusCode::kFailed,
                        "there is no connection to the handheld; call CeRapiInit first");
    lastFailure = RAPI_E_NOT_CONNECTED;
    lastFailureText = status.message();
    return status;
  }
  bool reached = false;
  const std::uint32_t requestId = connection.nextRequest++;
  ++exchanges;
  Status status;
  if (connection.session) {
    Frame reply;
    status = ExchangeBesideStream(connection, static_cast<std::uint16_t>(call), requestId, payload,
                                  &reply);
    if (status.ok()) {
      status = ReadReply(reply, static_cast<std::uint16_t>(call), requestId, results, &reached);
    }
  } else {
    status = Exchange(*connection.channel, requestId, call, payload, results, &reached);
  }
  if (reached) {
    Record(Status());
  } else {
    Record(status);
    connection.Close();
  }
  return status;
}

Status CallAhead(RapiCall call, std::size_t count,
                 const std::function<std::vector<std::uint8_t>(std::size_t)>& request,
                 const std::function<bool(std::vector<std::uint8_t>&)>& take) {
  Connection& connection = TheConnection();
  std::unique_lock<std::mutex> hold(connection.lock);
  if (!connection.channel || connection.session) {
    // No connection (Call says so), or a stream shares it: one at a time.
    hold.unlock();
    for (std::size_t i = 0; i < count; ++i) {
      std::vector<std::uint8_t> results;
      if (Status status = Call(call, request(i), &results); !status.ok()) return status;
      if (!take(results)) break;
    }
    return Status();
  }
  TlsChannel& channel = *connection.channel;
  const auto number = static_cast<std::uint16_t>(call);
  std::deque<std::uint32_t> waiting;  // the ids of requests whose replies are still to come
  std::size_t sent = 0;
  const auto sendNext = [&]() -> Status {
    const std::uint32_t id = connection.nextRequest++;
    ++exchanges;
    const std::vector<std::uint8_t> payload = request(sent++);
    if (Status status = channel.Send(number, id, payload, CallLimit()); !status.ok()) {
      return status;
    }
    waiting.push_back(id);
    return Status();
  };
  Status lost;     // the handheld could not be reached
  Status refused;  // the handheld reported a failure
  bool taking = true;
  while (lost.ok() && waiting.size() < 2 && sent < count) lost = sendNext();
  while (lost.ok() && !waiting.empty()) {
    Frame reply;
    if (lost = channel.Receive(&reply, CallLimit()); !lost.ok()) break;
    const std::uint32_t id = waiting.front();
    waiting.pop_front();
    std::vector<std::uint8_t> results;
    bool reached = false;
    const Status status = ReadReply(reply, number, id, &results, &reached);
    if (!reached) {
      lost = status;
      break;
    }
    if (!taking || !refused.ok()) continue;  // a reply to a request sent ahead, not needed
    if (!status.ok()) {
      refused = status;
      continue;
    }
    taking = take(results);
    if (taking && sent < count) lost = sendNext();
  }
  if (!lost.ok()) {
    Record(lost);
    connection.Close();
    return lost;
  }
  Record(Status());
  return refused;
}

namespace {

Status Open(std::unique_ptr<TlsChannel>* channel, DockedDevice* device) {
  DesktopPartnership partnership;
  if (Status status = LoadDesktopPartnership(&partnership); !status.ok()) return status;
  UniqueFd fd;
  if (Status status = ConnectTcp(partnership.address, CallLimit(), &fd); !status.ok()) {
    return status;
  }
  const PskCredential credential{partnership.partnerId, partnership.key};
  std::unique_ptr<TlsChannel> opened;
  if (Status status = TlsChannel::Connect(std::move(fd), credential, CallLimit(), &opened);
      !status.ok()) {
    return status;
  }
  std::vector<std::uint8_t> results;
  bool reached = false;
  const std::vector<std::uint8_t> hello = PayloadWriter().U32(kProtocolVersion).Take();
  if (Status status = Exchange(*opened, 0, RapiCall::kInit, hello, &results, &reached);
      !status.ok()) {
    return status;
  }
  PayloadReader reader(results);
  std::uint32_t version = 0;
  std::u16string partnerId;
  DockedDevice greeted;
  greeted.address = partnership.address;
  if (!reader.U32(&version)) return reader.status().WithContext("the handheld's greeting");
  if (version != kProtocolVersion) {
    return Status(StatusCode::kCorrupt, "the handheld speaks version " + std::to_string(version) +
                                            " of the remote API and this desktop version " +
                                            std::to_string(kProtocolVersion) +
                                            "; install the same release on both");
  }
  if (!reader.String(&greeted.name, 256) || !reader.String(&partnerId, 64) || !reader.End()) {
    return reader.status().WithContext("the handheld's greeting");
  }
  greeted.partnerId = Utf16ToUtf8(partnerId);
  *channel = std::move(opened);
  *device = std::move(greeted);
  return Status();
}

}  // namespace

std::string RapiFailureText() { return lastFailureText; }

Status QueryDevice(DockedDevice* device) {
  Connection& connection = TheConnection();
  std::lock_guard<std::mutex> hold(connection.lock);
  if (!connection.open()) {
    return Status(StatusCode::kFailed,
                  "no handheld is docked: there is no connection; call CeRapiInit first",
                  static_cast<std::uint32_t>(RAPI_E_NOT_CONNECTED));
  }
  *device = connection.device;
  return Status();
}

void SetCallTimeLimit(std::chrono::milliseconds limit) { callLimitMs = limit.count(); }

std::uint64_t ExchangeCount() { return exchanges.load(); }

Status PairWithHandheld(const Endpoint& address, const std::string& code,
                        const std::u16string& desktopName, DesktopPartnership* partnership) {
  IgnoreSigpipeUnlessHandled();
  // Checked before connecting, so a mistyped code costs the handheld no try.
  std::vector<std::uint8_t> ignored;
  if (Status status =
          DerivePairingKey(code, std::vector<std::uint8_t>(kPairingSaltBytes), &ignored);
      !status.ok()) {
    return status;
  }
  UniqueFd fd;
  if (Status status = ConnectTcp(address, CallLimit(), &fd); !status.ok()) return status;
  std::uint8_t greeting[kPairingGreetingBytes];
  if (Status status = ReceiveRaw(fd.get(), greeting, CallLimit()); !status.ok()) {
    return status.WithContext("pairing with " + address.ToString());
  }
  if (std::memcmp(greeting, kPairingGreeting, sizeof kPairingGreeting) != 0) {
    return Status(StatusCode::kCorrupt,
                  "the service at " + address.ToString() +
                      " is not waiting to pair; run 'tbm-devicelink pair' on the handheld");
  }
  PskCredential credential;
  credential.identity = kPairingIdentity;
  if (Status status = DerivePairingKey(
          code,
          std::span<const std::uint8_t>(greeting + sizeof kPairingGreeting, kPairingSaltBytes),
          &credential.key);
      !status.ok()) {
    return status;
  }
  std::unique_ptr<TlsChannel> channel;
  if (Status status = TlsChannel::Connect(std::move(fd), credential, CallLimit(), &channel);
      !status.ok()) {
    if (status.code() != StatusCode::kNoPermission) return status;
    return Status(StatusCode::kNoPermission, "the handheld did not accept the code " + code +
                                                 "; check the code it shows (each code allows " +
                                                 std::to_string(kPairingTries) + " tries)");
  }
  std::vector<std::uint8_t> results;
  bool reached = false;
  const std::vector<std::uint8_t> request = PayloadWriter().String(desktopName).Take();
  if (Status status = Exchange(*channel, 1, RapiCall::kPair, request, &results, &reached);
      !status.ok()) {
    return status;
  }
  PayloadReader reader(results);
  std::u16string partnerId;
  DesktopPartnership made;
  made.address = address;
  if (!reader.String(&partnerId, 64) || !reader.Bytes(&made.key, kPskBytes) || !reader.End() ||
      made.key.size() != kPskBytes || partnerId.empty()) {
    return Status(StatusCode::kCorrupt, "the handheld's answer to pairing is not well formed");
  }
  made.partnerId = Utf16ToUtf8(partnerId);
  if (Status status = SaveDesktopPartnership(made); !status.ok()) {
    return status.WithContext("keeping the partnership");
  }
  if (Status status = EnsureDeviceSettings(made.partnerId); !status.ok()) {
    return Status(status.code(),
                  "the partnership " + made.partnerId + " is kept, but " + status.message(),
                  status.platformError());
  }
  *partnership = std::move(made);
  return Status();
}

}  // namespace tbm::rapi

using namespace tbm::rapi;

extern "C" HRESULT CeRapiInit() {
  IgnoreSigpipeUnlessHandled();
  Connection& connection = TheConnection();
  std::lock_guard<std::mutex> hold(connection.lock);
  if (connection.open()) return CERAPI_E_ALREADYINITIALIZED;
  const tbm::Status status = Open(&connection.channel, &connection.device);
  Record(status);
  connection.nextRequest = 1;
  return lastFailure;
}

extern "C" HRESULT CeRapiInitEx(RAPIINIT* init) {
  if (init == nullptr || init->cbSize != sizeof(RAPIINIT)) return E_INVALIDARG;
  init->heRapiInit = nullptr;
  init->hrRapiInit = CeRapiInit();
  return init->hrRapiInit;
}

extern "C" HRESULT CeRapiUninit() {
  Connection& connection = TheConnection();
  std::lock_guard<std::mutex> hold(connection.lock);
  if (!connection.open()) return S_FALSE;
  connection.Close();
  return S_OK;
}

extern "C" DWORD CeGetTempPath(DWORD bufferLength, WCHAR* buffer) {
  if (buffer == nullptr && bufferLength != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::vector<std::uint8_t> results;
  if (!Call(RapiCall::kGetTempPath, {}, &results).ok()) return 0;
  PayloadReader reader(results);
  std::u16string path;
  if (!reader.String(&path, 32768) || !reader.End()) {
    Record(reader.status().WithContext("the reply to CeGetTempPath"));
    return 0;
  }
  if (path.size() + 1 > bufferLength) return static_cast<DWORD>(path.size() + 1);
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = u'\0';
  return static_cast<DWORD>(path.size());
}

extern "C" DWORD CeGetLastError() {
  std::vector<std::uint8_t> results;
  if (!Call(RapiCall::kGetLastError, {}, &results).ok()) return 0;
  PayloadReader reader(results);
  std::uint32_t error = 0;
  if (!reader.U32(&error) || !reader.End()) {
    Record(reader.status().WithContext("the reply to CeGetLastError"));
    return 0;
  }
  return error;
}

extern "C" HRESULT CeRapiGetError() { return lastFailure; }
