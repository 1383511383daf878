#include "DockedMachines.h"

#include <signal.h>

#include <chrono>
#include <regex>
#include <thread>

#include "RunProgram.h"
#include "TestSupport.h"

namespace tbm::bench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The provider's log lines the measurement reads.
constexpr char kWholeRunLine[] = "the whole run took ";

std::string Described(const std::string& what, const tbm::testing::ProgramResult& result) {
  return what + " ended with status " + std::to_string(result.status) + ": " + result.err +
         result.out;
}

// The last match of expression in text, or throws naming what was missing.
std::smatch LastMatch(const std::string& text, const std::regex& expression,
                      const std::string& what) {
  std::smatch last;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), expression);
       it != std::sregex_iterator(); ++it) {
    last = *it;
  }
  if (last.empty()) {
    throw BenchFailure("the provider's log does not say " + what + "; it says:\n" + text);
  }
  return last;
}

// Waits for program's output to match pattern; group 1 of the match, or
// throws saying that what did not get ready.
std::string WaitFor(tbm::testing::RunningProgram& program, const std::string& what,
                    const std::string& pattern) {
  const std::regex expression(pattern);
  std::string found;
  program.WaitForOutput([&](const std::string& text) {
    std::smatch match;
    if (!std::regex_search(text, match, expression)) return false;
    found = match[1];
    return true;
  });
  if (found.empty()) throw BenchFailure(what + " did not get ready: " + program.err + program.out);
  return found;
}

// The handheld program's environment: the machine roots, and a platform
// that needs no screen but runs the program as on a display.
Environment HandheldProgramEnv(Environment env) {
  for (auto& variable : env)
    if (variable.first == "QT_QPA_PLATFORM") variable.second = "minimal";
  return env;
}

}  // namespace

void MakeDesktopDatabase(const fs::path& desktopRoot, const DesktopDatabaseSource& source) {
  const Environment env = {{"TBM_DESKTOP_ROOT", desktopRoot.string()},
                           {"QT_QPA_PLATFORM", "offscreen"}};
  const std::string pro = (tbm::testing::ProgramFolder() / "Tabulon Pro").string();
  const std::vector<std::vector<std::string>> commands = {
      {"create", source.name, source.csv.string()},
      {"flags", source.name, "--offer", "on", "--sync", "on"},
      {"handheld", source.name, "--fields", source.handheldFields}};
  for (const auto& args : commands) {
    const tbm::testing::ProgramResult result = tbm::testing::RunProgram(pro, args, {}, env);
    if (result.status != 0) throw BenchFailure(Described("Tabulon Pro " + args[0], result));
  }
}

DockedMachines::DockedMachines(const fs::path& root, const DesktopDatabaseSource& source)
    : device_(root / "device"), desktop_(root / "desktop"), database_(source.name) {
  fs::create_directories(device_);
  fs::create_directories(desktop_);
  Command("tbm-devicelink", {"install"});
  std::string port;
  Pair(&port);
  Command("tbm-desktoplink", {"register", Program("TBDeskSync.so")});
  MakeDesktopDatabase(desktop_, source);

  // The handheld serves on the port it was paired on, where the desktop
  // looks for it.
  Start(&devicelink_, "tbm-devicelink", {"run", "--port", port}, "(is ready on [^\\n]*)");
  Start(&tabulonPro_, "Tabulon Pro", {"run", source.name, "--headless"},
        "(Tabulon Pro is running with [^\\n]*)");
  // "Update on docking" is on, as pairing leaves it: the service's first
  // look at the handheld docks it and synchronises.
  Start(&desktoplink_, "tbm-desktoplink", {"run", "--headless"},
        "(tbm-desktoplink is running with [^\\n]*)");
  const std::string text = WaitForRun(0, 300);
  if (text.find("log: " + database_ + " was synchronised.") == std::string::npos ||
      !fs::exists(HandheldDatabase())) {
    throw BenchFailure("the first docking did not make " + database_ +
                       " on the handheld; the provider's log says:\n" + text);
  }
}

DockedMachines::~DockedMachines() {
  // The service first, so that it lets go of the handheld cleanly.
  for (auto* program : {&desktoplink_, &tabulonPro_, &devicelink_, &handheldProgram_}) {
    if (*program) (*program)->End(SIGTERM);
  }
}

fs::path DockedMachines::HandheldDatabase() const {
  return device_ / "My Documents" / "Tabulon" / (database_ + ".tbm");
}

