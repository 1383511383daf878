// The device sync provider as the device connection service meets it:
// loaded with dlopen from the folder its registration names, on a fresh
// handheld, where an interrupted synchronisation may have left the
// sync-active word at 1. The provider does its work when it is loaded, so
// each test loads it afresh and checks that unloading really let it go.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "DeviceProvider.h"
#include "ProgramLog.h"
#include "Registry.h"
#include "SyncActiveFlag.h"
#include "TestSupport.h"

namespace tbm::sync {
namespace {

using tbm::testing::ScopedEnvironment;
using tbm::testing::ScratchFolder;
namespace stdfs = std::filesystem;

stdfs::path ProgramFolder() { return stdfs::canonical("/proc/self/exe").parent_path(); }

class DeviceProviderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    CloseLogs();
    // The handheld's \Windows holds the provider and the engine libraries,
    // as an installation leaves them.
    stdfs::create_directories(folder_);
    for (const char* file : {"TBDevSync.so", "libTBMWBRKCE.so", "libTBMDBCEPPC.so"}) {
      stdfs::create_symlink(ProgramFolder() / file, folder_ / file);
    }
    ASSERT_EQ(SetStore(u"\\Windows\\TBDevSync.dll"), ERROR_SUCCESS);
  }

  void TearDown() override {
    if (library_ != nullptr) dlclose(library_);
    CloseLogs();
  }

