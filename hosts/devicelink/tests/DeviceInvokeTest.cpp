// CeRapiInvoke through the real device connection service, and the
// providers it loads: a handheld root with Tabulon Mobile installed in
// "\Windows" as its registration says, the sync agent driven from the
// desktop over the protected connection and, for comparison, in this
// process through a local stream.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "AnsiText.h"
#include "ByteStream.h"
#include "DatabaseList.h"
#include "DesktopConversation.h"
#include "DeviceLinkFixture.h"
#include "ExchangeFile.h"
#include "LocalStream.h"
#include "Registry.h"
#include "SyncActiveFlag.h"
#include "Utf16.h"

namespace tbm::rapi {
namespace {

namespace stdfs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr const WCHAR* kAgent = u"\\Windows\\TBMSYNBKCE.dll";

// A desktop copy of a database (a "TBSS.sdb") with these customers, all new.
Bytes DesktopCopy(const std::string& name, const std::vector<std::string>& customers) {
  std::unique_ptr<sync::AnsiCodePage> page;
  sync::AnsiCodePage::Open("1252", &page);
  sync::ExchangeLayout layout;
  layout.header.name = name;
  layout.header.dateSeparator = '/';
  layout.header.timeSeparator = ':';
  layout.fields = {{1, "Customer", "C-CUST", 0, 0, -1}, {2, "Amount", "C-AMT", 0, 0, -1}};
  layout.header.fieldCount = 2;
  layout.header.recordCount = static_cast<std::int32_t>(customers.size());
  sync::MemoryByteSink sink;
  sync::ExchangeWriter writer(sink, *page);
  writer.WriteLayout(layout);
  std::uint8_t n = 0;
  for (const std::string& customer : customers) {
    sync::RecordHeader header;
    header.changeCode = sync::kChangeNew;
    header.identity = {1, ++n, 0, 0, 0, 0, 0, 0, 0, n};
    writer.WriteRecord(header, std::vector<std::string>{customer, "10"});
  }
  writer.Finish();
  return sink.bytes();
}

// Everything the other end writes until it ends the stream (or size
// bytes, or a failure); *ended gets the result of the read that stopped it.
Bytes ReadAll(IRAPIStream* stream, HRESULT* ended = nullptr) {
  Bytes all;
  std::uint8_t buffer[4096];
  for (;;) {
    ULONG got = 0;
    const HRESULT rc = stream->Read(buffer, sizeof buffer, &got);
    if (FAILED(rc)) {
      if (ended != nullptr) *ended = rc;
      return all;
    }
    all.insert(all.end(), buffer, buffer + got);
  }
}

// The desktop's half of the agent's conversations, whatever carries them.
struct Conversation {
  // FindFiles: everything it sends.
  static Bytes FindFiles(IRAPIStream* desktop) { return ReadAll(desktop); }
  // SyncDatabase in mode 1: the copy in, the name echo and the trailer out.
  static Bytes Create(IRAPIStream* desktop, const Bytes& copy) {
    EXPECT_EQ(desktop->Write(copy.data(), static_cast<ULONG>(copy.size()), nullptr), S_OK);
    return ReadAll(desktop);
  }
};

// Keeps the calling thread on the processor it runs on for one scope (what
// it starts meanwhile inherits that), then lets it run anywhere again.
class OnOneProcessor {
 public:
  OnOneProcessor() {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    ok_ = sched_getaffinity(0, sizeof before_, &before_) == 0 &&
          sched_setaffinity(0, sizeof one, &one) == 0;
  }
  ~OnOneProcessor() { sched_setaffinity(0, sizeof before_, &before_); }
  OnOneProcessor(const OnOneProcessor&) = delete;
  OnOneProcessor& operator=(const OnOneProcessor&) = delete;
  bool ok() const { return ok_; }

 private:
  cpu_set_t before_;
  bool ok_ = false;
};

class DeviceInvokeTest : public DeviceLinkTest {
 protected:
  void SetUp() override {
    DeviceLinkTest::SetUp();
    // \Windows holds the provider, the agent and the engine, as an
    // installation leaves them, and the registration names the provider.
    const stdfs::path windows = device_.path() / "Windows";
    stdfs::create_directories(windows);
    for (const char* file :
         {"TBDevSync.so", "TBMSYNBKCE.so", "libTBMWBRKCE.so", "libTBMDBCEPPC.so"}) {
      stdfs::create_symlink(tbm::testing::ProgramFolder() / file, windows / file);
    }
    SetString(HKEY_LOCAL_MACHINE, u"Windows CE Services\\synchronization\\objects\\Tabulon Mobile",
              u"Store", u"\\Windows\\TBDevSync.dll");
    const std::u16string program =
        u"\"" + Utf8ToUtf16((tbm::testing::ProgramFolder() / "Tabulon Mobile").string()) +
        u"\" \"%1\"";
    SetString(HKEY_CLASSES_ROOT, u"tbmfile\\shell\\open\\command", nullptr, program);
  }

