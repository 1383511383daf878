// CeRapiInvoke on the handheld: the library a desktop names is loaded from
// the device root, its export looked up and called, without a stream in
// the request's own turn (ServeInvoke, through ServeRequest) or with one on
// a thread of its own while the serve loop carries the stream
// (ServeInvocationWithStream).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "DeviceCalls.h"
#include "RapiChannel.h"
#include "Status.h"

namespace tbm::devicelink {

// Whether request is a CeRapiInvoke that asks for a stream; the serve loop
// hands those to ServeInvocationWithStream instead of ServeRequest.
bool WantsStream(const rapi::Frame& request);

// The reply to a CeRapiInvoke without a stream, whose arguments reader is
// at: the function's result and output, or a failure reply (the handheld's
// last error set) when the library or the function cannot be had. One that
// asks for a stream gets a refusal here: a stream is open already.
std::vector<std::uint8_t> ServeInvoke(rapi::PayloadReader& reader, ConnectionState& state);

// Serves a CeRapiInvoke with a stream on channel: replies (a failure reply
// when the library or the function cannot be had, and nothing more), then
// calls the function on a thread of its own with the service's end of the
// stream while the channel carries the stream and the requests that come
// meanwhile (ServeRequest answers them), until both ends are closed. A
// function that returns closes its end, released or not. Fails when the
// connection failed, after the function has returned (its reads and writes
// fail once the connection is gone); channel is still set then, shut.
Status ServeInvocationWithStream(const rapi::Frame& request,
                                 std::unique_ptr<rapi::TlsChannel>& channel,
                                 ConnectionState& state);

}  // namespace tbm::devicelink
