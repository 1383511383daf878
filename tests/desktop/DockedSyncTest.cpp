// A docked synchronisation from end to end, with every real process on
// fresh machine roots: the handheld's connection service (tbm-devicelink)
// paired with the desktop and serving a handheld with Tabulon Mobile
// installed, Tabulon Pro with its plug-in, and the desktop sync provider
// TBDeskSync.so installed on the desktop and hosted in this process as the
// desktop connection service hosts it (HostProvider): registered, loaded
// through its class, given the service's notify object, and told of each
// docking with status 3.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CeUtil.h"
#include "Com.h"
#include "DeviceLinkFixture.h"
#include "Machine.h"
#include "RecordingNotify.h"
#include "Registry.h"
#include "ReplStore.h"
#include "SyncActiveFlag.h"
#include "TabulonProTestSupport.h"
#include "Utf16.h"

namespace tbm::rapi {
namespace {

namespace fs = std::filesystem;
using com::ComPtr;
using com::InprocServer;
using desksync::testing::RecordingNotify;
using tabulonpro::RunningHost;

constexpr char kContacts[] = "\\My Documents\\Tabulon\\Contacts.tbm";
constexpr char kOrders[] = "\\My Documents\\Tabulon\\Orders.tbm";
constexpr char kSuppliers[] = "\\My Documents\\Tabulon\\Suppliers.tbm";
constexpr char kContactsCsv[] = "Name:text,City:text\nAda,Paris\nBo,Berlin\nCy,Oslo\nDi,Rome\n";

class DockedSyncTest : public DeviceLinkTest {
 protected:
  void SetUp() override {
    DeviceLinkTest::SetUp();
    SelectMachine(Machine::Desktop);
    InstallOnHandheld();
    InstallOnDesktop();
    Pair();
    devicelink_ = Run();
    // Docking: the connection the desktop connection service keeps open.
    ASSERT_EQ(CeRapiInit(), S_OK) << RapiFailureText();
    SetUpdateOnDocking(1);
  }

  void TearDown() override {
    if (store_) {
      store_->ReportStatus(folder_, nullptr, RSC_RELEASE, 0);
      store_->FreeObject(folder_);
    }
    handler_.Reset();
    store_.Reset();
    notify_.messages.clear();  // their buttons' actions are the module's objects
    if (server_) {
      EXPECT_EQ(server_->CanUnloadNow(), S_OK);
    }
    server_.reset();
    DeviceLinkTest::TearDown();
    if (devicelink_) {
      EXPECT_EQ(devicelink_->End(SIGTERM), 0) << devicelink_->err;
    }
    SelectMachine(Machine::Handheld);
  }

  Environment Env() const {
    Environment env = DeviceLinkTest::Env();
    env.push_back({"TBM_ANSI_CODE_PAGE", ""});
    env.push_back({"QT_QPA_PLATFORM", "offscreen"});
    return env;
  }

  // \Windows holds the device provider, the agent and the engine, as an
  // installation leaves them, and the handheld's registry names them.
  void InstallOnHandheld() {
    const fs::path windows = device_.path() / "Windows";
    fs::create_directories(windows);
    for (const char* file :
         {"TBDevSync.so", "TBMSYNBKCE.so", "libTBMWBRKCE.so", "libTBMDBCEPPC.so"}) {
      fs::create_symlink(tbm::testing::ProgramFolder() / file, windows / file);
    }
    HKEY machine = nullptr;
    HKEY classes = nullptr;
    ASSERT_EQ(RegConnectMachine(Machine::Handheld, HKEY_LOCAL_MACHINE, &machine), ERROR_SUCCESS);
    ASSERT_EQ(RegConnectMachine(Machine::Handheld, HKEY_CLASSES_ROOT, &classes), ERROR_SUCCESS);
    EXPECT_EQ(
        RegSetString(machine, u"Windows CE Services\\synchronization\\objects\\Tabulon Mobile",
                     u"Store", u"\\Windows\\TBDevSync.dll"),
        ERROR_SUCCESS);
    EXPECT_EQ(
        RegSetString(
            classes, u"tbmfile\\shell\\open\\command", nullptr,
            u"\"" +
                Utf8ToUtf16((tbm::testing::ProgramFolder() / "tbm_sync_test_handheld").string()) +
                u"\" \"%1\""),
        ERROR_SUCCESS);
    RegCloseKey(machine);
    RegCloseKey(classes);
  }

