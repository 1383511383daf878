// TBBridge: Tabulon Mobile's plug-in for Tabulon Pro. The host calls
// TBExternCallProc on its main thread with its parameter block:
//
//   0  start: accept the host (interface version 13 to 255, standard or
//      advanced edition), load the language library "qzres", start the
//      DDE server "TBP_MOBILE"; the block's result is 13 on success, -1
//      when the host is not accepted, -2 when the language library cannot
//      be loaded, -3 when the server cannot start (no usable ANSI code
//      page, or DDE failed)
//   1, 3  nothing
//   4  stop: withdraw the service, end DDE, drop the pending reply
//   5  the information dialog
//   6  the synchronisation settings dialog of the current database
//
// The block, and the services it carries, stay valid from call 0 to
// call 4. No exception leaves TBExternCallProc.
#include <memory>
#include <string>

#include "BridgeDialogs.h"
#include "BridgeLog.h"
#include "BridgeSession.h"
#include "BridgeTexts.h"
#include "DdeServer.h"
#include "Machine.h"
#include "TBExtern.h"

namespace tbm::bridge {
namespace {

constexpr std::int32_t kStarted = 13;
constexpr std::int32_t kHostNotAccepted = -1;
constexpr std::int32_t kNoLanguageLibrary = -2;
constexpr std::int32_t kCannotStart = -3;

constexpr std::uint16_t kOldestInterface = 13;
constexpr std::uint16_t kNewestInterface = 255;

// Everything that lives from call 0 to call 4.
struct Plugin {
  const TBHostServices* services = nullptr;
  std::unique_ptr<sync::AnsiCodePage> codePage;
  std::unique_ptr<res::ResourceLibrary> texts;
  std::unique_ptr<HostCalls> host;
  std::unique_ptr<BridgeSession> session;
  std::unique_ptr<DdeServer> server;  // last, so it goes first
};

std::unique_ptr<Plugin>& Running() {
  static std::unique_ptr<Plugin> plugin;
  return plugin;
}

// Whether the host is one the plug-in works with; says why not in the log.
bool HostAccepted(const TBParamBlock& block) {
  if (block.interfaceVersion < kOldestInterface || block.interfaceVersion > kNewestInterface) {
    LogBridge(LogLevel::kError, "Tabulon Pro's interface version " +
                                    std::to_string(block.interfaceVersion) +
                                    " is not one the plug-in works with (13 to 255)");
    return false;
  }
  const TBHostServices* services = block.services;
  if (services == nullptr || services->size < sizeof(TBHostServices)) {
    LogBridge(LogLevel::kError, "Tabulon Pro gave no complete table of services");
    return false;
  }
  if (services->edition != TB_EDITION_STANDARD && services->edition != TB_EDITION_ADVANCED) {
    LogBridge(LogLevel::kError, "Tabulon Pro's edition " + std::to_string(services->edition) +
                                    " is not one the plug-in works with");
    return false;
  }
  return true;
}

// The desktop's temporary folder, for the exchange files until a caller
// names a folder.
std::string TemporaryFolder() { return MachineRoot(Machine::Desktop) + "/Temp"; }

std::int32_t Start(TBParamBlock& block) {
  if (Running()) {
    LogBridge(LogLevel::kWarning, "the plug-in was started again while running");
    return kStarted;
  }
  if (!HostAccepted(block)) return kHostNotAccepted;
  auto plugin = std::make_unique<Plugin>();
  plugin->services = block.services;
  if (Status status = LoadBridgeTexts(PluginFolder(), &plugin->texts); !status.ok()) {
    LogBridge(LogLevel::kError, "the plug-in's language library: " + status.message());
    return kNoLanguageLibrary;
  }
  if (Status status = sync::AnsiCodePage::OpenSystem(&plugin->codePage); !status.ok()) {
    LogBridge(LogLevel::kError, "the plug-in cannot start: " + status.message());
    return kCannotStart;
  }
  plugin->host = std::make_unique<HostCalls>(*plugin->services);
  plugin->session =
      std::make_unique<BridgeSession>(*plugin->services, *plugin->codePage, TemporaryFolder());
  BridgeSession* session = plugin->session.get();
  if (Status status = DdeServer::Start(
          [session](std::span<const std::uint8_t> bytes) { return session->Execute(bytes); },
          &plugin->server);
      !status.ok()) {
    LogBridge(LogLevel::kError, "the plug-in cannot start: " + status.message());
    return kCannotStart;
  }
  Running() = std::move(plugin);
  LogBridge(LogLevel::kInfo, std::string("TBBridge ") + kBridgeVersion + " started");
  return kStarted;
}

void Stop() {
  if (!Running()) return;
  Running().reset();
  LogBridge(LogLevel::kInfo, "TBBridge stopped");
}

void Call(TBParamBlock& block) {
  switch (block.callCode) {
    case TB_CALL_START:
      block.result = Start(block);
      return;
    case TB_CALL_STOP:
      Stop();
      return;
    case TB_CALL_ABOUT:
    case TB_CALL_SETTINGS: {
      Plugin* plugin = Running().get();
      if (plugin == nullptr) {
        LogBridge(LogLevel::kError, "a dialog was asked for before the plug-in was started");
        return;
      }
      if (block.callCode == TB_CALL_ABOUT) {
        ShowAbout(*plugin->texts, nullptr);
      } else {
        ShowSettingsOfCurrentDatabase(*plugin->host, *plugin->codePage, *plugin->texts, nullptr);
      }
      return;
    }
    default:
      return;
  }
}

}  // namespace
}  // namespace tbm::bridge

extern "C" __attribute__((visibility("default"))) void TBExternCallProc(TBParamBlock* block) {
  if (block == nullptr) return;
  // The handlers build no strings of their own: nothing in them may throw.
  try {
    tbm::bridge::Call(*block);
  } catch (const std::exception& e) {
    tbm::bridge::LogBridge(tbm::LogLevel::kError,
                           "a call of Tabulon Pro failed with an exception:");
    tbm::bridge::LogBridge(tbm::LogLevel::kError, e.what());
    if (block->callCode == TB_CALL_START) block->result = tbm::bridge::kCannotStart;
  } catch (...) {
    tbm::bridge::LogBridge(tbm::LogLevel::kError,
                           "a call of Tabulon Pro failed with an unknown exception");
    if (block->callCode == TB_CALL_START) block->result = tbm::bridge::kCannotStart;
  }
}
