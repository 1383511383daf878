// A docked synchronisation from end to end, every part in a process of its
// own on fresh machine roots: the handheld's connection service
// (tbm-devicelink run) with Tabulon Mobile's synchronisation pieces
// installed, so that the sync agent runs inside it; Tabulon Pro (run
// --headless) with its plug-in; and the desktop connection service
// (tbm-desktoplink run --headless) hosting the desktop sync provider
// TBDeskSync.so, registered with "tbm-desktoplink register". A docking is
// the desktop service's connection to the handheld coming up; a person
// asking for a synchronisation is "tbm-desktoplink sync".
//
// The test process loads none of them: it edits both sides with their
// command-line tools (tbmdb, Tabulon Pro) and reads what the programs leave
// behind (the synchronisation log, the programs' logs, the handheld's
// synchronisation-in-progress word).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CommandIds.h"
#include "DesktopLinkFixture.h"
#include "HandheldCalls.h"
#include "HandheldProgram.h"
#include "SyncActiveFlag.h"
#include "TabulonProTestSupport.h"

namespace tbm::docked_sync {
namespace {

namespace fs = std::filesystem;
using desktoplink::testing::DockingMachines;
using desktoplink::testing::Occurrences;
using desktoplink::testing::ProgramPath;
using desktoplink::testing::Service;
using tabulonpro::RunningHost;
using tbm::testing::ProgramResult;
using tbm::testing::ReadWholeFile;

constexpr char kContacts[] = "\\My Documents\\Tabulon\\Contacts.tbm";
constexpr char kOrders[] = "\\My Documents\\Tabulon\\Orders.tbm";
constexpr char kSuppliers[] = "\\My Documents\\Tabulon\\Suppliers.tbm";
constexpr char kStock[] = "\\My Documents\\Tabulon\\Stock.tbm";
constexpr char kContactsCsv[] = "Name:text,City:text\nAda,Paris\nBo,Berlin\nCy,Oslo\nDi,Rome\n";

// What the service logs each time its stores have been told of a docking or
// a request.
constexpr char kStoresDone[] = "the providers are done with status 3";

constexpr char kFinishedClean[] =
    "The synchronisation is finished (problems: 0 with the synchronisation, 0 with databases).";
constexpr char kResultMessage[] =
    "Tabulon Mobile Synchronisation: The synchronisation with the handheld did not finish as it "
    "should. The synchronisation log says what went wrong.";

// The lines of a log in CR LF form, without their line ends.
std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at) + "<no CR LF>");
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

// The lines of the last run in a synchronisation log: from its date line to
// the empty line that closes it, both left out.
std::vector<std::string> LastRun(const std::string& log) {
  std::vector<std::string> lines = Lines(log);
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  std::size_t start = lines.size();
  while (start > 0 && !lines[start - 1].empty()) --start;
  return std::vector<std::string>(
      lines.begin() + static_cast<long>(std::min(start + 1, lines.size())), lines.end());
}

bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The records of a CSV listing (its first line the fields), each without
// its first `skipped` cells, sorted, so the two sides can be compared
// whatever order each keeps.
std::vector<std::string> SortedRecords(const std::string& csv, int skipped = 0) {
  std::vector<std::string> records;
  std::size_t at = csv.find('\n');
  while (at != std::string::npos && at + 1 < csv.size()) {
    const std::size_t end = csv.find('\n', at + 1);
    std::string record = csv.substr(at + 1, end == std::string::npos ? end : end - at - 1);
    for (int i = 0; i < skipped; ++i) record.erase(0, record.find(',') + 1);
    records.push_back(std::move(record));
    at = end;
  }
  std::sort(records.begin(), records.end());
  return records;
}

// A stock list of `count` records of eight fields, as a desktop keeps one.
constexpr char kStockFields[] = "Item,Shelf,Count,Price,Supplier,Colour,Size,Note";
std::string StockCsv(int count) {
  const char* suppliers[] = {"Acme", "Bolt & Co", "Cogs Ltd", "Dynamo Parts"};
  const char* colours[] = {"red", "green", "blue", "black", "white"};
  const char* sizes[] = {"S", "M", "L", "XL"};
  std::string csv =
      "Item:text,Shelf:text,Count:number,Price:number,Supplier:text,Colour:text,Size:text,"
      "Note:text\n";
  for (int i = 1; i <= count; ++i) {
    csv += "Item " + std::to_string(10000 + i) + ",Shelf " + static_cast<char>('A' + i % 12) + "-" +
           std::to_string(i % 40) + "," + std::to_string(i * 7 % 500) + "," +
           std::to_string(i % 90 + 1) + ".50," + suppliers[i % 4] + "," + colours[i % 5] + "," +
           sizes[i % 4] + "," + (i % 3 == 0 ? "counted in spring" : "") + "\n";
  }
  return csv;
}

class DockedSyncTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    InstallOnHandheld();
    InstallOnDesktop();
    machines_.Pair();
    handheld_ = machines_.StartHandheld();
    ASSERT_NE(handheld_, nullptr);
  }

  // The desktop service first, so that its stores are let go while the
  // programs they talk to are still there.
  void TearDown() override {
    if (service_) {
      if (service_->pid() > 0) ::kill(service_->pid(), SIGCONT);
      EXPECT_EQ(service_->Stop(), 0) << service_->err;
      EXPECT_TRUE(Holds(service_->out, "tbm-desktoplink has stopped.")) << service_->out;
    }
    if (host_) {
      EXPECT_EQ(host_->Stop(), 0) << host_->err;
    }
    if (handheld_) {
      EXPECT_EQ(handheld_->Stop(), 0) << handheld_->err;
    }
  }

  // Tabulon Mobile's synchronisation pieces in \Windows of the handheld and
  // registered there, as an installation leaves them, with the handheld
  // program.
  void InstallOnHandheld() {
    const ProgramResult installed = tbm::testing::RunProgram(
        ProgramPath("tbm-devicelink"), {"install", "--program", ProgramPath("Tabulon Mobile")}, {},
        machines_.Env());
    ASSERT_EQ(installed.status, 0) << installed.err;
  }

  // The provider in a program folder of the desktop, with its language
  // libraries and the libraries it links, registered by the desktop
  // service; this test's copy is loaded afresh.
  void InstallOnDesktop() {
    const fs::path programs = machines_.desktopRoot() / "Program Files" / "Tabulon Mobile";
    fs::create_directories(programs);
    const fs::path built = tbm::testing::ProgramFolder();
    fs::copy_file(built / "TBDeskSync.so", programs / "TBDeskSync.so");
    fs::create_directory_symlink(built / "tbasres", programs / "tbasres");
    for (const auto& entry : fs::directory_iterator(built)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("lib", 0) == 0 && entry.path().extension() == ".so") {
        fs::create_symlink(entry.path(), programs / name);
      }
    }
    const ProgramResult registered =
        machines_.DesktopLink({"register", (programs / "TBDeskSync.so").string()});
    ASSERT_EQ(registered.status, 0) << registered.err;
  }

  void StartTabulonPro(std::vector<std::string> databases) {
    databases.push_back("--headless");
    host_ = std::make_unique<RunningHost>(databases, machines_.Env());
    ASSERT_TRUE(host_->WaitUntilReady()) << host_->err;
  }
  void StopTabulonPro() {
    EXPECT_EQ(host_->Stop(), 0) << host_->err;
    host_.reset();
  }

  // Starts the desktop service, which docks the running handheld.
  void StartDesktopService() {
    service_ = machines_.StartDesktopService();
    ASSERT_NE(service_, nullptr);
  }
  void StopDesktopService() {
    EXPECT_EQ(service_->Stop(), 0) << service_->err;
    service_.reset();
  }

  // Waits until the service's log holds text `count` times.
  bool WaitForServiceLog(const std::string& text, std::size_t count) const {
    const std::string log = desktoplink::testing::WaitForFile(
        machines_.desktopRoot() / "log" / "tbm-desktoplink.log",
        [&](const std::string& read) { return Occurrences(read, text) >= count; });
    return Occurrences(log, text) >= count;
  }
  // Waits until the service's stores have been told of a docking or a
  // request `count` times in all.
  bool WaitForStoreReports(std::size_t count) const {
    return WaitForServiceLog(kStoresDone, count);
  }

  // What "sync" prints after a run: that the handheld is docked, then what
  // the provider said: the run's lines as the log has them (its date line
  // first), where the log is and, after problems, the message the person
  // got.
  std::string SyncOutput(bool withMessage) const {
    std::vector<std::string> lines = Lines(SyncLog());
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::size_t start = lines.size();
    while (start > 0 && !lines[start - 1].empty()) --start;
    std::string out =
        "The handheld Pocket Ledger is docked; 1 provider was asked to synchronise (Tabulon "
        "Mobile).\n";
    for (std::size_t i = start; i < lines.size(); ++i) out += "  " + lines[i] + "\n";
    out += "  The synchronisation log is " +
           (ExchangeFolder() / "Synchronisation log.txt").string() + ".\n";
    if (withMessage) out += "  " + std::string(kResultMessage) + "\n";
    return out;
  }

  // A person asks for a synchronisation; what "sync" printed.
  std::string SyncNow() {
    const ProgramResult sync = machines_.DesktopLink({"sync"});
    EXPECT_EQ(sync.status, 0) << sync.err;
    return sync.out;
  }

  ProgramResult TbmdbResult(const std::vector<std::string>& args, const std::string& input = {}) {
    return tbm::testing::RunProgram(ProgramPath("tbmdb"), args, input, machines_.Env());
  }
  ProgramResult Tbmdb(const std::vector<std::string>& args, const std::string& input = {}) {
    const ProgramResult r = TbmdbResult(args, input);
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    return r;
  }
  std::string Pro(const std::vector<std::string>& args, const std::string& input = {}) {
    const ProgramResult r =
        tbm::testing::RunProgram(tabulonpro::ProgramPath(), args, input, machines_.Env());
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    return r.out;
  }
  // A desktop database offered to the handheld with its fields.
  void MakeDesktopDatabase(const std::string& name, const std::string& csv,
                           const std::string& fields,
                           const std::string& conflictRule = "keep-both") {
    Pro({"create", name, "-"}, csv);
    Pro({"flags", name, "--offer", "on", "--sync", "on"});
    Pro({"handheld", name, "--fields", fields, "--conflict", conflictRule});
  }

  std::string HandheldRecords(const char* database) {
    return Tbmdb({"list", database, "--csv"}).out;
  }
  // Tabulon Pro must not be running.
  std::string DesktopRecords(const std::string& name) { return Pro({"list", name, "--csv"}); }
  // The same without each record's position, identity and modification
  // count, sorted.
  std::vector<std::string> DesktopValues(const std::string& name) {
    return SortedRecords(DesktopRecords(name), 3);
  }

  // The last run synchronised name alone, without a problem.
  void ExpectCleanRun(const std::string& name) const {
    EXPECT_EQ(LastRun(SyncLog()),
              (std::vector<std::string>{name + " was synchronised.", kFinishedClean}))
        << SyncLog();
  }
  // After the last run: the desktop service and Tabulon Pro stop, and both
  // sides hold these records (sorted; the desktop's without their position,
  // identity and modification count).
  void ExpectBothSidesHold(const char* handheldPath, const std::string& name,
                           const std::vector<std::string>& records) {
    StopDesktopService();
    StopTabulonPro();
    EXPECT_EQ(SortedRecords(HandheldRecords(handheldPath)), records);
    EXPECT_EQ(DesktopValues(name), records);
  }

  fs::path ExchangeFolder() const {
    return machines_.desktopRoot() / "Application Data" / "Tabulon" / "Tabulon Pro" /
           "Tabulon Mobile" / "Synchronisation" / "Handhelds" / DockingMachines::kHandheldName;
  }
  std::string SyncLog() const {
    return ReadWholeFile(ExchangeFolder() / "Synchronisation log.txt");
  }
  std::string ServiceLog() const { return machines_.ServiceLog(); }
  std::string ProviderLog() const {
    return ReadWholeFile(machines_.desktopRoot() / "log" / "TBDeskSync.log");
  }
  std::string AgentLog() const {
    return ReadWholeFile(machines_.deviceRoot() / "log" / "TBMSYNBKCE.log");
  }

  // Waits up to 30 s, looking every millisecond, until the agent's log
  // holds text `count` times.
  bool WaitForAgentLog(const std::string& text, std::size_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Occurrences(AgentLog(), text) < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  // Waits up to 30 s, looking every 200 microseconds, until Tabulon Pro
  // begins to write its copy for the handheld into the exchange folder
  // (under a partial name first, then as "TBSS.sdb").
  bool WaitForDesktopCopy() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!fs::exists(ExchangeFolder() / "TBSS.sdb.partial") &&
           !fs::exists(ExchangeFolder() / "TBSS.sdb")) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
  }

  // The handheld's service stops where it is and is killed.
  void CutOffHandheld() {
    ASSERT_TRUE(handheld_->Suspend());
    ASSERT_EQ(::kill(handheld_->pid(), SIGKILL), 0);
    EXPECT_EQ(handheld_->End(), -SIGKILL);
    handheld_.reset();
  }

  // The last run's lines after the handheld was cut off in Stock.
  void ExpectBrokeOff() {
    const std::vector<std::string> cut = LastRun(SyncLog());
    ASSERT_EQ(cut.size(), 3u) << SyncLog();
    EXPECT_EQ(cut[0],
              "Stock: the connection to the handheld broke off during its synchronisation. "
              "Synchronise again to complete it.");
    EXPECT_TRUE(cut[1].starts_with("    Reason: ")) << cut[1];
    EXPECT_EQ(cut[2],
              "The synchronisation failed (problems: 1 with the synchronisation, 1 with "
              "databases).");
    EXPECT_FALSE(fs::exists(ExchangeFolder() / "TBSC.sdb"));
  }

  // A database of Tabulon Pro made on the handheld by the first docking
  // ("Update on docking" is on since pairing); Tabulon Pro and the desktop
  // service keep running.
  void MakeByDocking(const std::string& name, const std::string& csv, const std::string& fields) {
    MakeDesktopDatabase(name, csv, fields);
    StartTabulonPro({name});
    StartDesktopService();
    ASSERT_TRUE(WaitForStoreReports(1)) << ServiceLog();
    ASSERT_EQ(LastRun(SyncLog()),
              (std::vector<std::string>{name + " was synchronised.", kFinishedClean}))
        << SyncLog();
  }
  // Stock, 3000 records in Tabulon Pro, made on the handheld by docking.
  void MakeStockByDocking() { MakeByDocking("Stock", StockCsv(3000), kStockFields); }

  // A person asks for a synchronisation and does not wait for it.
  std::unique_ptr<Service> AskForSync() {
    return std::make_unique<Service>(ProgramPath("tbm-desktoplink"),
                                     std::vector<std::string>{"sync"}, machines_.Env());
  }

  // The last run synchronised Stock without a problem, and the handheld's
  // Stock opens whole with `records` records, none of them left to send.
  void ExpectRepaired(int records) {
    ExpectCleanRun("Stock");
    EXPECT_EQ(SyncActive(), false);
    const std::string whole = Tbmdb({"check", kStock}).out;
    EXPECT_TRUE(Holds(whole, "8 fields, " + std::to_string(records) + " records")) << whole;
    EXPECT_FALSE(Holds(Tbmdb({"records", kStock}).out, "modified"));
  }

  // The handheld program with database open, on a platform that needs no
  // screen (as on a display); null unless its main window was published
  // in the handheld's window directory within 6 s.
  std::unique_ptr<tbm::testing::RunningProgram> StartHandheldProgram(const char* database) {
    std::vector<std::pair<std::string, std::string>> env = machines_.Env();
    std::erase_if(env, [](const auto& variable) { return variable.first == "QT_QPA_PLATFORM"; });
    env.emplace_back("QT_QPA_PLATFORM", "minimal");
    auto program = std::make_unique<tbm::testing::RunningProgram>(
        ProgramPath("Tabulon Mobile"), std::vector<std::string>{database}, env);
    for (int tries = 0; tries < 300 && program->pid() > 0; ++tries) {
      if (ProgramWindow() != nullptr) return program;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ADD_FAILURE() << "the handheld program's window was never published";
    return nullptr;
  }
  static HWND ProgramWindow() {
    const std::optional<std::u16string> path = sync::HandheldProgramPath();
    return path ? sync::FindHandheldProgramWindow(*path) : nullptr;
  }
  // Input to the running program as another process gives it: a command
  // as its menu item picks it (false when refused), keys as typed.
  static bool PickCommand(ui::CommandId id) {
    DWORD_PTR answer = 0;
    return SendMessageTimeoutW(ProgramWindow(), WM_COMMAND, id, 0, 0, 5000, &answer) != 0 &&
           answer == 1;
  }
  static void PressKey(WPARAM key) {
    EXPECT_NE(SendMessageTimeoutW(ProgramWindow(), WM_KEYDOWN, key, 0, 0, 5000, nullptr), 0);
  }
  static void Type(const std::string& text) {
    for (const char c : text)
      EXPECT_NE(SendMessageTimeoutW(ProgramWindow(), WM_CHAR, static_cast<unsigned char>(c), 0, 0,
                                    5000, nullptr),
                0);
  }
  // The database the running program has open, as the agent asks for it.
  static std::optional<std::u16string> OpenInProgram() {
    std::optional<std::u16string> name;
    EXPECT_TRUE(sync::CallOpenDatabaseName(ProgramWindow(), 5000, &name).ok());
    return name;
  }
  std::string ProgramLog() const {
    return ReadWholeFile(machines_.deviceRoot() / "log" / "Tabulon Mobile.log");
  }

  // The handheld's "synchronisation in progress" word (this process stands
  // on the handheld).
  static std::optional<bool> SyncActive() { return sync::ReadSyncActive(); }

  // Every process started here finds Tabulon's default code page.
  tbm::testing::ScopedEnvironment codePage_{"TBM_ANSI_CODE_PAGE", nullptr};
  tbm::testing::ScratchFolder folder_{"tbm-docked-sync"};
  DockingMachines machines_{folder_.path() / "device", folder_.path() / "desktop"};
  std::unique_ptr<Service> handheld_;
  std::unique_ptr<RunningHost> host_;
  std::unique_ptr<Service> service_;
};

