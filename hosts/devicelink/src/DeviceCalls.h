// The calls the device connection service answers on a protected
// connection: one request frame in, one reply payload out (RapiFrame.h
// says how a reply starts). ServeRequest hands each group of calls (files,
// registry, database volumes, invocations) to the file that serves it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "RapiFrame.h"
#include "WinTypes.h"

namespace tbm::devicelink {

// What the service keeps for one desktop connection.
struct ConnectionState {
  std::string partnerId;
  bool greeted = false;             // CeRapiInit's greeting came first
  DWORD lastError = ERROR_SUCCESS;  // what CeGetLastError answers
};

// The reply payload for request. Never fails: a request it cannot serve
// (malformed arguments, an unknown call, a call before the greeting, a call
// that failed on the handheld) gets a failure reply in words, and nothing
// on the handheld is changed by it.
std::vector<std::uint8_t> ServeRequest(const rapi::Frame& request, ConnectionState& state);

// A failure reply: result, then its sentence.
std::vector<std::uint8_t> FailureReply(HRESULT result, const std::string& words);

// The HRESULT of a handheld error (S_OK for ERROR_SUCCESS).
HRESULT FromWin32(DWORD error);

// The failure reply to a request whose arguments reader could not take
// apart. The handheld's last error is not changed.
std::vector<std::uint8_t> Malformed(const rapi::PayloadReader& reader, std::uint16_t call);

// A call that failed on the handheld with error: its error is kept for
// CeGetLastError and the reply says what failed and why.
std::vector<std::uint8_t> Failed(ConnectionState& state, DWORD error, const std::string& what);

}  // namespace tbm::devicelink