  // The provider in a program folder of the desktop, with its language
  // libraries, so that this test's copy is loaded afresh.
  void InstallOnDesktop() {
    const fs::path programs = desktop_.path() / "Program Files" / "Tabulon Mobile";
    fs::create_directories(programs);
    fs::copy_file(tbm::testing::ProgramFolder() / "TBDeskSync.so", programs / "TBDeskSync.so");
    fs::create_directory_symlink(tbm::testing::ProgramFolder() / "tbasres", programs / "tbasres");
    for (const auto& entry : fs::directory_iterator(tbm::testing::ProgramFolder())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("lib", 0) == 0 && entry.path().extension() == ".so") {
        fs::create_symlink(entry.path(), programs / name);
      }
    }
    std::unique_ptr<InprocServer> installed;
    ASSERT_TRUE(InprocServer::Load((programs / "TBDeskSync.so").string(), &installed).ok());
    ASSERT_EQ(installed->RegisterServer(), S_OK);
  }

  // The handheld's setting "Update on docking" (and "Continuously Update").
  static void SetUpdateOnDocking(DWORD value) {
    HCESVC key = nullptr;
    ASSERT_EQ(CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, TRUE, &key), ERROR_SUCCESS);
    EXPECT_EQ(CeSvcSetDword(key, kUpdateOnDocking, value), ERROR_SUCCESS);
    EXPECT_EQ(CeSvcSetDword(key, kContinuouslyUpdate, 0), ERROR_SUCCESS);
    CeSvcClose(key);
  }

  // What the desktop connection service does with a provider: finds it by
  // the object type's registration, makes its store and sets it up.
  void HostProvider() {
    const std::optional<std::u16string> programId =
        RegGetString(HKEY_LOCAL_MACHINE,
                     (std::u16string(kReplObjectTypesKey) + u"\\Tabulon Mobile").c_str(), u"Store");
    ASSERT_TRUE(programId.has_value());
    CLSID provider;
    ASSERT_TRUE(com::ClassOfProgramId(Utf16ToUtf8(*programId), &provider).ok());
    ASSERT_TRUE(InprocServer::LoadClass(provider, &server_).ok());
    ASSERT_EQ(server_->CreateInstance(provider, IID_IReplStore, store_.ReceiveVoid()), S_OK);
    notify_.device = [](DEVINFO* info) {
      DockedDevice docked;
      if (!QueryDevice(&docked).ok()) return false;
      info->pid = static_cast<DWORD>(std::stoul(docked.partnerId.substr(0, 8), nullptr, 16));
      std::snprintf(info->szName, sizeof info->szName, "%s", Utf16ToUtf8(docked.name).c_str());
      std::snprintf(info->szPath, sizeof info->szPath, "%s", docked.address.ToString().c_str());
      return true;
    };
    ASSERT_EQ(store_->Initialize(&notify_, 0), S_OK);
    STOREINFO info;
    std::uint8_t id[4];
    info.cbMaxStoreId = sizeof id;
    info.lpbStoreId = id;
    ASSERT_EQ(store_->GetStoreInfo(&info), S_OK);
    ASSERT_EQ(store_->GetFolderInfo("Tabulon Mobile", &folder_, handler_.Receive()), S_OK);
  }

  // The handheld docks, or a person asks for a synchronisation.
  void Dock() { EXPECT_EQ(store_->ReportStatus(folder_, nullptr, RSC_END_SYNC, 0), S_OK); }

  tbm::testing::ProgramResult Tbmdb(const std::vector<std::string>& args,
                                    const std::string& input = {}) {
    tbm::testing::ProgramResult r = tbm::testing::RunProgram(Program("tbmdb"), args, input, Env());
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    return r;
  }
  std::string Pro(const std::vector<std::string>& args, const std::string& input = {}) {
    const tbm::testing::ProgramResult r =
        tbm::testing::RunProgram(tabulonpro::ProgramPath(), args, input, Env());
    EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
    return r.out;
  }
  // A desktop database offered to the handheld with its fields.
  void MakeDesktopDatabase(const std::string& name, const std::string& csv,
                           const std::string& fields) {
    Pro({"create", name, "-"}, csv);
    Pro({"flags", name, "--offer", "on", "--sync", "on"});
    Pro({"handheld", name, "--fields", fields});
  }

  std::string HandheldRecords(const char* database) {
    return Tbmdb({"list", database, "--csv"}).out;
  }

  fs::path ExchangeFolder() const {
    return desktop_.path() / "Application Data" / "Tabulon" / "Tabulon Pro" / "Tabulon Mobile" /
           "Synchronisation" / "Handhelds" / HandheldName();
  }
  std::string HandheldName() const {
    DockedDevice docked;
    return QueryDevice(&docked).ok() ? Utf16ToUtf8(docked.name) : "";
  }
  std::string SyncLog() const {
    return tbm::testing::ReadWholeFile(ExchangeFolder() / "Synchronisation log.txt");
  }
  std::string ProviderLog() const {
    return tbm::testing::ReadWholeFile(desktop_.path() / "log" / "TBDeskSync.log");
  }

