#include "DeviceInvoke.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "ChannelStream.h"
#include "HandheldLibrary.h"
#include "ProgramLog.h"
#include "RapiStream.h"
#include "Utf16.h"

namespace tbm::devicelink {
namespace {

using rapi::PayloadReader;
using rapi::PayloadWriter;
using rapi::RapiCall;

constexpr std::uint32_t kWithStream = 1;
// The handheld's error for an export a library does not have.
constexpr DWORD kErrorProcNotFound = 127;
// The names a desktop may give, in characters.
constexpr std::uint32_t kMaxNameUnits = 260;
// Bounds of the interval at which the service shows it is alive.
constexpr rapi::Milliseconds kShortestAlive{50};
constexpr rapi::Milliseconds kLongestAlive{10000};
// How long the service waits to hear from a desktop while a stream is open,
// and for each frame.
constexpr rapi::Milliseconds kStreamSilenceLimit{30000};

struct InvokeArguments {
  std::u16string library;
  std::u16string function;
  std::vector<std::uint8_t> input;
  std::uint32_t flags = 0;
  std::uint32_t aliveMs = 0;
};

bool ReadArguments(PayloadReader& reader, InvokeArguments* arguments) {
  return reader.String(&arguments->library, kMaxNameUnits) &&
         reader.String(&arguments->function, kMaxNameUnits) && reader.Bytes(&arguments->input) &&
         reader.U32(&arguments->flags) && reader.U32(&arguments->aliveMs) && reader.End();
}

// A library loaded for one call and the function looked up in it.
class HandheldFunction {
 public:
  HandheldFunction() = default;
  ~HandheldFunction() {
    if (library_ != nullptr) ::dlclose(library_);
  }
  HandheldFunction(const HandheldFunction&) = delete;
  HandheldFunction& operator=(const HandheldFunction&) = delete;

