// The component model as the desktop connection service uses it: GUIDs in
// their text form, in-process servers loaded by path and through their
// registration in a fresh desktop registry, objects made and released, and
// the refusals a person meets, in words.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "Com.h"
#include "Machine.h"
#include "Registry.h"
#include "ReplStore.h"
#include "RunProgram.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::com {
namespace {

namespace fs = std::filesystem;

// {3E5B1C7A-9D24-4F60-8B13-5A7C2E90D461}, the recording store's class.
constexpr CLSID kRecordingClass = {
    0x3E5B1C7A, 0x9D24, 0x4F60, {0x8B, 0x13, 0x5A, 0x7C, 0x2E, 0x90, 0xD4, 0x61}};

std::string RecordingModule() {
  return fs::canonical(tbm::testing::ProgramFolder() / "TBRecordingStore.so").string();
}

std::string DesktopString(HKEY hive, const std::u16string& key, const char16_t* value) {
  const std::optional<std::u16string> text = RegGetString(hive, key.c_str(), value);
  return text ? Utf16ToUtf8(*text) : "(missing)";
}

class ComTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    SelectMachine(Machine::Desktop);
  }

  std::string Recorded() const { return tbm::testing::ReadWholeFile(recording_); }

  tbm::testing::ScratchFolder folder_{"tbm-com"};
  tbm::testing::ScopedEnvironment root_{"TBM_DESKTOP_ROOT", folder_.path().c_str()};
  fs::path recording_ = folder_.path() / "calls.txt";
  tbm::testing::ScopedEnvironment log_{"TBM_RECORDING_STORE_LOG", recording_.c_str()};
};

TEST(GuidTest, TextRoundTripsAndMalformedTextIsRefused) {
  const GUID provider = {
      0x79BF3B86, 0xEA0D, 0x4826, {0xAF, 0x70, 0x76, 0xFC, 0x63, 0xAC, 0x51, 0x4E}};
  EXPECT_EQ(GuidToString(provider), "{79BF3B86-EA0D-4826-AF70-76FC63AC514E}");
  EXPECT_EQ(GuidFromString("{79BF3B86-EA0D-4826-AF70-76FC63AC514E}"), provider);
  EXPECT_EQ(GuidFromString("{79bf3b86-ea0d-4826-af70-76fc63ac514e}"), provider);
  EXPECT_EQ(GuidToString(*GuidFromString(GuidToString(IID_IReplStore))),
            GuidToString(IID_IReplStore));
  for (const char* bad :
       {"", "{}", "79BF3B86-EA0D-4826-AF70-76FC63AC514E", "{79BF3B86-EA0D-4826-AF70-76FC63AC514E",
        "{79BF3B86-EA0D-4826-AF7076FC63AC514E}", "{79BF3B8-EA0D-4826-AF70-76FC63AC514E0}",
        "{79BF3B86-EA0D-4826-AF70-76FC63AC514G}", "{79BF3B86-EA0D-4826-AF70-76FC63AC514E} ",
        "{+9BF3B86-EA0D-4826-AF70-76FC63AC514E}"}) {
    EXPECT_FALSE(GuidFromString(bad).has_value()) << bad;
  }
}

TEST_F(ComTest, ModulesThatServeNoClassesAreRefusedInWords) {
  std::unique_ptr<InprocServer> server;
  const std::string missing = (folder_.path() / "Missing.so").string();
  Status status = InprocServer::Load(missing, &server);
  EXPECT_EQ(status.code(), StatusCode::kNotFound);
  EXPECT_NE(status.message().find(missing), std::string::npos) << status.message();
  EXPECT_EQ(server, nullptr);

  const fs::path text = folder_.path() / "Notes.so";
  ASSERT_TRUE(tbm::testing::WriteWholeFile(text, "These are notes, not a library.\n"));
  status = InprocServer::Load(text.string(), &server);
  EXPECT_EQ(status.code(), StatusCode::kDamaged);
  EXPECT_NE(status.message().find("is not a library this program can load"), std::string::npos)
      << status.message();

  // A real library, but not a server.
  const std::string plain = (tbm::testing::ProgramFolder() / "libtbm_base.so").string();
  status = InprocServer::Load(plain, &server);
  EXPECT_EQ(status.code(), StatusCode::kDamaged);
  EXPECT_NE(status.message().find("lacks DllGetClassObject"), std::string::npos)
      << status.message();
  EXPECT_EQ(server, nullptr);
}

