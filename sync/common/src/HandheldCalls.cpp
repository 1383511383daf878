#include "HandheldCalls.h"

#include <string>
#include <utility>

namespace tbm::sync {

namespace {

// How a call is named in messages.
const char* CallName(std::uint32_t id) {
  switch (id) {
    case kOpenDatabaseCall:
      return "the call to open a database";
    case kOpenDatabaseNameCall:
      return "the call for the open database's name";
    case kCloseViewsForSyncCall:
      return "the call to close the views for a synchronisation";
    default:
      return "an unknown call";
  }
}

bool HasNul(std::u16string_view text) { return text.find(u'\0') != std::u16string_view::npos; }

RpcCall Request(std::uint32_t id, std::uint32_t kind, std::uint32_t size) {
  RpcCall call;
  call.size = size;
  call.id = id;
  call.kind = kind;
  return call;
}

// What every reply shares: the program took the call, the size word covers
// the result word and no more than the block, the result is 0 or 1.
Status CheckReply(const RpcAnswer& reply, std::uint32_t id, bool* yes) {
  const std::string call = CallName(id);
  if (reply.handled != 1) {
    return Status(StatusCode::kFailed, "the handheld program did not take " + call +
                                           " (its window answered " +
                                           std::to_string(reply.handled) + ")");
  }
  if (reply.size < kRpcHeaderBytes) {
    return Status(StatusCode::kTruncated, "the handheld program's reply to " + call + " is " +
                                              std::to_string(reply.size) +
                                              " bytes long, too short to hold its result");
  }
  if (reply.size > kRpcBlockBytes) {
    return Status(StatusCode::kBadLength, "the handheld program's reply to " + call +
                                              " says it is " + std::to_string(reply.size) +
                                              " bytes long, more than the " +
                                              std::to_string(kRpcBlockBytes) + " of the block");
  }
  if (reply.result > 1) {
    return Status(StatusCode::kCorrupt, "the handheld program answered " + call +
                                            " with the result " + std::to_string(reply.result) +
                                            ", which is neither 0 nor 1");
  }
  *yes = reply.result == 1;
  return Status();
}

Status CheckRequest(const ReceivedCall& request, std::uint32_t id, std::uint32_t kind) {
  if (request.id != id || request.kind != kind) {
    return Status(StatusCode::kInvalidArgument, "call " + std::to_string(request.id) + " of kind " +
                                                    std::to_string(request.kind) + " is not " +
                                                    CallName(id) + " (call " + std::to_string(id) +
                                                    " of kind " + std::to_string(kind) + ")");
  }
  return Status();
}

// Sends request to the program and reads back its reply.
Status Send(HWND program, const RpcCall& request, DWORD timeoutMs, RpcAnswer* reply) {
  const std::optional<RpcAnswer> answer = CallThroughRpcBlock(program, request, timeoutMs);
  if (!answer) {
    const DWORD error = GetLastError();
    const std::string call = CallName(request.id);
    if (error == ERROR_TIMEOUT) {
      return Status(StatusCode::kBusy,
                    "the handheld program did not answer " + call + " within " +
                        std::to_string((timeoutMs + 999) / 1000) + " seconds; it may be busy",
                    error);
    }
    return Status(
        StatusCode::kFailed,
        "the handheld program could not be asked " + call + ": " + DescribeWindowError(error),
        error);
  }
  *reply = *answer;
  return Status();
}

}  // namespace

// ---- The caller's side --------------------------------------------------

Status WriteOpenDatabaseRequest(std::u16string_view commandLine, RpcCall* request) {
  if (commandLine.size() > kOpenDatabaseCommandLineUnits) {
    return Status(StatusCode::kBadLength, "the command line has " +
                                              std::to_string(commandLine.size()) +
                                              " characters; the handheld program takes at most " +
                                              std::to_string(kOpenDatabaseCommandLineUnits));
  }
  if (HasNul(commandLine)) {
    return Status(StatusCode::kInvalidArgument, "the command line holds a NUL character");
  }
  *request = Request(kOpenDatabaseCall, kRpcArgumentAndResult, kOpenDatabaseRequestBytes);
  request->argument = commandLine;
  return Status();
}

Status ReadOpenDatabaseReply(const RpcAnswer& reply, bool* opened) {
  return CheckReply(reply, kOpenDatabaseCall, opened);
}

RpcCall WriteOpenDatabaseNameRequest() {
  return Request(kOpenDatabaseNameCall, kRpcArgumentAndResult, kOpenDatabaseNameRequestBytes);
}

Status ReadOpenDatabaseNameReply(const RpcAnswer& reply, std::optional<std::u16string>* name) {
  bool open = false;
  if (Status s = CheckReply(reply, kOpenDatabaseNameCall, &open); !s.ok()) return s;
  if (!open) {
    name->reset();
    return Status();
  }
  const std::size_t units = reply.reply.size();
  if (units > kOpenDatabaseNameUnits) {
    return Status(StatusCode::kBadLength,
                  "the handheld program gave a database name of " + std::to_string(units) +
                      " characters; a name has at most " + std::to_string(kOpenDatabaseNameUnits));
  }
  // The text ends at its terminator or at the end of what came back; only a
  // name that fills its whole slot may come without terminator.
  const bool terminated = kRpcHeaderBytes + 2 * units + 2 <= reply.size;
  if (!terminated && units < kOpenDatabaseNameUnits) {
    return Status(StatusCode::kTruncated,
                  "the handheld program's reply is cut off inside the database name, after " +
                      std::to_string(units) + " characters");
  }
  *name = reply.reply;
  return Status();
}

RpcCall WriteCloseViewsForSyncRequest() {
  return Request(kCloseViewsForSyncCall, kRpcResult, kCloseViewsForSyncRequestBytes);
}

Status ReadCloseViewsForSyncReply(const RpcAnswer& reply, bool* closed) {
  return CheckReply(reply, kCloseViewsForSyncCall, closed);
}

Status CallOpenDatabase(HWND program, std::u16string_view commandLine, DWORD timeoutMs,
                        bool* opened) {
  RpcCall request;
  if (Status s = WriteOpenDatabaseRequest(commandLine, &request); !s.ok()) return s;
  RpcAnswer reply;
  if (Status s = Send(program, request, timeoutMs, &reply); !s.ok()) return s;
  return ReadOpenDatabaseReply(reply, opened);
}

Status CallOpenDatabaseName(HWND program, DWORD timeoutMs, std::optional<std::u16string>* name) {
  RpcAnswer reply;
  if (Status s = Send(program, WriteOpenDatabaseNameRequest(), timeoutMs, &reply); !s.ok()) {
    return s;
  }
  return ReadOpenDatabaseNameReply(reply, name);
}

Status CallCloseViewsForSync(HWND program, DWORD timeoutMs, bool* closed) {
  RpcAnswer reply;
  if (Status s = Send(program, WriteCloseViewsForSyncRequest(), timeoutMs, &reply); !s.ok()) {
    return s;
  }
  return ReadCloseViewsForSyncReply(reply, closed);
}

// ---- The program's side -------------------------------------------------

Status ReadOpenDatabaseRequest(const ReceivedCall& request, std::u16string* commandLine) {
  if (Status s = CheckRequest(request, kOpenDatabaseCall, kRpcArgumentAndResult); !s.ok()) {
    return s;
  }
  if (request.argument.size() > kOpenDatabaseCommandLineUnits) {
    return Status(StatusCode::kBadLength,
                  "the command line of the call to open a database has " +
                      std::to_string(request.argument.size()) + " characters, more than the " +
                      std::to_string(kOpenDatabaseCommandLineUnits) + " its request holds");
  }
  *commandLine = request.argument;
  return Status();
}

CallReply WriteOpenDatabaseReply(bool opened) { return CallReply{opened ? 1u : 0u, {}}; }

Status ReadOpenDatabaseNameRequest(const ReceivedCall& request) {
  return CheckRequest(request, kOpenDatabaseNameCall, kRpcArgumentAndResult);
}

Status WriteOpenDatabaseNameReply(const std::optional<std::u16string>& name, CallReply* reply) {
  if (name && name->size() > kOpenDatabaseNameUnits) {
    return Status(StatusCode::kBadLength,
                  "the open database's name has " + std::to_string(name->size()) +
                      " characters, more than the " + std::to_string(kOpenDatabaseNameUnits) +
                      " a reply holds");
  }
  if (name && HasNul(*name)) {
    return Status(StatusCode::kInvalidArgument, "the open database's name holds a NUL character");
  }
  *reply = name ? CallReply{1, *name} : CallReply{0, {}};
  return Status();
}

Status ReadCloseViewsForSyncRequest(const ReceivedCall& request) {
  return CheckRequest(request, kCloseViewsForSyncCall, kRpcResult);
}

CallReply WriteCloseViewsForSyncReply(bool closed) { return CallReply{closed ? 1u : 0u, {}}; }

bool DispatchHandheldCall(HandheldCallHandler& handler, const ReceivedCall& call,
                          CallReply* reply) {
  switch (call.id) {
    case kOpenDatabaseCall: {
      std::u16string commandLine;
      if (!ReadOpenDatabaseRequest(call, &commandLine).ok()) return false;
      *reply = WriteOpenDatabaseReply(handler.OpenDatabase(commandLine));
      return true;
    }
    case kOpenDatabaseNameCall: {
      if (!ReadOpenDatabaseNameRequest(call).ok()) return false;
      if (!WriteOpenDatabaseNameReply(handler.OpenDatabaseName(), reply).ok()) {
        WriteOpenDatabaseNameReply(std::nullopt, reply);
      }
      return true;
    }
    case kCloseViewsForSyncCall:
      if (!ReadCloseViewsForSyncRequest(call).ok()) return false;
      *reply = WriteCloseViewsForSyncReply(handler.CloseViewsForSync());
      return true;
    default:
      return false;
  }
}

LRESULT AnswerHandheldCall(HandheldCallHandler& handler) {
  return AnswerFromRpcBlock([&handler](std::uint32_t id, std::uint32_t kind,
                                       const std::u16string& argument, std::uint32_t* result,
                                       std::u16string* text) {
    CallReply reply;
    if (!DispatchHandheldCall(handler, ReceivedCall{id, kind, argument}, &reply)) return false;
    *result = reply.result;
    *text = std::move(reply.text);
    return true;
  });
}

}  // namespace tbm::sync