  // Loads the library and finds the function; on failure, the failure
  // reply (the handheld's last error set in state).
  bool Find(const InvokeArguments& arguments, ConnectionState& state,
            std::vector<std::uint8_t>* failure) {
    const std::string library = "the library " + Utf16ToUtf8(arguments.library);
    const MappedPath path = HostPathOfHandheldLibrary(arguments.library);
    if (!path) {
      *failure = path.error == ERROR_ACCESS_DENIED
                     ? Refused(state, path.error,
                               library +
                                   " lies outside the handheld; only libraries inside its "
                                   "device root can be called")
                     : Refused(state, path.error,
                               library + " cannot be found: " + DescribeError(path.error));
      return false;
    }
    struct stat info {};
    if (::stat(path.hostPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
      *failure = Refused(state, ERROR_MOD_NOT_FOUND,
                         library + " is not on the handheld (no file " + path.hostPath + ")");
      return false;
    }
    library_ = ::dlopen(path.hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) {
      const char* why = ::dlerror();
      *failure = Refused(state, ERROR_BAD_FORMAT,
                         library + " (" + path.hostPath +
                             ") cannot be loaded: " + (why != nullptr ? why : "no reason given"));
      return false;
    }
    function_ = reinterpret_cast<RapiInvokeFunction>(
        ::dlsym(library_, Utf16ToUtf8(arguments.function).c_str()));
    if (function_ == nullptr) {
      *failure = Refused(state, kErrorProcNotFound,
                         library + " has no function " + Utf16ToUtf8(arguments.function));
      return false;
    }
    return true;
  }

  RapiInvokeFunction function() const { return function_; }

 private:
  static std::vector<std::uint8_t> Refused(ConnectionState& state, DWORD error,
                                           const std::string& words) {
    state.lastError = error;
    return FailureReply(FromWin32(error), words);
  }

  void* library_ = nullptr;
  RapiInvokeFunction function_ = nullptr;
};

void Log(LogLevel level, const std::string& text) { WriteLog("tbm-devicelink", level, text); }

// Serves the requests that come while the stream is open, on the pump's
// thread; the serve loop waits meanwhile, so state has one user at a time.
rapi::ChannelStream::FrameHandler RequestHandler(ConnectionState& state) {
  return [&state](const rapi::Frame& frame, rapi::ChannelStream& session) -> Status {
    if ((frame.header.call & rapi::kReplyFlag) != 0) {
      return Status(StatusCode::kCorrupt,
                    "the desktop sent a reply (" + rapi::CallName(frame.header.call) + ")");
    }
    return session.Post(frame.header.call | rapi::kReplyFlag, frame.header.requestId,
                        ServeRequest(frame, state), false);
  };
}

}  // namespace

bool WantsStream(const rapi::Frame& request) {
  if (request.header.call != static_cast<std::uint16_t>(RapiCall::kInvoke)) return false;
  PayloadReader reader(request.payload);
  InvokeArguments arguments;
  return ReadArguments(reader, &arguments) && arguments.flags == kWithStream;
}

std::vector<std::uint8_t> ServeInvoke(PayloadReader& reader, ConnectionState& state) {
  const auto call = static_cast<std::uint16_t>(RapiCall::kInvoke);
  InvokeArguments arguments;
  if (!ReadArguments(reader, &arguments)) return Malformed(reader, call);
  if (arguments.flags == kWithStream) {
    state.lastError = ERROR_BUSY;
    return FailureReply(FromWin32(ERROR_BUSY),
                        "the stream of an earlier CeRapiInvoke is still open; only one stream "
                        "at a time");
  }
  HandheldFunction found;
  std::vector<std::uint8_t> failure;
  if (!found.Find(arguments, state, &failure)) return failure;
  DWORD outputBytes = 0;
  BYTE* output = nullptr;
  const HRESULT result = found.function()(static_cast<DWORD>(arguments.input.size()),
                                          arguments.input.data(), &outputBytes, &output, nullptr);
  const std::size_t kept = output != nullptr ? outputBytes : 0;
  if (kept > rapi::kMaxPayloadBytes - 64) {
    std::free(output);
    state.lastError = ERROR_INSUFFICIENT_BUFFER;
    return FailureReply(FromWin32(ERROR_INSUFFICIENT_BUFFER),
                        Utf16ToUtf8(arguments.function) + " gave " + std::to_string(kept) +
                            " bytes of output, more than one reply carries");
  }
  std::vector<std::uint8_t> reply = PayloadWriter()
                                        .I32(S_OK)
                                        .I32(result)
                                        .Bytes(std::span<const std::uint8_t>(output, kept))
                                        .Take();
  std::free(output);
  return reply;
}

Status ServeInvocationWithStream(const rapi::Frame& request,
                                 std::unique_ptr<rapi::TlsChannel>& channel,
                                 ConnectionState& state) {
  const std::uint16_t call = request.header.call;
  const auto reply = [&](const std::vector<std::uint8_t>& payload) {
    return channel->Send(call | rapi::kReplyFlag, request.header.requestId, payload,
                         kStreamSilenceLimit);
  };
  PayloadReader reader(request.payload);
  InvokeArguments arguments;
  if (!state.greeted) {
    return reply(FailureReply(E_FAIL, "CeRapiInvoke came before CeRapiInit's greeting"));
  }
  if (!ReadArguments(reader, &arguments)) return reply(Malformed(reader, call));
  HandheldFunction found;
  std::vector<std::uint8_t> failure;
  if (!found.Find(arguments, state, &failure)) return reply(failure);
  if (Status status = reply(PayloadWriter().I32(S_OK).Take()); !status.ok()) return status;

  rapi::ChannelStream::Settings settings;
  settings.requestId = request.header.requestId;
  settings.aliveInterval =
      std::clamp(rapi::Milliseconds(arguments.aliveMs), kShortestAlive, kLongestAlive);
  settings.silenceLimit = kStreamSilenceLimit;
  settings.frameLimit = kStreamSilenceLimit;
  std::shared_ptr<rapi::ChannelStream> session;
  RapiStreamPtr end;
  if (Status status = rapi::ChannelStream::Start(std::move(channel), settings,
                                                 RequestHandler(state), &session, &end);
      !status.ok()) {
    return status;
  }
  const std::string name = Utf16ToUtf8(arguments.function);
  Log(LogLevel::kInfo, "partner " + state.partnerId + ": " + name + " of " +
                           Utf16ToUtf8(arguments.library) + " runs with a stream");
  IRAPIStream* handed = end.release();
  try {
    std::thread worker([&] {
      DWORD outputBytes = 0;
      BYTE* output = nullptr;
      found.function()(static_cast<DWORD>(arguments.input.size()), arguments.input.data(),
                       &outputBytes, &output, handed);
      std::free(output);  // with a stream the output stays here
    });
    worker.join();
  } catch (const std::system_error&) {
    handed->Release();
    session->Abort("no thread can be started for " + name + "; the handheld is out of resources");
  }
  session->CloseLocalEnd();
  while (!session->WaitOver(rapi::Milliseconds(60000))) {
  }
  channel = session->TakeChannel();
  const Status failed = session->failure();
  if (!failed.ok()) return failed.WithContext("the stream of " + name);
  return Status();
}

}  // namespace tbm::devicelink