TEST_F(ComTest, ARegisteredServerIsFoundThroughItsClassAndMakesStores) {
  std::unique_ptr<InprocServer> byPath;
  ASSERT_TRUE(InprocServer::Load(RecordingModule(), &byPath).ok());
  ASSERT_EQ(byPath->RegisterServer(), S_OK);

  const std::u16string classKey = u"CLSID\\" + Utf8ToUtf16(GuidToString(kRecordingClass));
  EXPECT_EQ(DesktopString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32", nullptr),
            RecordingModule());
  EXPECT_EQ(DesktopString(HKEY_CLASSES_ROOT, classKey + u"\\ProgId", nullptr),
            "TBTest.RecordingStore");
  const std::u16string typeKey = std::u16string(kReplObjectTypesKey) + u"\\Recording";
  EXPECT_EQ(DesktopString(HKEY_LOCAL_MACHINE, typeKey, u"Store"), "TBTest.RecordingStore");
  EXPECT_EQ(DesktopString(HKEY_LOCAL_MACHINE, typeKey, u"DefaultIcon"),
            RecordingModule() + ", -101");

  CLSID clsid;
  ASSERT_TRUE(ClassOfProgramId("TBTest.RecordingStore", &clsid).ok());
  EXPECT_EQ(clsid, kRecordingClass);
  std::unique_ptr<InprocServer> server;
  const Status loaded = InprocServer::LoadClass(clsid, &server);
  ASSERT_TRUE(loaded.ok()) << loaded.message();
  EXPECT_EQ(server->path(), RecordingModule());
  EXPECT_EQ(server->CanUnloadNow(), S_OK);

  ComPtr<IReplStore> store;
  ASSERT_EQ(server->CreateInstance(clsid, IID_IReplStore, store.ReceiveVoid()), S_OK);
  ASSERT_TRUE(store);
  EXPECT_EQ(server->CanUnloadNow(), S_FALSE) << "a store is alive";
  std::uint8_t id[8] = {};
  STOREINFO info;
  info.lpbStoreId = id;
  info.cbMaxStoreId = sizeof id;
  EXPECT_EQ(store->GetStoreInfo(&info), S_OK);
  EXPECT_STREQ(info.szProgId, "TBTest.RecordingStore");
  EXPECT_EQ(info.cbStoreId, 4u);

  ComPtr<IUnknown> unknown;
  EXPECT_EQ(store->QueryInterface(IID_IUnknown, unknown.ReceiveVoid()), S_OK);
  ComPtr<IReplObjHandler> notAStore;
  EXPECT_EQ(store->QueryInterface(IID_IReplObjHandler, notAStore.ReceiveVoid()), E_NOINTERFACE);
  EXPECT_FALSE(notAStore);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(server->CreateInstance(kRecordingClass, IID_IReplNotify, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(server->CreateInstance(IID_IReplStore, IID_IReplStore, &none),
            CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(server->CreateInstance(kRecordingClass, IID_IReplStore, nullptr), E_POINTER);

  unknown.Reset();
  store.Reset();
  EXPECT_EQ(server->CanUnloadNow(), S_OK) << "every store is released";
  // The store refused for another interface was made and released at once.
  EXPECT_EQ(Recorded(),
            "DllRegisterServer\nCreateInstance\nGetStoreInfo\nCreateInstance\nReleased\n"
            "Released\n");
}

TEST_F(ComTest, UnregisteringRemovesTheKeysAndTheClassIsNoLongerFound) {
  std::unique_ptr<InprocServer> server;
  ASSERT_TRUE(InprocServer::Load(RecordingModule(), &server).ok());
  ASSERT_EQ(server->RegisterServer(), S_OK);
  ASSERT_EQ(server->UnregisterServer(), S_OK);

  const std::u16string classKey = u"CLSID\\" + Utf8ToUtf16(GuidToString(kRecordingClass));
  EXPECT_EQ(DesktopString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32", nullptr), "(missing)");
  EXPECT_EQ(DesktopString(HKEY_CLASSES_ROOT, u"TBTest.RecordingStore", nullptr), "(missing)");
  EXPECT_EQ(DesktopString(HKEY_LOCAL_MACHINE, std::u16string(kReplObjectTypesKey) + u"\\Recording",
                          u"Store"),
            "(missing)");

  std::unique_ptr<InprocServer> again;
  Status status = InprocServer::LoadClass(kRecordingClass, &again);
  EXPECT_EQ(status.code(), StatusCode::kNotFound);
  EXPECT_NE(status.message().find("is not registered on this desktop"), std::string::npos)
      << status.message();
  CLSID clsid;
  status = ClassOfProgramId("TBTest.RecordingStore", &clsid);
  EXPECT_EQ(status.code(), StatusCode::kNotFound);
  EXPECT_NE(status.message().find("TBTest.RecordingStore"), std::string::npos);
  // A second unregistration finds nothing to remove, which is no failure.
  EXPECT_EQ(server->UnregisterServer(), S_OK);

  // A program identifier whose class is not a GUID is damaged, not missing.
  ASSERT_EQ(RegSetString(HKEY_CLASSES_ROOT, u"TBTest.Broken\\CLSID", nullptr, u"{not a class}"),
            ERROR_SUCCESS);
  status = ClassOfProgramId("TBTest.Broken", &clsid);
  EXPECT_EQ(status.code(), StatusCode::kDamaged);
  EXPECT_NE(status.message().find("{not a class}"), std::string::npos);
}

}  // namespace
}  // namespace tbm::com