TEST_F(DockedSyncTest, ChangesOnBothSidesAreMergedAndDockingFollowsTheHandheldsSetting) {
  // One CSV makes the handheld's database and its desktop twin; the
  // handheld also has Orders, which the desktop does not know, and the
  // desktop has Suppliers, which the handheld lacks.
  Tbmdb({"create", "-", kContacts, "--name", "Contacts"}, kContactsCsv);
  const std::string orders = "Orders of the " + std::string(200, 'x') + " branch";
  Tbmdb({"create", "-", kOrders, "--name", orders}, "Item:text,Qty:number\nPens,12\n");
  Tbmdb({"set", kOrders, "1", "Qty=14"});
  MakeDesktopDatabase("Contacts", kContactsCsv, "Name,City");
  MakeDesktopDatabase("Suppliers", "Firm:text\nAcme\nBolt & Co\n", "Firm");
  StartTabulonPro({"Contacts", "Suppliers"});

  // The first docking with "Update on docking" off does nothing.
  const ProgramResult off = machines_.DesktopLink({"set", "--update-on-docking", "off"});
  ASSERT_EQ(off.status, 0) << off.err;
  StartDesktopService();
  ASSERT_TRUE(WaitForStoreReports(1)) << ServiceLog();
  EXPECT_TRUE(Holds(ServiceLog(), "handheld Pocket Ledger docked")) << ServiceLog();
  EXPECT_FALSE(fs::exists(ExchangeFolder() / "Synchronisation log.txt"));
  EXPECT_FALSE(Holds(AgentLog(), "synchronisation started"));

  // A person asks, and it runs.
  const std::string said = SyncNow();
  EXPECT_EQ(said, SyncOutput(false));
  std::vector<std::string> lines = Lines(SyncLog());
  ASSERT_EQ(lines.size(), 6u) << SyncLog();
  EXPECT_EQ(lines[1], "Contacts was synchronised.");
  // No line is longer than 255 characters.
  EXPECT_EQ(lines[2], (orders + " was skipped: Tabulon Pro has no open database").substr(0, 255));
  EXPECT_EQ(lines[3], "Suppliers was synchronised.");
  EXPECT_EQ(lines[4], kFinishedClean);
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(HandheldRecords(kSuppliers), "Firm\nAcme\nBolt & Co\n");
  EXPECT_EQ(HandheldRecords(kOrders), "Item,Qty\nPens,14\n");  // untouched
  EXPECT_TRUE(Holds(Tbmdb({"records", kOrders}).out, "modified"));
  EXPECT_EQ(SyncActive(), false);

  // Both sides change; Bo changes on both, so the desktop keeps both.
  Tbmdb({"set", kContacts, "2", "City=Vienna"});
  Tbmdb({"delete", kContacts, "3"});
  Tbmdb({"add", kContacts, "Name=Zoe", "City=Kyoto"});
  Pro({"set", "Contacts", "2", "City=Lyon"});
  Pro({"add", "Contacts", "Name=Eve", "City=Lima"});

  // With "Update on docking" on, the next docking (the service started
  // again, so its provider is loaded afresh) runs by itself.
  const ProgramResult on = machines_.DesktopLink({"set", "--update-on-docking", "on"});
  ASSERT_EQ(on.status, 0) << on.err;
  StopDesktopService();
  StartDesktopService();
  ASSERT_TRUE(WaitForStoreReports(3)) << ServiceLog();
  EXPECT_EQ(Occurrences(ServiceLog(), "handheld Pocket Ledger docked"), 2u) << ServiceLog();
  EXPECT_EQ(
      LastRun(SyncLog()),
      (std::vector<std::string>{
          "Some records were changed on both sides; the database's rule for such records "
          "decided which to keep.",
          "Contacts was synchronised.", lines[2], "Suppliers was synchronised.", kFinishedClean}))
      << SyncLog();
  EXPECT_FALSE(Holds(ServiceLog(), "message:")) << ServiceLog();
  EXPECT_EQ(SyncActive(), false);
  EXPECT_EQ(Occurrences(AgentLog(), "synchronisation ended"), 2u);
  EXPECT_FALSE(fs::exists(ExchangeFolder() / "TBSC.sdb"));
  EXPECT_TRUE(Holds(ProviderLog(), "phases \"Contacts\": handheld export ")) << ProviderLog();

  // The handheld holds the desktop's merge, in the desktop's order.
  EXPECT_EQ(HandheldRecords(kContacts),
            "Name,City\nAda,Paris\nBo,Lyon\nDi,Rome\nEve,Lima\nBo,Vienna\nZoe,Kyoto\n");
  EXPECT_FALSE(Holds(Tbmdb({"records", kContacts}).out, "modified"));
  StopTabulonPro();
  const std::string desktop = DesktopRecords("Contacts");
  for (const char* record :
       {"Ada,Paris", "Bo,Lyon", "Bo,Vienna", "Di,Rome", "Eve,Lima", "Zoe,Kyoto"}) {
    EXPECT_TRUE(Holds(desktop, record)) << record << "\n" << desktop;
  }
  EXPECT_FALSE(Holds(desktop, "Oslo")) << desktop;
}

