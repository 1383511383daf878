// Inside the desktop's remote API: the one process-wide connection that
// every call goes through (RapiClient.cpp). Each group of calls (files,
// registry, database volumes, invocations) lives in its own file and uses
// only these two.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "Rapi.h"
#include "RapiChannel.h"
#include "RapiFrame.h"
#include "Status.h"

namespace tbm::rapi {

class InvocationSession;

// The open connection, its request ids and the greeting's description of
// the handheld, under one lock. While an invocation's stream is open its
// session owns the channel (channel is null) and carries the calls made
// meanwhile (RapiInvoke.cpp).
struct Connection {
  std::mutex lock;
  std::unique_ptr<TlsChannel> channel;
  std::shared_ptr<InvocationSession> session;
  std::uint32_t nextRequest = 1;
  DockedDevice device;

  bool open() const { return channel != nullptr || session != nullptr; }
  // Closes the connection, shutting an open stream's session: its end's
  // reads and writes fail from then on.
  void Close();
};

Connection& TheConnection();

// The time limit of connecting and of each call.
Milliseconds CallLimit();

// One request and its reply frame beside the open stream of
// connection.session (REQUIRES: lock held, session not null). A stream
// whose local end is closed is first waited for (within the call limit)
// to end on the handheld too; a stream that has ended in order gives its
// channel back, and the exchange then runs on the channel alone.
Status ExchangeBesideStream(Connection& connection, std::uint16_t call, std::uint32_t requestId,
                            std::span<const std::uint8_t> payload, Frame* reply);

// One call on the open connection: payload out, and into *results what
// follows the reply's HRESULT. A failure the handheld reported is kFailed
// with its words and the HRESULT as platformError; the handheld keeps its
// error for CeGetLastError. A failure to reach the handheld (no connection,
// the time limit passed, the connection dropped, a malformed reply) closes
// the connection, whose state is then unknown. Either way the outcome is
// recorded for CeRapiGetError.
Status Call(RapiCall call, std::span<const std::uint8_t> payload,
            std::vector<std::uint8_t>* results);

// Requests 0 to count-1 of one call, each made by request(i), with the
// next request sent before the last reply is taken in, so the handheld
// works on one while the desktop reads the other (at most two are
// unanswered). take(results) gets each reply's results in order and
// returns false when no more are wanted; it is not called again, and of
// the requests already sent, at most one more reaches the handheld. The
// first failure the handheld reports ends the call the same way and is
// returned. A failure to reach the handheld closes the connection, as
// Call does. While a stream shares the connection the requests go one at
// a time.
Status CallAhead(RapiCall call, std::size_t count,
                 const std::function<std::vector<std::uint8_t>(std::size_t)>& request,
                 const std::function<bool(std::vector<std::uint8_t>&)>& take);

// Records the outcome of reaching the handheld for CeRapiGetError and
// RapiFailureText; for a reply that reached the handheld but could not be
// read, say.
void Record(const Status& status);

}  // namespace tbm::rapi