  static LONG SetStore(const std::u16string& path) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                              u"Windows CE Services\\synchronization\\objects\\Tabulon Mobile", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    rc = RegSetValueExW(key, u"Store", 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                        static_cast<DWORD>((path.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
    return rc;
  }

  // Leaves the word at 1 as a synchronisation that was cut off does, with
  // the section held (as the provider of an earlier load held it) so that
  // the word survives until the provider is loaded.
  void InterruptASynchronisation() {
    interrupted_ = std::make_unique<SyncActiveHolder>();
    ASSERT_TRUE(interrupted_->ok());
    ASSERT_TRUE(WriteSyncActive(true));
  }

  // Loads the provider the way the connection service does. It must not be
  // loaded already, or its load-time work would not run again.
  void Load() {
    ASSERT_EQ(dlopen(ProviderPath().c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr);
    library_ = dlopen(ProviderPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library_, nullptr) << dlerror();
  }

  void Unload() {
    ASSERT_EQ(dlclose(library_), 0);
    library_ = nullptr;
    EXPECT_EQ(dlopen(ProviderPath().c_str(), RTLD_NOW | RTLD_NOLOAD), nullptr)
        << "the provider stayed loaded";
  }

  template <typename Function>
  Function Export(const char* name) const {
    return reinterpret_cast<Function>(library_ != nullptr ? dlsym(library_, name) : nullptr);
  }

  std::string ProviderPath() const { return (folder_ / "TBDevSync.so").string(); }
  std::string ProviderLog() const {
    return tbm::testing::ReadWholeFile(root_.path() / "log" / "TBDevSync.log");
  }

  // The exports answer whether or not the engine was loaded.
  void ExpectExportsAnswer() {
    const auto init = Export<InitObjTypeFunction>("InitObjType");
    const auto info = Export<GetObjTypeInfoFunction>("GetObjTypeInfo");
    const auto status = Export<ReportStatusFunction>("ReportStatus");
    ASSERT_TRUE(init && info && status && Export<ObjectNotifyFunction>("ObjectNotify"));
    IReplObjHandler* handler = nullptr;
    ASSERT_EQ(init(kTabulonObjectType, &handler, 1), TRUE);
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(handler->Release(), 0u);
    OBJTYPEINFO record{sizeof(OBJTYPEINFO), u"Tabulon Mobile", 7, 7, {}};
    EXPECT_EQ(info(&record), TRUE);
    EXPECT_EQ(record.cObjects, 0u);
    EXPECT_EQ(status(kTabulonObjectType, 1, 0), TRUE);
  }

  ScratchFolder root_{"tbm-provider"};
  ScopedEnvironment device_{"TBM_DEVICE_ROOT", root_.path().c_str()};
  stdfs::path folder_ = root_.path() / "Windows";
  std::unique_ptr<SyncActiveHolder> interrupted_;
  void* library_ = nullptr;
};

TEST_F(DeviceProviderTest, LoadingResetsAnInterruptedWordAndKeepsTheSectionUntilUnloaded) {
  InterruptASynchronisation();
  Load();
  EXPECT_EQ(ReadSyncActive(), false);

  // The provider alone now keeps the word, and what the agent writes lasts
  // between the agent's calls.
  interrupted_.reset();
  EXPECT_EQ(ReadSyncActive(), false);
  ASSERT_TRUE(WriteSyncActive(true));
  EXPECT_EQ(ReadSyncActive(), true);
  EXPECT_NE(ProviderLog().find("info: the engine from " + folder_.string()), std::string::npos)
      << ProviderLog();

  Unload();
  EXPECT_FALSE(ReadSyncActive().has_value());
}

TEST_F(DeviceProviderTest, InitObjTypeHandsOutACountedHandlerForItsOwnTypeOnly) {
  Load();
  const auto init = Export<InitObjTypeFunction>("InitObjType");
  ASSERT_NE(init, nullptr);

  IReplObjHandler* handler = nullptr;
  ASSERT_EQ(init(u"Tabulon Mobile", &handler, 2), TRUE);
  ASSERT_NE(handler, nullptr);
  void* asked = nullptr;
  EXPECT_EQ(handler->QueryInterface(GUID{0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}, &asked),
            S_OK);
  EXPECT_EQ(asked, handler);
  EXPECT_EQ(handler->QueryInterface(GUID{}, nullptr), E_INVALIDARG);
  // Four threads take and give back references at once; none is lost.
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([handler] {
      for (int i = 0; i < 10000; ++i) {
        handler->AddRef();
        handler->Release();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(handler->AddRef(), 3u);

  REPLSETUP read{sizeof(REPLSETUP), TRUE, 0, S_OK, 12, 0};
  REPLSETUP write{sizeof(REPLSETUP), FALSE, 0, S_OK, 13, 0};
  EXPECT_EQ(handler->Setup(&read), S_OK);
  EXPECT_EQ(handler->Setup(&write), S_OK);
  EXPECT_EQ(handler->Setup(nullptr), E_INVALIDARG);
  const char* packet = "stale";
  DWORD packetBytes = 5;
  EXPECT_EQ(handler->GetPacket(&packet, &packetBytes, 4096), RWRN_LAST_PACKET);
  EXPECT_EQ(packet, nullptr);
  EXPECT_EQ(packetBytes, 0u);
  EXPECT_EQ(handler->GetPacket(nullptr, &packetBytes, 4096), E_INVALIDARG);
  EXPECT_EQ(handler->SetPacket("data", 4), S_OK);
  EXPECT_EQ(handler->SetPacket(nullptr, 4), E_INVALIDARG);
  EXPECT_EQ(handler->Reset(&read), S_OK);
  EXPECT_EQ(handler->Reset(nullptr), E_INVALIDARG);
  EXPECT_EQ(handler->DeleteObj(&write), S_OK);
  EXPECT_EQ(handler->DeleteObj(nullptr), E_INVALIDARG);
  EXPECT_EQ(handler->Release(), 2u);
  EXPECT_EQ(handler->Release(), 1u);
  EXPECT_EQ(handler->Release(), 0u);

  IReplObjHandler* other = handler;
  EXPECT_EQ(init(u"Contacts", &other, 1), FALSE);
  EXPECT_EQ(other, nullptr);
  EXPECT_EQ(init(nullptr, &other, 1), TRUE);  // the service shutting the provider down
  EXPECT_EQ(init(u"Tabulon Mobile", nullptr, 1), FALSE);
}

TEST_F(DeviceProviderTest, TheRecordsAreReadOnlyAsFarAsTheirSizeAndNamesGo) {
  Load();
  const auto notify = Export<ObjectNotifyFunction>("ObjectNotify");
  const auto info = Export<GetObjTypeInfoFunction>("GetObjTypeInfo");
  ASSERT_TRUE(notify && info);

  OBJNOTIFY notice{sizeof(OBJNOTIFY), u"Tabulon Mobile", 0, 1, 12};
  EXPECT_EQ(notify(&notice), FALSE);  // never claims an object
  // A record too short to hold the name; the name's units are not read.
  notice.cbStruct = sizeof(DWORD);
  EXPECT_EQ(notify(&notice), FALSE);
  EXPECT_EQ(notify(nullptr), FALSE);

  OBJTYPEINFO ours{sizeof(OBJTYPEINFO), u"tabulon mobile", 7, 7, {}};
  EXPECT_EQ(info(&ours), TRUE);
  EXPECT_EQ(ours.cObjects, 0u);
  EXPECT_EQ(ours.cbAllObj, 0u);
  // A name that fills its array without a terminator is not the type's.
  OBJTYPEINFO unterminated{sizeof(OBJTYPEINFO), {}, 7, 7, {}};
  std::fill(std::begin(unterminated.szObjType), std::end(unterminated.szObjType), u'T');
  EXPECT_EQ(info(&unterminated), TRUE);
  EXPECT_EQ(unterminated.cObjects, 7u);
  OBJTYPEINFO contacts{sizeof(OBJTYPEINFO), u"Contacts", 7, 7, {}};
  EXPECT_EQ(info(&contacts), TRUE);
  EXPECT_EQ(contacts.cObjects, 7u);
  EXPECT_EQ(contacts.cbAllObj, 7u);
  EXPECT_EQ(info(nullptr), FALSE);
}

TEST_F(DeviceProviderTest, WithoutItsRegistrationTheProviderAnswersButLeavesTheWordAlone) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                          u"Windows CE Services\\synchronization\\objects\\Tabulon Mobile", 0,
                          KEY_ALL_ACCESS, &key),
            ERROR_SUCCESS);
  ASSERT_EQ(RegDeleteValueW(key, u"Store"), ERROR_SUCCESS);
  RegCloseKey(key);
  InterruptASynchronisation();
  Load();

  EXPECT_EQ(ReadSyncActive(), true);
  ExpectExportsAnswer();
  const std::string log = ProviderLog();
  EXPECT_NE(log.find("error: the registry value \"Store\""), std::string::npos) << log;
  EXPECT_NE(log.find("is missing"), std::string::npos) << log;
  // Nobody but the test holds the section.
  interrupted_.reset();
  EXPECT_FALSE(ReadSyncActive().has_value());
  Unload();
}

TEST_F(DeviceProviderTest, WithTheEngineMissingFromItsFolderTheProviderAnswersWithoutIt) {
  stdfs::remove(folder_ / "libTBMDBCEPPC.so");
  InterruptASynchronisation();
  Load();

  EXPECT_EQ(ReadSyncActive(), true);
  ExpectExportsAnswer();
  const std::string log = ProviderLog();
  EXPECT_NE(log.find("error: TBMDBCEPPC.dll (" + (folder_ / "libTBMDBCEPPC.so").string() +
                     ") cannot be loaded"),
            std::string::npos)
      << log;
  interrupted_.reset();
  EXPECT_FALSE(ReadSyncActive().has_value());
  Unload();
}

}  // namespace
}  // namespace tbm::sync