TEST_F(DockedSyncTest, EachDatabasesConflictRuleDecidesARecordChangedOnBothSides) {
  // Three desktop databases, one per rule, on a handheld that has no
  // database yet: the first docking makes all three there.
  const std::string csv = "Name:text,City:text\nAda,Paris\nBo,Berlin\nCy,Oslo\n";
  MakeDesktopDatabase("Keep Both", csv, "Name,City", "keep-both");
  MakeDesktopDatabase("Handheld Wins", csv, "Name,City", "handheld-wins");
  MakeDesktopDatabase("Desktop Wins", csv, "Name,City", "desktop-wins");
  const std::vector<std::string> names = {"Keep Both", "Handheld Wins", "Desktop Wins"};
  StartTabulonPro(names);
  StartDesktopService();
  ASSERT_TRUE(WaitForStoreReports(1)) << ServiceLog();
  std::vector<std::string> made = LastRun(SyncLog());
  std::sort(made.begin(), made.end());
  EXPECT_EQ(made, (std::vector<std::string>{"Desktop Wins was synchronised.",
                                            "Handheld Wins was synchronised.",
                                            "Keep Both was synchronised.", kFinishedClean}))
      << SyncLog();

  // Bo moves on both sides, differently; Ada only on the handheld, Cy only
  // on the desktop.
  for (const std::string& name : names) {
    const std::string file = "\\My Documents\\Tabulon\\" + name + ".tbm";
    EXPECT_EQ(HandheldRecords(file.c_str()), "Name,City\nAda,Paris\nBo,Berlin\nCy,Oslo\n");
    Tbmdb({"set", file, "2", "City=Vienna"});
    Tbmdb({"set", file, "1", "City=Madrid"});
    Pro({"set", name, "2", "City=Lyon"});
    Pro({"set", name, "3", "City=Bergen"});
  }
  SyncNow();
  const std::vector<std::string> run = LastRun(SyncLog());
  ASSERT_FALSE(run.empty());
  EXPECT_EQ(run.back(), kFinishedClean) << SyncLog();
  for (const std::string& name : names) {
    const auto synchronised = std::find(run.begin(), run.end(), name + " was synchronised.");
    ASSERT_NE(synchronised, run.end()) << name << "\n" << SyncLog();
    ASSERT_NE(synchronised, run.begin());
    EXPECT_EQ(*(synchronised - 1),
              "Some records were changed on both sides; the database's rule for such records "
              "decided which to keep.")
        << name;
  }
  EXPECT_EQ(SyncActive(), false);
  EXPECT_FALSE(fs::exists(ExchangeFolder() / "TBSC.sdb"));

  // Each rule's outcome, the same on both sides; the changes made on one
  // side only arrive everywhere.
  std::vector<std::vector<std::string>> handheld;
  for (const std::string& name : names) {
    const std::string file = "\\My Documents\\Tabulon\\" + name + ".tbm";
    handheld.push_back(SortedRecords(HandheldRecords(file.c_str())));
    EXPECT_FALSE(Holds(Tbmdb({"records", file}).out, "modified")) << name;
  }
  EXPECT_EQ(handheld[0],
            (std::vector<std::string>{"Ada,Madrid", "Bo,Lyon", "Bo,Vienna", "Cy,Bergen"}));
  EXPECT_EQ(handheld[1], (std::vector<std::string>{"Ada,Madrid", "Bo,Vienna", "Cy,Bergen"}));
  EXPECT_EQ(handheld[2], (std::vector<std::string>{"Ada,Madrid", "Bo,Lyon", "Cy,Bergen"}));
  StopTabulonPro();
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_EQ(DesktopValues(names[i]), handheld[i]) << names[i];
  }
}