void DockedMachines::Synchronise(ProviderTimes* times, double* commandMs) {
  std::error_code error;
  const std::uintmax_t size = fs::file_size(ProviderLog(), error);
  const Clock::time_point begun = Clock::now();
  const tbm::testing::ProgramResult result =
      tbm::testing::RunProgram(Program("tbm-desktoplink"), {"sync", "--time-limit", "600"}, {},
                               Env(), std::chrono::minutes(11));
  *commandMs = std::chrono::duration<double, std::milli>(Clock::now() - begun).count();
  if (result.status != 0) throw BenchFailure(Described("tbm-desktoplink sync", result));

  const std::string text = WaitForRun(error ? 0 : size, 30);
  if (text.find("log: " + database_ + " was synchronised.") == std::string::npos) {
    throw BenchFailure(database_ + " was not synchronised; the provider's log says:\n" + text);
  }
  const std::smatch phases = LastMatch(
      text,
      std::regex("phases \"" + database_ +
                 "\": handheld export ([0-9]+) ms, copy ([0-9]+) ms, desktop merge and export "
                 "([0-9]+) ms, copy back and import ([0-9]+) ms"),
      "how long the phases took");
  times->handheldExport = std::stoll(phases[1]);
  times->copy = std::stoll(phases[2]);
  times->desktopMergeAndExport = std::stoll(phases[3]);
  times->copyBackAndImport = std::stoll(phases[4]);
  times->wholeRun = std::stoll(LastMatch(
      text, std::regex(std::string(kWholeRunLine) + "([0-9]+) ms"), "how long it took")[1]);
}

void DockedMachines::StartHandheldProgram() {
  handheldProgram_ = std::make_unique<testing::RunningProgram>(
      Program("Tabulon Mobile"), std::vector<std::string>{}, HandheldProgramEnv(Env()));
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  const fs::path windows = device_ / ".windows";
  while (Clock::now() < deadline) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(windows, error))
      if (tbm::testing::ReadWholeFile(entry.path()).find("TBMMainFrame") != std::string::npos)
        return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  throw BenchFailure("the handheld program's window was not published within 10 s");
}

void DockedMachines::OpenInHandheldProgram() {
  const std::string path = "\\My Documents\\Tabulon\\" + database_ + ".tbm";
  const tbm::testing::ProgramResult result =
      tbm::testing::RunProgram(Program("Tabulon Mobile"), {path}, {}, HandheldProgramEnv(Env()));
  if (result.status != 0) throw BenchFailure(Described("Tabulon Mobile " + path, result));
}

std::size_t DockedMachines::ViewsClosedForSync() const {
  const std::string log = tbm::testing::ReadWholeFile(device_ / "log" / "Tabulon Mobile.log");
  const std::string line = "the views were closed for a synchronisation";
  std::size_t count = 0;
  for (auto at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++count;
  return count;
}

Environment DockedMachines::Env() const {
  return {{"TBM_DEVICE_ROOT", device_.string()},
          {"TBM_DESKTOP_ROOT", desktop_.string()},
          {"QT_QPA_PLATFORM", "offscreen"}};
}

fs::path DockedMachines::ProviderLog() const { return desktop_ / "log" / "TBDeskSync.log"; }

std::string DockedMachines::Program(const char* name) const {
  return (tbm::testing::ProgramFolder() / name).string();
}

std::string DockedMachines::Command(const char* program, const std::vector<std::string>& args) {
  const tbm::testing::ProgramResult result =
      tbm::testing::RunProgram(Program(program), args, {}, Env());
  if (result.status != 0)
    throw BenchFailure(Described(std::string(program) + " " + args[0], result));
  return result.out;
}

std::string DockedMachines::Start(std::unique_ptr<testing::RunningProgram>* running,
                                  const char* program, const std::vector<std::string>& args,
                                  const std::string& pattern) {
  *running = std::make_unique<testing::RunningProgram>(Program(program), args, Env());
  return WaitFor(**running, std::string(program) + " " + args[0], pattern);
}

void DockedMachines::Pair(std::string* port) {
  std::unique_ptr<testing::RunningProgram> pairing;
  const std::string code =
      Start(&pairing, "tbm-devicelink", {"pair", "--port", "0", "--time-limit", "60"},
            "Pairing code: ([0-9]{8})");
  const std::string address =
      WaitFor(*pairing, "tbm-devicelink pair", "on (127\\.0\\.0\\.1:[0-9]+)");
  *port = address.substr(address.find(':') + 1);
  Command("tbm-rapi", {"pair", address, code, "--name", "Bench desktop"});
  if (pairing->End() != 0) throw BenchFailure("tbm-devicelink pair: " + pairing->err);
}

std::string DockedMachines::WaitForRun(std::uintmax_t offset, int limitSeconds) const {
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(limitSeconds);
  std::string text;
  for (;;) {
    text = tbm::testing::ReadWholeFile(ProviderLog());
    // A log begun anew since (its size cap) is read whole.
    text = offset <= text.size() ? text.substr(offset) : text;
    if (text.find(kWholeRunLine) != std::string::npos) return text;
    if (Clock::now() > deadline) {
      throw BenchFailure("the provider did not finish a run within " +
                         std::to_string(limitSeconds) + " s; its log says:\n" + text);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace tbm::bench
