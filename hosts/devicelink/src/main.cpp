// tbm-devicelink, the handheld's connection service: pairs desktops, keeps
// the partnerships in the handheld's registry, and serves the remote API to
// paired desktops for one device root ($TBM_DEVICE_ROOT).
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>

#include "CommandOutcome.h"
#include "DeviceService.h"
#include "Machine.h"
#include "Partnership.h"
#include "TextTable.h"
#include "Utf16.h"

namespace tbm::devicelink {
namespace {

Status ListPartnerships() {
  std::vector<rapi::DevicePartner> partners;
  if (Status status = rapi::ListDevicePartners(&partners); !status.ok()) return status;
  if (partners.empty()) {
    std::printf("No desktop is paired with this handheld (tbm-devicelink pair pairs one).\n");
    return Status();
  }
  for (const rapi::DevicePartner& partner : partners) {
    std::printf("%s  %s\n", partner.partnerId.c_str(),
                tools::EscapeControls(Utf16ToUtf8(partner.desktopName)).c_str());
  }
  return Status();
}

Status Forget(const std::string& partnerId) {
  if (Status status = rapi::ForgetDevicePartner(partnerId); !status.ok()) return status;
  std::printf("The partnership %s is forgotten; that desktop must pair again.\n",
              partnerId.c_str());
  return Status();
}

int Main(int argc, char** argv) {
  SelectMachine(Machine::Handheld);
  CLI::App app{
      "tbm-devicelink: the handheld's connection service. Pairs desktops and serves them the "
      "remote API for the device root ($TBM_DEVICE_ROOT), over TLS with each partnership's key",
      kProgram};
  app.require_subcommand(1);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string(kProgram) + ": " + e.what() + " (run 'tbm-devicelink --help' for more)\n";
  });
  std::function<Status()> run;
  std::string listen = "127.0.0.1";
  int port = rapi::kDefaultPort;
  const auto addAddress = [&](CLI::App* command) {
    command->add_option("--listen", listen, "the address to listen on (127.0.0.1)");
    command
        ->add_option("--port", port,
                     "the port to listen on (" + std::to_string(rapi::kDefaultPort) +
                         "; 0 picks a free one)")
        ->check(CLI::Range(0, 65535));
  };
  const auto address = [&] {
    rapi::Endpoint endpoint;
    endpoint.host = listen;
    endpoint.port = static_cast<std::uint16_t>(port);
    return endpoint;
  };

  int seconds = rapi::kPairingSeconds;
  CLI::App* pair = app.add_subcommand(
      "pair", "show a one-time code and wait for one desktop to pair with it (tbm-rapi pair)");
  addAddress(pair);
  pair->add_option("--time-limit", seconds, "seconds the code stays good")
      ->check(CLI::Range(1, 3600));
  pair->callback([&] { run = [&] { return PairOnce(address(), seconds); }; });

  app.add_subcommand("partnerships", "list the paired desktops: partner identifier and name")
      ->callback([&] { run = [] { return ListPartnerships(); }; });

  std::string partnerId;
  CLI::App* forget =
      app.add_subcommand("forget", "forget a partnership: that desktop is refused from now on");
  forget->add_option("id", partnerId, "the partner identifier (as 'partnerships' lists it)")
      ->required();
  forget->callback([&] { run = [&] { return Forget(partnerId); }; });

  std::string programPath;
  CLI::App* install = app.add_subcommand(
      "install",
      "put the handheld's synchronisation pieces (the sync agent, the provider and the engine) "
      "from beside this program into \\Windows of the device root and register them");
  install->add_option("--program", programPath,
                      "the handheld program to register (\"Tabulon Mobile\" beside this one)");
  install->callback([&] { run = [&] { return InstallHandheldPieces(programPath); }; });

  CLI::App* serve = app.add_subcommand(
      "run",
      "serve paired desktops in the foreground until SIGTERM or SIGINT, logging to "
      "<device root>/log/tbm-devicelink.log");
  addAddress(serve);
  serve->callback([&] { run = [&] { return RunService(address()); }; });

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }
  InstallStopSignals();
  const Status status = run ? run() : Status::Error("no command given");
  return tools::ReportOutcome(kProgram, status);
}

}  // namespace
}  // namespace tbm::devicelink

int main(int argc, char** argv) { return tbm::devicelink::Main(argc, argv); }