TEST_F(DockedSyncTest, WithoutTabulonProTheRunSaysSoAndTheHandheldIsReleased) {
  Tbmdb({"create", "-", kContacts, "--name", "Contacts"}, kContactsCsv);
  Tbmdb({"set", kContacts, "1", "City=Nice"});
  StartDesktopService();
  ASSERT_TRUE(WaitForStoreReports(1)) << ServiceLog();
  const std::vector<std::string> lines = Lines(SyncLog());
  ASSERT_EQ(lines.size(), 4u) << SyncLog();
  EXPECT_EQ(lines[1],
            "Tabulon Pro is not running, or it runs without its Tabulon Mobile plug-in. Nothing "
            "was synchronised. Start Tabulon Pro and synchronise again.");
  EXPECT_EQ(lines[2],
            "The synchronisation failed (problems: 1 with the synchronisation, 0 with "
            "databases).");
  // The person is told: without a display, in the service's log, and in
  // what "sync" prints when a person asks again.
  EXPECT_EQ(Occurrences(ServiceLog(), std::string("message: ") + kResultMessage), 1u)
      << ServiceLog();
  const std::string said = SyncNow();
  EXPECT_EQ(said, SyncOutput(true));
  EXPECT_EQ(LastRun(SyncLog()), std::vector<std::string>(lines.begin() + 1, lines.end() - 1));
  // The agent was told each time that the synchronisation ended; the
  // handheld kept its changes for the next time.
  EXPECT_EQ(SyncActive(), false);
  EXPECT_EQ(Occurrences(AgentLog(), "synchronisation ended"), 2u) << AgentLog();
  EXPECT_TRUE(Holds(Tbmdb({"records", kContacts}).out, "modified"));
  EXPECT_FALSE(fs::exists(ExchangeFolder() / "TBSC.sdb"));
}