  static void SetString(HKEY hive, const char16_t* path, const char16_t* name,
                        const std::u16string& value) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(hive, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                             static_cast<DWORD>((value.size() + 1) * 2)),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  // Pairs, starts the service and connects.
  std::unique_ptr<Service> Connect() {
    Pair();
    std::unique_ptr<Service> service = Run();
    EXPECT_EQ(CeRapiInit(), S_OK) << RapiFailureText();
    return service;
  }

  // An export of the agent over the network with a stream, talked to by
  // talk on this thread.
  template <typename Talk>
  Bytes OverTheNetwork(const WCHAR* function, std::uint8_t mode, Talk talk) {
    BYTE input[4] = {mode, 0, 0, 0};
    IRAPIStream* stream = nullptr;
    const HRESULT rc = CeRapiInvoke(kAgent, function, 4, input, nullptr, nullptr, &stream, 0);
    EXPECT_EQ(rc, S_OK) << RapiFailureText();
    if (stream == nullptr) return {};
    RapiStreamPtr end(stream);
    return talk(stream);
  }

  // The same export loaded into this process and talked to through a
  // local stream.
  template <typename Talk>
  Bytes InThisProcess(const char* function, std::uint8_t mode, Talk talk) {
    void* agent = dlopen((tbm::testing::ProgramFolder() / "TBMSYNBKCE.so").c_str(), RTLD_NOW);
    EXPECT_NE(agent, nullptr) << dlerror();
    if (agent == nullptr) return {};
    const auto exported = reinterpret_cast<RapiInvokeFunction>(dlsym(agent, function));
    LocalStreamPair pair = CreateLocalStreamPair();
    IRAPIStream* handheld = pair.handheld.release();
    std::thread runs([&] {
      BYTE input[4] = {mode, 0, 0, 0};
      DWORD outputBytes = 0;
      BYTE* output = nullptr;
      exported(4, input, &outputBytes, &output, handheld);
    });
    Bytes said = talk(pair.desktop.get());
    runs.join();
    dlclose(agent);
    return said;
  }

  tbm::testing::ScopedEnvironment deviceRoot_{"TBM_DEVICE_ROOT", device_.path().c_str()};
};

TEST_F(DeviceInvokeTest, TheAgentsConversationsOverTheNetworkMatchThoseOfALocalStream) {
  std::unique_ptr<Service> service = Connect();
  // Sales is created from the desktop, Orders here; each conversation ends
  // with the name echo and a trailer of no failures.
  const Bytes sales = DesktopCopy("Sales", {"Ann", "Bo", "Cy"});
  const Bytes orders = DesktopCopy("Orders", {"Di"});
  const Bytes remote = OverTheNetwork(u"SyncDatabase", 1, [&](IRAPIStream* desktop) {
    return Conversation::Create(desktop, sales);
  });
  const Bytes local = InThisProcess("SyncDatabase", 1, [&](IRAPIStream* desktop) {
    return Conversation::Create(desktop, orders);
  });
  const Bytes trailer = {0, 0, 0, 0, 0, 0};
  ASSERT_EQ(remote.size(), 4u + 6 + 6);
  ASSERT_EQ(local.size(), 4u + 7 + 6);
  EXPECT_EQ(std::string(remote.begin() + 5, remote.begin() + 10), "Sales");
  EXPECT_EQ(Bytes(remote.end() - 6, remote.end()), trailer);
  EXPECT_EQ(Bytes(local.end() - 6, local.end()), trailer);

  // Both lists name both databases, byte for byte alike. Calls made while
  // the stream is open go between its frames.
  const Bytes listed = OverTheNetwork(u"FindFiles", 0, [](IRAPIStream* desktop) {
    WCHAR temp[64];
    EXPECT_EQ(CeGetTempPath(64, temp), 6u) << RapiFailureText();
    return Conversation::FindFiles(desktop);
  });
  const Bytes listedHere = InThisProcess("FindFiles", 0, Conversation::FindFiles);
  ASSERT_EQ(listed.size(), 4u + sync::kDatabaseListBytes);
  EXPECT_EQ(listed, listedHere);
  const auto entries = sync::DecodeDatabaseList(listed.data() + 4, sync::kDatabaseListBytes);
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].name, "Orders");
  EXPECT_EQ((*entries)[1].name, "Sales");

