// The calls the device connection service answers on a protected
// connection: one request frame in, one reply payload out (RapiFrame.h
// says how a reply starts). New calls are added to ServeRequest.
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

}  // namespace tbm::devicelink