TEST_F(DockedSyncTest, ChangesThatDoNotArriveWholeAreNotMerged) {
  // A city the exchange files' code page cannot carry: the handheld's
  // export of its changes breaks off, and what the desktop copies is no
  // whole exchange file.
  Tbmdb({"create", "-", kContacts, "--name", "Contacts"}, kContactsCsv);
  Tbmdb({"set", kContacts, "2", "City=\xE6\x9D\xB1\xE4\xBA\xAC"});
  Tbmdb({"set", kContacts, "1", "City=Nice"});
  MakeDesktopDatabase("Contacts", kContactsCsv, "Name,City");
  StartTabulonPro({"Contacts"});
  StartDesktopService();
  ASSERT_TRUE(WaitForStoreReports(1)) << ServiceLog();
  const std::vector<std::string> lines = Lines(SyncLog());
  ASSERT_EQ(lines.size(), 5u) << SyncLog();
  EXPECT_EQ(lines[1],
            "Contacts was not synchronised: the handheld's changes did not arrive whole. Nothing "
            "was merged, and both sides keep their data.");
  EXPECT_TRUE(lines[2].starts_with("    Reason: ")) << lines[2];
  EXPECT_EQ(lines[3],
            "The synchronisation failed (problems: 1 with the synchronisation, 1 with "
            "databases).");
  EXPECT_EQ(Occurrences(ServiceLog(), std::string("message: ") + kResultMessage), 1u)
      << ServiceLog();
  EXPECT_EQ(SyncActive(), false);
  EXPECT_FALSE(fs::exists(ExchangeFolder() / "TBSC.sdb"));
  // Neither side changed.
  EXPECT_EQ(HandheldRecords(kContacts),
            "Name,City\nAda,Nice\nBo,\xE6\x9D\xB1\xE4\xBA\xAC\nCy,Oslo\nDi,Rome\n");
  EXPECT_TRUE(Holds(Tbmdb({"records", kContacts}).out, "modified"));
  StopTabulonPro();
  EXPECT_EQ(DesktopValues("Contacts"),
            (std::vector<std::string>{"Ada,Paris", "Bo,Berlin", "Cy,Oslo", "Di,Rome"}));
}

TEST_F(DockedSyncTest, AHandheldCutOffInTheMiddleOfARunIsRepairedWhenItDocksAgain) {
  ASSERT_NO_FATAL_FAILURE(MakeStockByDocking());
  const std::string made = Tbmdb({"check", kStock}).out;
  EXPECT_TRUE(Holds(made, "8 fields, 3000 records")) << made;

  // 1. Both sides change a record, a person asks, and the handheld is cut
  // off (its service stopped, then killed) while Tabulon Pro writes its
  // copy: the handheld has not had a byte of it.
  Tbmdb({"set", kStock, "1", "Note=counted twice"});
  Pro({"set", "Stock", "2", "Note=reordered"});
  const std::string before = HandheldRecords(kStock);
  auto request = AskForSync();
  ASSERT_TRUE(WaitForDesktopCopy());
  CutOffHandheld();
  EXPECT_EQ(request->End(), 0) << request->err;
  EXPECT_EQ(request->out, SyncOutput(true));
  ExpectBrokeOff();
  // The handheld keeps Stock as it was, its change still to be sent.
  EXPECT_TRUE(Holds(Tbmdb({"check", kStock}).out, "8 fields, 3000 records"));
  EXPECT_EQ(HandheldRecords(kStock), before);
  EXPECT_TRUE(Holds(Tbmdb({"records", kStock}).out, "modified"));

  // Its service starts again on its address; the desktop service docks
  // again and the run completes what broke off, without taking the
  // handheld's change, merged already, for a second one.
  ASSERT_TRUE(WaitForServiceLog("undocked", 1));
  handheld_ = machines_.StartHandheld();
  ASSERT_NE(handheld_, nullptr);
  ASSERT_TRUE(WaitForStoreReports(3)) << ServiceLog();
  ExpectRepaired(3000);
  const std::string once = HandheldRecords(kStock);
  EXPECT_EQ(Occurrences(once, "counted twice"), 1u);
  EXPECT_EQ(Occurrences(once, "reordered"), 1u);

  // 2. Both sides change again, and the handheld is cut off as soon as it
  // has marked Stock as being rebuilt from the desktop's copy. A program
  // of the handheld that has the synchronisation word open keeps it, and
  // what the killed service leaves in it, alive.
  Tbmdb({"set", kStock, "3", "Note=recounted"});
  Pro({"set", "Stock", "4", "Note=sold out"});
  sync::SyncActiveHolder wordHeld;
  ASSERT_TRUE(wordHeld.ok());
  request = AskForSync();
  // (The repair above marked it once.)
  ASSERT_TRUE(WaitForAgentLog("Stock: marked as being rebuilt", 2)) << AgentLog();
  CutOffHandheld();
  EXPECT_EQ(request->End(), 0) << request->err;
  ExpectBrokeOff();
  // The half-rebuilt Stock is refused, never shown in part.
  const ProgramResult check = TbmdbResult({"check", kStock});
  EXPECT_NE(check.status, 0) << "the handheld finished rebuilding before it was cut off";
  EXPECT_TRUE(Holds(check.err,
                    "the database is marked inconsistent because a synchronisation did not "
                    "finish rebuilding it; synchronise again to repair it"))
      << check.err;
  const ProgramResult list = TbmdbResult({"list", kStock, "--csv"});
  EXPECT_NE(list.status, 0);
  EXPECT_EQ(list.out, "");
  EXPECT_EQ(SyncActive(), true);

  // The handheld's service starts again while the desktop service is held:
  // its provider clears the word left over. Let go, the desktop service
  // docks again and the run rebuilds Stock whole.
  ASSERT_TRUE(WaitForServiceLog("undocked", 2));
  ASSERT_TRUE(service_->Suspend());
  handheld_ = machines_.StartHandheld();
  ASSERT_NE(handheld_, nullptr);
  EXPECT_EQ(SyncActive(), false);
  ASSERT_EQ(::kill(service_->pid(), SIGCONT), 0);
  ASSERT_TRUE(WaitForStoreReports(5)) << ServiceLog();
  ExpectRepaired(3000);
  const std::string handheld = HandheldRecords(kStock);
  for (const char* note : {"counted twice", "reordered", "recounted", "sold out"}) {
    EXPECT_EQ(Occurrences(handheld, std::string(",") + note + "\n"), 1u) << note;
  }
  StopTabulonPro();
  EXPECT_EQ(DesktopValues("Stock"), SortedRecords(handheld));
}

