// tbm-desktoplink, the desktop connection service: registers and loads the
// sync providers of the desktop ($TBM_DESKTOP_ROOT), watches the paired
// handheld and tells the providers when it docks or a person asks for a
// synchronisation; keeps the handheld's settings.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <optional>

#include "CommandOutcome.h"
#include "Commands.h"
#include "DesktopLink.h"
#include "Machine.h"
#include "ServiceRun.h"

namespace tbm::desktoplink {
namespace {

// "on" or "off" for a setting.
std::optional<bool> Switch(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return text == "on";
}

int Main(int argc, char** argv) {
  SelectMachine(Machine::Desktop);
  CLI::App app{
      "tbm-desktoplink: the desktop connection service. Loads the sync providers registered on "
      "this desktop ($TBM_DESKTOP_ROOT) and tells them when the paired handheld docks",
      kProgram};
  app.require_subcommand(1);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string(kProgram) + ": " + e.what() + " (run 'tbm-desktoplink --help' for more)\n";
  });
  std::function<Status()> run;
  int exitCode = 0;

  bool headless = false;
  int pollMs = 2000;
  CLI::App* serve = app.add_subcommand(
      "run",
      "run the service in the foreground until SIGTERM, SIGINT or SIGHUP, logging to "
      "<desktop root>/log/tbm-desktoplink.log");
  serve->add_flag("--headless", headless, "no window, also on a display");
  serve->add_option("--poll-interval", pollMs, "milliseconds between looks at the handheld (2000)")
      ->check(CLI::Range(100, 600000));
  serve->callback([&] {
    run = [&] {
      RunOptions options;
      options.headless = headless;
      options.pollInterval = std::chrono::milliseconds(pollMs);
      exitCode = RunService(options, argv[0]);
      return Status();
    };
  });

  int syncSeconds = 1800;
  CLI::App* sync = app.add_subcommand(
      "sync", "ask the running service to synchronise now, and show what the providers said");
  sync->add_option("--time-limit", syncSeconds, "seconds to wait for the synchronisation (1800)")
      ->check(CLI::Range(1, 86400));
  sync->callback([&] { run = [&] { return SyncCommand(std::chrono::seconds(syncSeconds)); }; });

  std::string module;
  CLI::App* reg = app.add_subcommand("register", "register a sync provider (DllRegisterServer)");
  reg->add_option("module", module, "the provider's module, e.g. build/bin/TBDeskSync.so")
      ->required();
  reg->callback([&] { run = [&] { return RegisterCommand(module, false); }; });
  CLI::App* unreg =
      app.add_subcommand("unregister", "unregister a sync provider (DllUnregisterServer)");
  unreg->add_option("module", module, "the provider's module")->required();
  unreg->callback([&] { run = [&] { return RegisterCommand(module, true); }; });

  app.add_subcommand("providers", "list the registered sync providers and their modules")
      ->callback([&] { run = [] { return ProvidersCommand(); }; });
  app.add_subcommand("partnerships", "show the paired handheld and its settings")->callback([&] {
    run = [] { return PartnershipsCommand(); };
  });

  std::string onDocking, continuously;
  CLI::App* set = app.add_subcommand("set", "change the paired handheld's settings");
  set->add_option("--update-on-docking", onDocking, "synchronise when the handheld docks")
      ->check(CLI::IsMember({"on", "off"}));
  set->add_option("--continuously-update", continuously, "keep synchronising while docked")
      ->check(CLI::IsMember({"on", "off"}));
  set->callback([&] { run = [&] { return SetCommand(Switch(onDocking), Switch(continuously)); }; });

  std::string objectType;
  CLI::App* options =
      app.add_subcommand("options", "show a provider's options dialog (needs a display)");
  options->add_option("type", objectType,
                      "the object type, as 'providers' lists it (the only one when omitted)");
  options->callback([&] {
    run = [&] {
      exitCode = 1;
      Status status = OptionsCommand(objectType, argv[0], &exitCode);
      if (status.ok()) exitCode = 0;
      return status;
    };
  });

  if (const std::optional<std::string> unknown = tools::UnknownCommand(app, argc, argv)) {
    std::fprintf(stderr, "%s: %s (run 'tbm-desktoplink --help' for more)\n", kProgram,
                 unknown->c_str());
    return 2;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }
  const Status status = run ? run() : Status::Error("no command given");
  const int outcome = tools::ReportOutcome(kProgram, status);
  return exitCode != 0 ? exitCode : outcome;
}

}  // namespace
}  // namespace tbm::desktoplink

int main(int argc, char** argv) { return tbm::desktoplink::Main(argc, argv); }