  // Without a stream: StartSync (the handheld program is not running: 1)
  // and EndSync, seen in the word the provider loaded by the service keeps.
  DWORD outputBytes = 7;
  BYTE* output = reinterpret_cast<BYTE*>(1);
  EXPECT_EQ(CeRapiInvoke(kAgent, u"StartSync", 0, nullptr, &outputBytes, &output, nullptr, 0), 1);
  EXPECT_EQ(outputBytes, 0u);
  EXPECT_EQ(output, nullptr);
  EXPECT_EQ(sync::ReadSyncActive(), true);
  EXPECT_EQ(CeRapiInvoke(kAgent, u"EndSync", 0, nullptr, nullptr, nullptr, nullptr, 0), 0);
  EXPECT_EQ(sync::ReadSyncActive(), false);
  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
}

TEST_F(DeviceInvokeTest, StreamsOpenedOneAfterAnotherAreEachServedOnTheirOwn) {
  // Both machines on one processor, as on a small desktop: the handheld's
  // service, waking the desktop as it ends one stream, is often put off
  // until the desktop has already asked for the next one. The threads and
  // programs started from here on inherit the processor.
  OnOneProcessor pinned;
  ASSERT_TRUE(pinned.ok());
  std::unique_ptr<Service> service = Connect();
  // Each database is made as the desktop's sync provider makes one: its
  // end is released as soon as the agent's last word has come, while the
  // agent still closes the database, and the next call follows at once.
  for (int i = 0; i < 40; ++i) {
    const std::string name = "Ledger " + std::to_string(i);
    const Bytes copy = DesktopCopy(name, {"Ann"});
    BYTE input[4] = {1, 0, 0, 0};
    IRAPIStream* raw = nullptr;
    ASSERT_EQ(CeRapiInvoke(kAgent, u"SyncDatabase", 4, input, nullptr, nullptr, &raw, 0), S_OK)
        << name << ": " << RapiFailureText();
    RapiStreamPtr stream(raw);
    ASSERT_EQ(stream->Write(copy.data(), static_cast<ULONG>(copy.size()), nullptr), S_OK);
    Bytes said(4 + 1 + name.size() + 6);
    ASSERT_EQ(ReadExactly(stream.get(), said.data(), static_cast<ULONG>(said.size())), S_OK)
        << name;
    EXPECT_EQ(std::string(said.begin() + 5, said.end() - 6), name);
    EXPECT_EQ(Bytes(said.end() - 6, said.end()), Bytes(6, 0)) << name;
  }
  const Bytes listed = OverTheNetwork(u"FindFiles", 0, Conversation::FindFiles);
  ASSERT_EQ(listed.size(), 4u + sync::kDatabaseListBytes);
  const auto entries = sync::DecodeDatabaseList(listed.data() + 4, sync::kDatabaseListBytes);
  ASSERT_TRUE(entries.has_value());
  EXPECT_EQ(entries->size(), 40u);
  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
}

TEST_F(DeviceInvokeTest, ACallAfterTheStreamIsGivenBackFollowsTheWholeInvocation) {
  // On one processor the handheld's service answers a request the moment it
  // comes, whatever else it is doing.
  OnOneProcessor pinned;
  ASSERT_TRUE(pinned.ok());
  std::unique_ptr<Service> service = Connect();
  const Bytes sales = DesktopCopy("Sales", {"Ann", "Bo", "Cy"});
  OverTheNetwork(u"SyncDatabase", 1,
                 [&](IRAPIStream* desktop) { return Conversation::Create(desktop, sales); });
  // Sales is synchronised, the handheld keeping its data. The desktop
  // gives its end back as soon as the agent's last word has come, while
  // the agent still closes the database and deletes its "TBSC.sdb"; the
  // desktop's next call comes after all of that.
  OverTheNetwork(u"SyncDatabase", 0, [](IRAPIStream* desktop) {
    sync::MemoryByteSink said;
    EXPECT_TRUE(sync::WriteDatabaseToSynchronise(said, "Sales").ok());
    EXPECT_EQ(desktop->Write(said.bytes().data(), static_cast<ULONG>(said.bytes().size()), nullptr),
              S_OK);
    Bytes ready(4);
    EXPECT_EQ(ReadExactly(desktop, ready.data(), 4), S_OK);
    sync::MemoryByteSink decision;
    EXPECT_TRUE(
        sync::WriteDesktopDecision(decision, sync::DesktopDecision::kKeepHandheldData).ok());
    EXPECT_EQ(desktop->Write(decision.bytes().data(), 4, nullptr), S_OK);
    Bytes skipped(4);
    EXPECT_EQ(ReadExactly(desktop, skipped.data(), 4), S_OK);
    return skipped;
  });
  CE_FIND_DATA found{};
  EXPECT_EQ(CeFindFirstFile(u"\\Temp\\TBSC.sdb", &found), INVALID_HANDLE_VALUE);
  EXPECT_EQ(CeRapiGetError(), S_OK) << RapiFailureText();
  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
}