TEST_F(DockedSyncTest, TabulonProStoppingInTheMiddleOfARunLeavesBothSidesWhole) {
  ASSERT_NO_FATAL_FAILURE(MakeStockByDocking());

  // Both sides change a record; Tabulon Pro is killed while it writes its
  // copy for the handheld. The run says so, the handheld keeps its data and
  // its change, and is told the synchronisation ended.
  Tbmdb({"set", kStock, "1", "Note=counted twice"});
  Pro({"set", "Stock", "2", "Note=reordered"});
  const std::string before = HandheldRecords(kStock);
  auto request = AskForSync();
  ASSERT_TRUE(WaitForDesktopCopy());
  ASSERT_TRUE(host_->Suspend());
  ASSERT_EQ(::kill(host_->pid(), SIGKILL), 0);
  EXPECT_EQ(host_->End(), -SIGKILL);
  host_.reset();
  EXPECT_EQ(request->End(), 0) << request->err;
  const std::vector<std::string> failed = LastRun(SyncLog());
  ASSERT_GE(failed.size(), 2u) << SyncLog();
  EXPECT_TRUE(failed.front().starts_with("Stock could not be synchronised completely"))
      << SyncLog();
  EXPECT_TRUE(failed.back().starts_with("The synchronisation failed")) << SyncLog();
  EXPECT_EQ(SyncActive(), false);
  EXPECT_FALSE(fs::exists(ExchangeFolder() / "TBSC.sdb"));
  EXPECT_TRUE(Holds(Tbmdb({"check", kStock}).out, "8 fields, 3000 records"));
  EXPECT_EQ(HandheldRecords(kStock), before);
  EXPECT_TRUE(Holds(Tbmdb({"records", kStock}).out, "modified"));

  // Tabulon Pro starts again, and the next request completes the run with
  // each change once on both sides.
  StartTabulonPro({"Stock"});
  const std::string said = SyncNow();
  EXPECT_EQ(said, SyncOutput(false));
  ExpectRepaired(3000);
  const std::string handheld = HandheldRecords(kStock);
  for (const char* note : {"counted twice", "reordered"}) {
    EXPECT_EQ(Occurrences(handheld, std::string(",") + note + "\n"), 1u) << note;
  }
  StopTabulonPro();
  EXPECT_EQ(DesktopValues("Stock"), SortedRecords(handheld));
}

}  // namespace
// The handheld program itself runs with Contacts open when the handheld
// docks: it lets the database go for the synchronisation, which then
// brings Tabulon Pro's records to it like any other.
TEST_F(DockedSyncTest, TheRunningHandheldProgramLetsItsDatabaseGoForTheSynchronisation) {
  Tbmdb({"create", "-", kContacts, "--name", "Contacts"}, kContactsCsv);
  MakeDesktopDatabase("Contacts", kContactsCsv, "Name,City");
  StartTabulonPro({"Contacts"});
  Pro({"set", "Contacts", "2", "City=Graz"});
  const auto program = StartHandheldProgram(kContacts);
  ASSERT_NE(program, nullptr);

  StartDesktopService();
  ASSERT_TRUE(WaitForAgentLog("synchronisation ended", 1)) << AgentLog();
  EXPECT_TRUE(Holds(AgentLog(), "the handheld program closed its views")) << AgentLog();

  EXPECT_TRUE(Holds(SyncLog(), "Contacts was synchronised.")) << SyncLog();
  EXPECT_EQ(HandheldRecords(kContacts), "Name,City\nAda,Paris\nBo,Graz\nCy,Oslo\nDi,Rome\n");
  EXPECT_TRUE(Holds(ProgramLog(), "the views were closed for a synchronisation")) << ProgramLog();
}