  // The handheld's "synchronisation in progress" word.
  static std::optional<bool> SyncActive() {
    SelectMachine(Machine::Handheld);
    const std::optional<bool> active = sync::ReadSyncActive();
    SelectMachine(Machine::Desktop);
    return active;
  }

  tbm::testing::ScopedEnvironment deviceRoot_{"TBM_DEVICE_ROOT", device_.path().c_str()};
  std::unique_ptr<Service> devicelink_;
  std::unique_ptr<InprocServer> server_;
  ComPtr<IReplStore> store_;
  ComPtr<IUnknown> handler_;
  HREPLFLD folder_ = nullptr;
  RecordingNotify notify_;
};

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

bool Holds(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(DockedSyncTest, ChangesOnBothSidesAreMergedOnTheDesktopAndRebuiltOnTheHandheld) {
  // One CSV makes the handheld's database and its desktop twin; the
  // handheld also has Orders, which the desktop does not know, and the
  // desktop has Suppliers, which the handheld lacks.
  Tbmdb({"create", "-", kContacts, "--name", "Contacts"}, kContactsCsv);
  const std::string orders = "Orders of the " + std::string(200, 'x') + " branch";
  Tbmdb({"create", "-", kOrders, "--name", orders}, "Item:text,Qty:number\nPens,12\n");
  Tbmdb({"set", kOrders, "1", "Qty=14"});
  MakeDesktopDatabase("Contacts", kContactsCsv, "Name,City");
  MakeDesktopDatabase("Suppliers", "Firm:text\nAcme\nBolt & Co\n", "Firm");
  auto host = std::make_unique<RunningHost>(
      std::vector<std::string>{"Contacts", "Suppliers", "--headless"}, Env());
  ASSERT_TRUE(host->WaitUntilReady()) << host->err;
  HostProvider();

  // The first docking with "Update on docking" off does nothing; asking
  // again does.
  SetUpdateOnDocking(0);
  Dock();
  EXPECT_FALSE(fs::exists(ExchangeFolder() / "Synchronisation log.txt"));
  Dock();
  std::vector<std::string> lines = Lines(SyncLog());
  ASSERT_EQ(lines.size(), 6u) << SyncLog();
  EXPECT_EQ(lines[1], "Contacts was synchronised.");
  // No line is longer than 255 characters.
  EXPECT_EQ(lines[2], (orders + " was skipped: Tabulon Pro has no open database").substr(0, 255));
  EXPECT_EQ(lines[3], "Suppliers was synchronised.");
  EXPECT_EQ(lines[4],
            "The synchronisation is finished (problems: 0 with the synchronisation, 0 with "
            "databases).");
  EXPECT_EQ(lines[5], "");
  EXPECT_EQ(HandheldRecords(kSuppliers), "Firm\nAcme\nBolt & Co\n");
  EXPECT_EQ(HandheldRecords(kOrders), "Item,Qty\nPens,14\n");  // untouched
  EXPECT_TRUE(Holds(Tbmdb({"records", kOrders}).out, "modified"));

  // Both sides change; Bo changes on both, so the desktop keeps both.
  Tbmdb({"set", kContacts, "2", "City=Vienna"});
  Tbmdb({"delete", kContacts, "3"});
  Tbmdb({"add", kContacts, "Name=Zoe", "City=Kyoto"});
  Pro({"set", "Contacts", "2", "City=Lyon"});
  Pro({"add", "Contacts", "Name=Eve", "City=Lima"});
  Dock();
  lines = Lines(SyncLog());
  ASSERT_EQ(lines.size(), 13u) << SyncLog();
  EXPECT_EQ(lines[7],
            "Some records were changed on both sides; the database's rule for such records "
            "decided which to keep.");
  EXPECT_EQ(lines[8], "Contacts was synchronised.");
  EXPECT_EQ(lines[11],
            "The synchronisation is finished (problems: 0 with the synchronisation, 0 with "
            "databases).");
  EXPECT_TRUE(notify_.messages.empty());
  EXPECT_EQ(SyncActive(), false);
  EXPECT_FALSE(fs::exists(ExchangeFolder() / "TBSC.sdb"));
  EXPECT_TRUE(Holds(ProviderLog(), "phases \"Contacts\": handheld export "));

  // The handheld holds the desktop's merge, in the desktop's order.
  const std::string handheld = HandheldRecords(kContacts);
  EXPECT_EQ(handheld, "Name,City\nAda,Paris\nBo,Lyon\nDi,Rome\nEve,Lima\nBo,Vienna\nZoe,Kyoto\n");
  EXPECT_FALSE(Holds(Tbmdb({"records", kContacts}).out, "modified"));
  EXPECT_EQ(host->Stop(), 0) << host->err;
  const std::string desktop = Pro({"list", "Contacts", "--csv"});
  for (const char* record :
       {"Ada,Paris", "Bo,Lyon", "Bo,Vienna", "Di,Rome", "Eve,Lima", "Zoe,Kyoto"}) {
    EXPECT_TRUE(Holds(desktop, record)) << record << "\n" << desktop;
  }
  EXPECT_FALSE(Holds(desktop, "Oslo")) << desktop;
}

TEST_F(DockedSyncTest, WithoutTabulonProTheRunSaysSoAndTheHandheldIsReleased) {
  Tbmdb({"create", "-", kContacts, "--name", "Contacts"}, kContactsCsv);
  Tbmdb({"set", kContacts, "1", "City=Nice"});
  HostProvider();
  Dock();
  const std::vector<std::string> lines = Lines(SyncLog());
  ASSERT_EQ(lines.size(), 4u) << SyncLog();
  EXPECT_EQ(lines[1],
            "Tabulon Pro is not running, or it runs without its Tabulon Mobile plug-in. Nothing "
            "was synchronised. Start Tabulon Pro and synchronise again.");
  EXPECT_EQ(lines[2],
            "The synchronisation failed (problems: 1 with the synchronisation, 0 with "
            "databases).");
  // The person is told, with a button that shows the log.
  ASSERT_EQ(notify_.messages.size(), 1u);
  EXPECT_EQ(notify_.messages[0].caption, "Tabulon Mobile Synchronisation");
  EXPECT_EQ(notify_.messages[0].text,
            "The synchronisation with the handheld did not finish as it should. The "
            "synchronisation log says what went wrong.");
  EXPECT_EQ(notify_.messages[0].actionText, "Open the &Log");
  EXPECT_TRUE(notify_.messages[0].action);
  // The agent was told the synchronisation ended; the handheld kept its
  // changes for the next time.
  EXPECT_EQ(SyncActive(), false);
  EXPECT_TRUE(Holds(tbm::testing::ReadWholeFile(device_.path() / "log" / "TBMSYNBKCE.log"),
                    "synchronisation ended"));
  EXPECT_TRUE(Holds(Tbmdb({"records", kContacts}).out, "modified"));
}

TEST_F(DockedSyncTest, ChangesThatDoNotArriveWholeAreNotMerged) {
  // A city the exchange files' code page cannot carry: the handheld's
  // export of its changes breaks off, and what the desktop copies is no
  // whole exchange file.
  Tbmdb({"create", "-", kContacts, "--name", "Contacts"}, kContactsCsv);
  Tbmdb({"set", kContacts, "2", "City=\xE6\x9D\xB1\xE4\xBA\xAC"});
  Tbmdb({"set", kContacts, "1", "City=Nice"});
  MakeDesktopDatabase("Contacts", kContactsCsv, "Name,City");
  RunningHost host({"Contacts", "--headless"}, Env());
  ASSERT_TRUE(host.WaitUntilReady()) << host.err;
  HostProvider();
  Dock();
  const std::vector<std::string> lines = Lines(SyncLog());
  ASSERT_EQ(lines.size(), 5u) << SyncLog();
  EXPECT_EQ(lines[1],
            "Contacts was not synchronised: the handheld's changes did not arrive whole. Nothing "
            "was merged, and both sides keep their data.");
  EXPECT_TRUE(lines[2].starts_with("    Reason: ")) << lines[2];
  EXPECT_EQ(lines[3],
            "The synchronisation failed (problems: 1 with the synchronisation, 1 with "
            "databases).");
  ASSERT_EQ(notify_.messages.size(), 1u);
  EXPECT_EQ(SyncActive(), false);
  // Neither side changed.
  EXPECT_EQ(HandheldRecords(kContacts),
            "Name,City\nAda,Nice\nBo,\xE6\x9D\xB1\xE4\xBA\xAC\nCy,Oslo\nDi,Rome\n");
  EXPECT_EQ(host.Stop(), 0) << host.err;
  const std::string desktop = Pro({"list", "Contacts", "--csv"});
  EXPECT_TRUE(Holds(desktop, "Ada,Paris")) << desktop;
  EXPECT_FALSE(Holds(desktop, "Nice")) << desktop;
  EXPECT_FALSE(fs::exists(ExchangeFolder() / "TBSC.sdb"));
}

}  // namespace
}  // namespace tbm::rapi