TEST_F(DeviceInvokeTest, WhatCannotBeCalledIsRefusedInWordsAndTheConnectionStays) {
  std::unique_ptr<Service> service = Connect();
  IRAPIStream* stream = reinterpret_cast<IRAPIStream*>(1);
  EXPECT_EQ(CeRapiInvoke(kAgent, u"Reformat", 0, nullptr, nullptr, nullptr, &stream, 0),
            static_cast<HRESULT>(0x8007007Fu));
  EXPECT_EQ(stream, nullptr);
  EXPECT_EQ(CeGetLastError(), 127u);
  EXPECT_EQ(CeRapiInvoke(u"\\Windows\\Missing.dll", u"StartSync", 0, nullptr, nullptr, nullptr,
                         nullptr, 0),
            static_cast<HRESULT>(0x8007007Eu));
  EXPECT_EQ(CeGetLastError(), ERROR_MOD_NOT_FOUND);
  EXPECT_EQ(CeRapiInvoke(u"/usr/lib/TBMSYNBKCE.so", u"StartSync", 0, nullptr, nullptr, nullptr,
                         nullptr, 0),
            static_cast<HRESULT>(0x80070005u));
  EXPECT_EQ(CeRapiInvoke(u"\\Windows\\..\\..\\TBMSYNBKCE.dll", u"StartSync", 0, nullptr, nullptr,
                         nullptr, nullptr, 0),
            static_cast<HRESULT>(0x8007007Bu));
  // A file that is not a library.
  ASSERT_TRUE(tbm::testing::WriteWholeFile(device_.path() / "Windows" / "Notes.so", "notes"));
  EXPECT_EQ(CeRapiInvoke(u"Notes.dll", u"StartSync", 0, nullptr, nullptr, nullptr, nullptr, 0),
            static_cast<HRESULT>(0x8007000Bu));
  EXPECT_EQ(CeRapiGetError(), S_OK) << "each reached the handheld";
  WCHAR temp[64];
  EXPECT_EQ(CeGetTempPath(64, temp), 6u) << RapiFailureText();
  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
}