// A person is typing a new contact into the form when the handheld docks:
// the value is stored before the views close and reaches Tabulon Pro.
TEST_F(DockedSyncTest, AValueBeingTypedIntoTheFormIsStoredAndSynchronised) {
  ASSERT_NO_FATAL_FAILURE(MakeByDocking("Contacts", kContactsCsv, "Name,City"));
  const auto program = StartHandheldProgram(kContacts);
  ASSERT_NE(program, nullptr);
  ASSERT_TRUE(PickCommand(ui::ID_VIEW_FORM));
  ASSERT_TRUE(PickCommand(ui::ID_RECORD_NEW));
  Type("Eve");

  SyncNow();
  EXPECT_TRUE(Holds(AgentLog(), "the handheld program closed its views")) << AgentLog();
  ExpectCleanRun("Contacts");
  ExpectBothSidesHold(kContacts, "Contacts",
                      {"Ada,Paris", "Bo,Berlin", "Cy,Oslo", "Di,Rome", "Eve,"});
}

// The handheld docks while a date being typed into the form is not yet a
// date: the program keeps its views and the typing, the database stays out
// of that synchronisation, and the next one, once the date is whole, takes
// it.
TEST_F(DockedSyncTest, AnUnfinishedDateKeepsItsDatabaseOutOfTheSynchronisationUntilItIsWhole) {
  ASSERT_NO_FATAL_FAILURE(
      MakeByDocking("Visits", "Day:date,Name:text\n3/4/2026,Ann\n", "Day,Name"));
  constexpr char kVisits[] = "\\My Documents\\Tabulon\\Visits.tbm";
  const auto program = StartHandheldProgram(kVisits);
  ASSERT_NE(program, nullptr);
  ASSERT_TRUE(PickCommand(ui::ID_VIEW_FORM));
  ASSERT_TRUE(PickCommand(ui::ID_RECORD_NEW));
  // The calendar the date field opens with is put away; only the date's
  // first part is typed.
  PressKey(VK_ESCAPE);
  Type("2");
  Pro({"set", "Visits", "1", "Name=Anna"});

  SyncNow();
  EXPECT_TRUE(Holds(AgentLog(), "the handheld program kept its views open")) << AgentLog();
  EXPECT_EQ(LastRun(SyncLog()),
            (std::vector<std::string>{
                "Visits could not be synchronised completely (status 1). Synchronise again once "
                "the cause is mended.",
                "    Reason: the handheld could not make the database from the desktop's copy (its "
                "log says why)",
                "The synchronisation failed (problems: 1 with the synchronisation, 1 with "
                "databases)."}))
      << SyncLog();
  EXPECT_TRUE(Holds(AgentLog(), "Visits.tbm is there already (open in the handheld program"))
      << AgentLog();
  EXPECT_EQ(OpenInProgram(), u"Visits");

  // Its other two parts make it a date; the next synchronisation takes it.
  PressKey(VK_TAB);
  Type("9");
  PressKey(VK_TAB);
  Type("2027");
  SyncNow();
  ExpectCleanRun("Visits");
  EXPECT_EQ(OpenInProgram(), std::nullopt);
  ExpectBothSidesHold(kVisits, "Visits", {"2/9/2027,", "3/4/2026,Anna"});
}

// A dialog of the program is open when the handheld docks (the find dialog,
// then the view options): its database stays open and out of that
// synchronisation, with nothing lost on either side; once the dialog is
// closed, the next synchronisation merges both sides' changes.
TEST_F(DockedSyncTest, AnOpenDialogKeepsItsDatabaseOutOfTheSynchronisationWithNothingLost) {
  ASSERT_NO_FATAL_FAILURE(MakeByDocking("Contacts", kContactsCsv, "Name,City"));
  const auto program = StartHandheldProgram(kContacts);
  ASSERT_NE(program, nullptr);
  ASSERT_TRUE(PickCommand(ui::ID_VIEW_FORM));
  ASSERT_TRUE(PickCommand(ui::ID_RECORD_NEW));
  Type("Eve");
  Pro({"set", "Contacts", "2", "City=Graz"});

  // The find ends the edit (Eve is stored) and opens its dialog.
  ASSERT_TRUE(PickCommand(ui::ID_RECORD_FIND));
  SyncNow();
  EXPECT_TRUE(Holds(LastRun(SyncLog()).front(), "Contacts could not be synchronised completely"))
      << SyncLog();
  EXPECT_EQ(OpenInProgram(), u"Contacts");
  // No command is taken while the dialog is open.
  EXPECT_FALSE(PickCommand(ui::ID_VIEW_LIST));
  PressKey(VK_ESCAPE);

  ASSERT_TRUE(PickCommand(ui::ID_VIEW_OPTIONS));
  SyncNow();
  EXPECT_EQ(Occurrences(AgentLog(), "the handheld program kept its views open"), 2u) << AgentLog();
  EXPECT_EQ(OpenInProgram(), u"Contacts");
  PressKey(VK_ESCAPE);

  SyncNow();
  ExpectCleanRun("Contacts");
  ExpectBothSidesHold(kContacts, "Contacts",
                      {"Ada,Paris", "Bo,Graz", "Cy,Oslo", "Di,Rome", "Eve,"});
}

// The handheld docks while a delete-all runs in the program: the request
// to close the views waits for it, and the synchronisation then takes the
// deletions to Tabulon Pro.
TEST_F(DockedSyncTest, ADeleteAllUnderWayFinishesBeforeTheViewsCloseAndIsSynchronised) {
  ASSERT_NO_FATAL_FAILURE(MakeStockByDocking());
  const auto program = StartHandheldProgram(kStock);
  ASSERT_NE(program, nullptr);
  ASSERT_TRUE(PickCommand(ui::ID_RECORD_DELETE_ALL));
  // The question whether to delete them all, in Tabulon Pro too: yes.
  Type(" ");
  PressKey(VK_RETURN);

  SyncNow();
  EXPECT_TRUE(Holds(AgentLog(), "the handheld program closed its views")) << AgentLog();
  ExpectCleanRun("Stock");
  ExpectBothSidesHold(kStock, "Stock", {});
}

}  // namespace tbm::docked_sync
