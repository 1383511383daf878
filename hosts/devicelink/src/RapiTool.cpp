// tbm-rapi, the desktop's side of the link to the handheld: pair this
// desktop ($TBM_DESKTOP_ROOT) with a handheld by hand, and ask it for its
// temporary folder to see that the protected channel works.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>

#include "CommandOutcome.h"
#include "Machine.h"
#include "Rapi.h"
#include "Utf16.h"

namespace tbm::rapi {
namespace {

constexpr const char* kTool = "tbm-rapi";

Status Pair(const std::string& addressText, const std::string& code, std::string name) {
  Endpoint address;
  if (Status status = ParseEndpoint(addressText, &address); !status.ok()) return status;
  if (name.empty()) {
    char host[256] = {};
    name = ::gethostname(host, sizeof host - 1) == 0 ? host : "desktop";
  }
  DesktopPartnership partnership;
  if (Status status = PairWithHandheld(address, code, Utf8ToUtf16(name), &partnership);
      !status.ok()) {
    return status;
  }
  std::printf("Paired with the handheld at %s as partner %s.\n",
              partnership.address.ToString().c_str(), partnership.partnerId.c_str());
  return Status();
}

Status TempPath() {
  if (FAILED(CeRapiInit())) return Status(StatusCode::kFailed, RapiFailureText());
  WCHAR path[260];
  const DWORD length = CeGetTempPath(260, path);
  Status status;
  if (length == 0 || length >= 260) {
    status =
        CeRapiGetError() != S_OK
            ? Status(StatusCode::kFailed, RapiFailureText())
            : Status(StatusCode::kFailed, std::string("the handheld has no temporary folder: ") +
                                              DescribeError(CeGetLastError()));
  } else {
    std::printf("%s\n", Utf16ToUtf8(std::u16string_view(path, length)).c_str());
  }
  CeRapiUninit();
  return status;
}

int Main(int argc, char** argv) {
  SelectMachine(Machine::Desktop);
  CLI::App app{"tbm-rapi: pair this desktop ($TBM_DESKTOP_ROOT) with a handheld, and call it",
               kTool};
  app.require_subcommand(1);
  app.failure_message([](const CLI::App*, const CLI::Error& e) {
    return std::string(kTool) + ": " + e.what() + " (run 'tbm-rapi --help' for more)\n";
  });
  double seconds = 30;
  app.add_option("--time-limit", seconds, "seconds to wait for the handheld (30)")
      ->check(CLI::Range(0.01, 3600.0));
  std::function<Status()> run;
  std::string address, code, name;
  CLI::App* pair =
      app.add_subcommand("pair", "pair with the handheld whose 'tbm-devicelink pair' shows a code");
  pair->add_option("address", address, "HOST:PORT as the handheld shows it")->required();
  pair->add_option("code", code, "the code the handheld shows")->required();
  pair->add_option("--name", name, "this desktop's name, shown on the handheld (host name)");
  pair->callback([&] { run = [&] { return Pair(address, code, name); }; });
  app.add_subcommand("temp-path", "show the handheld's temporary folder")->callback([&] {
    run = [] { return TempPath(); };
  });
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }
  SetCallTimeLimit(std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
  const Status status = run ? run() : Status::Error("no command given");
  return tools::ReportOutcome(kTool, status);
}

}  // namespace
}  // namespace tbm::rapi

int main(int argc, char** argv) { return tbm::rapi::Main(argc, argv); }
