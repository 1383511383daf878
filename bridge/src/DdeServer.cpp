#include "DdeServer.h"

#include <algorithm>
#include <vector>

#include "BridgeLog.h"

namespace tbm::bridge {
namespace {

// The one running server, for the callback.
DdeServer* g_server = nullptr;

constexpr DWORD kFilters = CBF_FAIL_ADVISES | CBF_FAIL_POKES | CBF_FAIL_SELFCONNECTIONS |
                           CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS |
                           CBF_SKIP_CONNECT_CONFIRMS | CBF_SKIP_DISCONNECTS;

// An execute larger than this is no command block.
constexpr DWORD kMaxExecuteBytes = 64 * 1024;

HDDEDATA Flag(ULONG_PTR flag) { return reinterpret_cast<HDDEDATA>(flag); }

}  // namespace

Status DdeServer::Start(Handler handler, std::unique_ptr<DdeServer>* server) {
  if (g_server != nullptr) {
    return Status(StatusCode::kBusy, "the DDE server of the plug-in is already running");
  }
  auto made = std::make_unique<DdeServer>(StartKey(), std::move(handler));
  g_server = made.get();
  const UINT initialised =
      DdeInitializeA(&made->instance_, &DdeServer::Callback, APPCLASS_STANDARD | kFilters, 0);
  if (initialised != DMLERR_NO_ERROR) {
    made->instance_ = 0;
    return Status(StatusCode::kFailed,
                  "DDE could not be started (error " + std::to_string(initialised) + ")");
  }
  made->service_ = DdeCreateStringHandleA(made->instance_, sync::kDdeServiceName, CP_WINANSI);
  if (made->service_ == nullptr ||
      DdeNameService(made->instance_, made->service_, nullptr, DNS_REGISTER) == nullptr) {
    return Status(StatusCode::kFailed, std::string("the DDE service ") + sync::kDdeServiceName +
                                           " could not be registered (error " +
                                           std::to_string(DdeGetLastError(made->instance_)) + ")");
  }
  *server = std::move(made);
  return Status();
}

DdeServer::~DdeServer() {
  if (instance_ != 0) {
    if (service_ != nullptr) {
      DdeNameService(instance_, service_, nullptr, DNS_UNREGISTER);
      DdeFreeStringHandle(instance_, service_);
    }
    DdeUninitialize(instance_);
  }
  pending_.reset();
  if (g_server == this) g_server = nullptr;
}

HDDEDATA DdeServer::Callback(UINT type, UINT, HCONV, HSZ, HSZ hsz2, HDDEDATA data, ULONG_PTR,
                             ULONG_PTR) {
  DdeServer* server = g_server;
  if (server == nullptr) return nullptr;
  try {
    switch (type) {
      case XTYP_CONNECT:
        return Flag(1);
      case XTYP_EXECUTE:
        return server->OnExecute(data);
      case XTYP_REQUEST:
        return server->OnRequest(hsz2);
      default:
        return nullptr;
    }
  } catch (const std::exception& e) {
    LogBridge(LogLevel::kError, std::string("a DDE transaction failed: ") + e.what());
  } catch (...) {
    LogBridge(LogLevel::kError, "a DDE transaction failed with an unknown exception");
  }
  return type == XTYP_EXECUTE ? Flag(DDE_FNOTPROCESSED) : nullptr;
}

HDDEDATA DdeServer::OnExecute(HDDEDATA data) {
  if (executing_) {
    LogBridge(LogLevel::kWarning, "a command arrived while another was being handled");
    return Flag(DDE_FBUSY);
  }
  const DWORD size = DdeGetData(data, nullptr, 0, 0);
  std::vector<std::uint8_t> block(std::min(size, kMaxExecuteBytes));
  if (!block.empty()) DdeGetData(data, block.data(), static_cast<DWORD>(block.size()), 0);

  std::lock_guard<std::mutex> hold(lock_);
  executing_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{executing_};
  pending_.reset();
  if (size <= kMaxExecuteBytes) {
    pending_ = handler_(block);
  } else {
    LogBridge(LogLevel::kError, "a command of " + std::to_string(size) + " bytes was refused");
  }
  return Flag(DDE_FACK);
}

HDDEDATA DdeServer::OnRequest(HSZ item) {
  if (executing_) return nullptr;
  std::lock_guard<std::mutex> hold(lock_);
  if (!pending_) return nullptr;
  return DdeCreateDataHandle(instance_, pending_->buffer.data(), static_cast<DWORD>(pending_->size),
                             0, item, CF_TEXT, 0);
}

}  // namespace tbm::bridge
