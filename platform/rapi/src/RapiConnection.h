// Inside the desktop's remote API: the one process-wide connection that
// every call goes through (RapiClient.cpp). Each group of calls (files,
// registry, database volumes, invocations) lives in its own file and uses
// only these two.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "RapiFrame.h"
#include "Status.h"

namespace tbm::rapi {

// One call on the open connection: payload out, and into *results what
// follows the reply's HRESULT. A failure the handheld reported is kFailed
// with its words and the HRESULT as platformError; the handheld keeps its
// error for CeGetLastError. A failure to reach the handheld (no connection,
// the time limit passed, the connection dropped, a malformed reply) closes
// the connection, whose state is then unknown. Either way the outcome is
// recorded for CeRapiGetError.
Status Call(RapiCall call, std::span<const std::uint8_t> payload,
            std::vector<std::uint8_t>* results);

// Records the outcome of reaching the handheld for CeRapiGetError and
// RapiFailureText; for a reply that reached the handheld but could not be
// read, say.
void Record(const Status& status);

}  // namespace tbm::rapi