TEST_F(DeviceInvokeTest, AServiceThatGoesAwayInTheMiddleOfAStreamFailsTheDesktopsReadsInTime) {
  std::unique_ptr<Service> service = Connect();
  SetCallTimeLimit(std::chrono::milliseconds(1500));
  const Bytes copy = DesktopCopy("Sales", {"Ann", "Bo"});
  BYTE input[4] = {1, 0, 0, 0};
  IRAPIStream* raw = nullptr;
  ASSERT_EQ(CeRapiInvoke(kAgent, u"SyncDatabase", 4, input, nullptr, nullptr, &raw, 0), S_OK);
  RapiStreamPtr stream(raw);
  // All but the last record's bytes: the agent echoes the name and waits
  // for the rest.
  const auto cut = static_cast<ULONG>(copy.size() - 10);
  stream->SetRapiStat(STREAM_TIMEOUT_READ, 20000);
  ASSERT_EQ(stream->Write(copy.data(), cut, nullptr), S_OK);
  Bytes echo(10);
  ASSERT_EQ(ReadExactly(stream.get(), echo.data(), 10), S_OK);
  stream->SetRapiStat(STREAM_TIMEOUT_READ, INFINITE);

  // A service that stops answering is given up after the call time limit,
  // though the stream's own read timeout is unlimited.
  ASSERT_EQ(::kill(service->pid(), SIGSTOP), 0);
  auto started = Clock::now();
  HRESULT ended = S_OK;
  ReadAll(stream.get(), &ended);
  EXPECT_EQ(ended, RAPI_E_STREAM_BROKEN);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
  EXPECT_EQ(stream->Write(copy.data(), 4, nullptr), RAPI_E_STREAM_BROKEN);
  ::kill(service->pid(), SIGCONT);
  stream.reset();
  // The next call says why the connection is gone, and the one after that
  // there is none.
  EXPECT_EQ(CeGetLastError(), 0u);
  EXPECT_EQ(CeRapiGetError(), RAPI_E_TIMEOUT);
  EXPECT_NE(RapiFailureText().find("nothing came from the other side for 1500 ms"),
            std::string::npos)
      << RapiFailureText();
  EXPECT_EQ(CeGetLastError(), 0u);
  EXPECT_EQ(CeRapiGetError(), RAPI_E_NOT_CONNECTED);

  // A service that is killed: the desktop's read fails at once.
  ASSERT_EQ(CeRapiInit(), S_OK) << RapiFailureText();
  ASSERT_EQ(CeRapiInvoke(kAgent, u"SyncDatabase", 4, input, nullptr, nullptr, &raw, 0), S_OK);
  stream.reset(raw);
  stream->SetRapiStat(STREAM_TIMEOUT_READ, 20000);
  const Bytes orders = DesktopCopy("Orders", {"Di", "Ed"});
  ASSERT_EQ(stream->Write(orders.data(), static_cast<ULONG>(orders.size() - 10), nullptr), S_OK);
  echo.resize(11);
  ASSERT_EQ(ReadExactly(stream.get(), echo.data(), 11), S_OK);
  started = Clock::now();
  std::thread killer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(service->pid(), SIGKILL);
  });
  ReadAll(stream.get(), &ended);
  killer.join();
  EXPECT_EQ(ended, RAPI_E_STREAM_BROKEN);
  EXPECT_LT(Clock::now() - started, std::chrono::seconds(3));
  stream.reset();
  WCHAR temp[64];
  EXPECT_EQ(CeGetTempPath(64, temp), 0u);
  EXPECT_EQ(CeRapiGetError(), RAPI_E_STREAM_BROKEN) << RapiFailureText();
  EXPECT_NE(RapiFailureText().find("the other side closed the connection"), std::string::npos)
      << RapiFailureText();
}

TEST_F(DeviceInvokeTest, TheServiceLoadsTheProvidersResetsAnInterruptedWordAndReportsDocking) {
  // An interrupted synchronisation left the word at 1; a second object
  // type names a library that is not there.
  auto interrupted = std::make_unique<sync::SyncActiveHolder>();
  ASSERT_TRUE(interrupted->ok());
  ASSERT_TRUE(sync::WriteSyncActive(true));
  SetString(HKEY_LOCAL_MACHINE, u"Windows CE Services\\synchronization\\objects\\Mail", u"Store",
            u"\\Windows\\MailSync.dll");
  SetString(HKEY_LOCAL_MACHINE, u"Ident", u"Name", u"Route 7 handheld");

  std::unique_ptr<Service> service = Connect();
  EXPECT_EQ(sync::ReadSyncActive(), false);
  interrupted.reset();
  EXPECT_EQ(sync::ReadSyncActive(), false) << "the provider keeps the word";

  DockedDevice docked;
  ASSERT_TRUE(QueryDevice(&docked).ok());
  EXPECT_EQ(docked.name, u"Route 7 handheld");
  DesktopPartnership partnership;
  ASSERT_TRUE(LoadDesktopPartnership(&partnership).ok());
  EXPECT_EQ(docked.partnerId, partnership.partnerId);
  EXPECT_EQ(CeRapiUninit(), S_OK);
  EXPECT_EQ(QueryDevice(&docked).platformError(), static_cast<std::uint32_t>(RAPI_E_NOT_CONNECTED));

  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;
  EXPECT_FALSE(sync::ReadSyncActive().has_value()) << "the provider was unloaded";
  const std::string log = DeviceLog();
  const std::string id = partnership.partnerId;
  for (const std::string& line : std::vector<std::string>{
           "info: loaded the provider of the object type 'Tabulon Mobile' from "
           "\\Windows\\TBDevSync.dll",
           "error: the provider of the object type 'Mail' is not loaded: its library "
           "\\Windows\\MailSync.dll is not on the handheld",
           std::string("info: partner ") + id + " connected: docked",
           std::string("info: partner ") + id + " undocked",
           "info: unloaded the provider of the object type 'Tabulon Mobile'"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  EXPECT_NE(tbm::testing::ReadWholeFile(device_.path() / "log" / "TBDevSync.log")
                .find("the synchronisation-in-progress word is reset"),
            std::string::npos);
}

}  // namespace
}  // namespace tbm::rapi
