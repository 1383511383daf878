// The plug-in's DDE server "TBP_MOBILE": the glue between the DDE calls
// and the command handling (BridgeSession).
//
// The server registers the service on the thread that starts it (the
// host's main thread); its callbacks run there from the thread's message
// queue while the host runs its event loop. Callbacks are filtered so that
// advises and pokes fail, self-connections fail, and registration,
// unregistration, connect-confirm and disconnect notifications are not
// delivered. The callback:
//   connect  accepted for any topic;
//   execute  the block goes to the handler; its reply, or none, becomes
//            the pending reply (the one before is dropped); answered with
//            the acknowledge flag;
//   request  the pending reply, whole, as CF_TEXT data (any item); no
//            data when there is none.
// One lock guards the execute handling and the pending reply; an execute
// that arrives while one is being handled on the same thread (a host
// service that pumped messages) is answered busy rather than run inside
// the first.
//
// One server per process: the DDE callback carries no context.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "DdeCommandBlock.h"
#include "Ddeml.h"
#include "Status.h"

namespace tbm::bridge {

class DdeServer {
  // Only Start makes one.
  struct StartKey {
    explicit StartKey() = default;
  };

 public:
  using Handler = std::function<std::optional<sync::DdeBlock>(std::span<const std::uint8_t> block)>;

  // Starts the server with handler for the execute blocks. kBusy when a
  // server already runs in this process; kFailed with the DDE error when
  // initialising or registering fails.
  static Status Start(Handler handler, std::unique_ptr<DdeServer>* server);

  DdeServer(StartKey, Handler handler) : handler_(std::move(handler)) {}

  // Unregisters the service, ends the DDE instance and drops the pending
  // reply.
  ~DdeServer();
  DdeServer(const DdeServer&) = delete;
  DdeServer& operator=(const DdeServer&) = delete;

 private:
  static HDDEDATA Callback(UINT type, UINT format, HCONV conv, HSZ hsz1, HSZ hsz2, HDDEDATA data,
                           ULONG_PTR data1, ULONG_PTR data2);
  HDDEDATA OnExecute(HDDEDATA data);
  HDDEDATA OnRequest(HSZ item);

  Handler handler_;
  DWORD instance_ = 0;
  HSZ service_ = nullptr;
  std::mutex lock_;
  bool executing_ = false;  // read and written on the callback thread only
  std::optional<sync::DdeBlock> pending_;
};

}  // namespace tbm::bridge
