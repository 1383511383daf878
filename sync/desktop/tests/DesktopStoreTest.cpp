// TBDeskSync.so's smaller rules, through its component interface as the
// desktop connection service uses it: the module loaded with InprocServer,
// its registration, class factory and store, the handles' byte forms, the
// search for its language library, and the options dialog on a fresh
// desktop root.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "CeUtil.h"
#include "Com.h"
#include "RecordingNotify.h"
#include "Registry.h"
#include "ReplStore.h"
#include "RunProgram.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::desksync {
namespace {

namespace fs = std::filesystem;
using com::ComPtr;
using com::InprocServer;
using testing::RecordingNotify;

// {79BF3B86-EA0D-4826-AF70-76FC63AC514E}
constexpr CLSID kProviderClass = {
    0x79BF3B86, 0xEA0D, 0x4826, {0xAF, 0x70, 0x76, 0xFC, 0x63, 0xAC, 0x51, 0x4E}};
constexpr char16_t kClassKey[] = u"CLSID\\{79BF3B86-EA0D-4826-AF70-76FC63AC514E}";
constexpr char16_t kObjectTypeKey[] =
    u"Software\\Microsoft\\Windows CE Services\\Services\\Synchronization\\Objects\\Tabulon "
    u"Mobile";

fs::path ModuleFile() { return fs::canonical(tbm::testing::ProgramFolder() / "TBDeskSync.so"); }

std::string Value(HKEY hive, const std::u16string& key, const char16_t* name = nullptr) {
  const std::optional<std::u16string> value = RegGetString(hive, key.c_str(), name);
  return value ? Utf16ToUtf8(*value) : "<missing>";
}

bool KeyExists(HKEY hive, const std::u16string& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
  RegCloseKey(opened);
  return true;
}

// Where the pictures of the dialogs go.
QString PicturePath(const std::string& name) {
  const QString folder = QString::fromStdString(
      (tbm::testing::ProgramFolder() / "../test-pictures/desksync").string());
  QDir().mkpath(folder);
  return folder + "/" + QString::fromStdString(name) + ".png";
}

// Runs ActivateDialog(0); once the dialog shows, look is given it, then the
// button named close is pressed.
HRESULT WithOptionsDialog(IReplStore* store, const std::function<void(QDialog*)>& look,
                          const char* close) {
  QTimer timer;
  timer.setInterval(5);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) return;
    timer.stop();
    look(dialog);
    dialog->findChild<QPushButton*>(close)->click();
  });
  timer.start();
  return store->ActivateDialog(0, nullptr, nullptr, nullptr);
}

class DesktopStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    const Status loaded = InprocServer::Load(ModuleFile().string(), &server_);
    ASSERT_TRUE(loaded.ok()) << loaded.message();
  }

  static ComPtr<IReplStore> NewStore(InprocServer& server) {
    ComPtr<IReplStore> store;
    EXPECT_EQ(server.CreateInstance(kProviderClass, IID_IReplStore, store.ReceiveVoid()), S_OK);
    return store;
  }

  // A copy of the module in a folder of its own, with the system's libraries
  // beside it and an empty "tbasres" folder for its language libraries.
  fs::path ProviderCopy() {
    const fs::path into = folder_.path() / "provider";
    fs::create_directories(into / "tbasres");
    fs::copy_file(ModuleFile(), into / "TBDeskSync.so");
    for (const auto& entry : fs::directory_iterator(tbm::testing::ProgramFolder())) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("lib", 0) == 0 && entry.path().extension() == ".so") {
        fs::create_symlink(entry.path(), into / name);
      }
    }
    return into;
  }

  // The title and version line of the options dialog of a store loaded from
  // server, or "refused" when it does not initialise.
  std::string DialogOf(InprocServer& server) {
    ComPtr<IReplStore> store = NewStore(server);
    if (store->Initialize(&notify_, 0) != S_OK) return "refused";
    std::string seen;
    EXPECT_EQ(WithOptionsDialog(
                  store.get(),
                  [&](QDialog* dialog) {
                    seen = dialog->windowTitle().toStdString() + " " +
                           dialog->findChild<QLabel*>("version")->text().toStdString();
                  },
                  "cancel"),
              RERR_CANCEL);
    store->ReportStatus(nullptr, nullptr, RSC_RELEASE, 0);
    return seen;
  }

  tbm::testing::ScratchFolder folder_{"tbm-desksync"};
  tbm::testing::ScopedEnvironment root_{"TBM_DESKTOP_ROOT", (folder_.path() / "desktop").c_str()};
  std::unique_ptr<InprocServer> server_;
  RecordingNotify notify_;
};

TEST_F(DesktopStoreTest, RegistrationWritesAndRemovesTheServicesKeysAndTheFactoryKeepsItsRules) {
  const std::string path = ModuleFile().string();
  ASSERT_EQ(server_->RegisterServer(), S_OK);
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, std::u16string(kClassKey) + u"\\InprocServer32"), path);
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, std::u16string(kClassKey) + u"\\ProgId"),
            "Tabulon.WinCE.Mobile");
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, u"Tabulon.WinCE.Mobile"), "TBDeskSync");
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, u"Tabulon.WinCE.Mobile", u"Display Name"), "Tabulon Pro");
  EXPECT_EQ(Value(HKEY_CLASSES_ROOT, u"Tabulon.WinCE.Mobile\\CLSID"),
            "{79BF3B86-EA0D-4826-AF70-76FC63AC514E}");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kObjectTypeKey), "Tabulon Mobile Object");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kObjectTypeKey, u"Display Name"), "Tabulon Mobile");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kObjectTypeKey, u"Plural Name"), "Tabulon Mobile");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kObjectTypeKey, u"Store"), "Tabulon.WinCE.Mobile");
  EXPECT_EQ(Value(HKEY_LOCAL_MACHINE, kObjectTypeKey, u"DefaultIcon"), path + ", -101");

  // The service finds the module through the program identifier.
  CLSID found;
  ASSERT_TRUE(com::ClassOfProgramId("Tabulon.WinCE.Mobile", &found).ok());
  EXPECT_EQ(found, kProviderClass);
  std::unique_ptr<InprocServer> byClass;
  ASSERT_TRUE(InprocServer::LoadClass(found, &byClass).ok());
  EXPECT_EQ(byClass->path(), path);

  // The factory: one class, two interfaces, no aggregation, and the module
  // stays while a factory or a lock lives.
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(module, nullptr);
  const auto getClassObject =
      reinterpret_cast<DllGetClassObjectFunction>(dlsym(module, "DllGetClassObject"));
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(getClassObject(IID_IReplStore, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(getClassObject(kProviderClass, IID_IReplStore, &object), E_NOINTERFACE);
  EXPECT_EQ(server_->CanUnloadNow(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(getClassObject(kProviderClass, IID_IClassFactory, factory.ReceiveVoid()), S_OK);
  EXPECT_EQ(server_->CanUnloadNow(), S_FALSE);
  RecordingNotify outer;
  EXPECT_EQ(factory->CreateInstance(static_cast<IReplNotify*>(&outer), IID_IReplStore, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IReplNotify, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  factory->LockServer(TRUE);
  factory.Reset();
  EXPECT_EQ(server_->CanUnloadNow(), S_FALSE);
  {
    ComPtr<IReplStore> store = NewStore(*server_);
    ASSERT_EQ(getClassObject(kProviderClass, IID_IUnknown, factory.ReceiveVoid()), S_OK);
    factory->LockServer(FALSE);
    factory.Reset();
    EXPECT_EQ(server_->CanUnloadNow(), S_FALSE);  // the store lives
  }
  EXPECT_EQ(server_->CanUnloadNow(), S_OK);
  dlclose(module);

  ASSERT_EQ(server_->UnregisterServer(), S_OK);
  for (const std::u16string& key :
       {std::u16string(kClassKey), std::u16string(u"Tabulon.WinCE.Mobile")}) {
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << Utf16ToUtf8(key);
  }
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kObjectTypeKey));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kReplObjectTypesKey));  // the service's own
  EXPECT_EQ(server_->UnregisterServer(), S_OK);                     // nothing left to remove

  // A registry that cannot be written: the Win32 error as an HRESULT.
  fs::remove(RegistryFilePath(Machine::Desktop));
  fs::create_directories(RegistryFilePath(Machine::Desktop));
  const HRESULT refused = server_->RegisterServer();
  EXPECT_TRUE(FAILED(refused));
  EXPECT_EQ(static_cast<std::uint32_t>(refused) & 0xFFFF0000u, 0x80070000u);
}

TEST_F(DesktopStoreTest, TheStoreAnswersTheServiceAsAStoreWithoutItems) {
  ComPtr<IReplStore> store = NewStore(*server_);
  ComPtr<IReplNotify> notNotify;
  EXPECT_EQ(store->QueryInterface(IID_IReplNotify, notNotify.ReceiveVoid()), E_NOINTERFACE);
  ASSERT_EQ(store->Initialize(&notify_, 0), S_OK);
  EXPECT_EQ(notify_.references(), 2u);  // kept

  // Identity.
  EXPECT_EQ(store->GetStoreInfo(nullptr), E_INVALIDARG);
  std::array<std::uint8_t, 8> id{};
  STOREINFO info;
  info.cbMaxStoreId = 2;
  info.lpbStoreId = id.data();
  EXPECT_EQ(store->GetStoreInfo(&info), E_OUTOFMEMORY);
  EXPECT_EQ(info.cbStoreId, 4u);
  info.cbMaxStoreId = 8;
  info.lpbStoreId = nullptr;
  EXPECT_EQ(store->GetStoreInfo(&info), E_POINTER);
  info.lpbStoreId = id.data();
  ASSERT_EQ(store->GetStoreInfo(&info), S_OK);
  EXPECT_EQ(info.uFlags, SCF_SINGLE_THREAD);
  EXPECT_STREQ(info.szProgId, "Tabulon.WinCE.Mobile");
  EXPECT_STREQ(info.szStoreDesc, "Tabulon Pro");
  EXPECT_EQ(id, (std::array<std::uint8_t, 8>{0x39, 0x30, 0, 0, 0, 0, 0, 0}));  // 12345

  std::uint8_t a[] = {1, 2, 3};
  std::uint8_t b[] = {1, 2, 4};
  EXPECT_EQ(store->CompareStoreIDs(a, 2, b, 3), -1);  // shorter first
  EXPECT_EQ(store->CompareStoreIDs(b, 3, a, 2), 1);
  EXPECT_EQ(store->CompareStoreIDs(a, 3, b, 3), -1);
  EXPECT_EQ(store->CompareStoreIDs(b, 3, a, 3), 1);
  EXPECT_EQ(store->CompareStoreIDs(a, 2, b, 2), 0);

  // One folder of the one type, no items, an object handler with nothing.
  HREPLFLD folder = nullptr;
  ComPtr<IUnknown> unknown;
  EXPECT_EQ(store->GetFolderInfo("Contacts", &folder, unknown.Receive()), E_INVALIDARG);
  EXPECT_EQ(folder, nullptr);
  ASSERT_EQ(store->GetFolderInfo("Tabulon Mobile", &folder, unknown.Receive()), S_OK);
  ASSERT_NE(folder, nullptr);
  ComPtr<IReplObjHandler> handler;
  ASSERT_EQ(unknown->QueryInterface(IID_IReplObjHandler, handler.ReceiveVoid()), S_OK);
  std::uint8_t* packet = reinterpret_cast<std::uint8_t*>(1);
  DWORD packetBytes = 9;
  EXPECT_EQ(handler->GetPacket(&packet, &packetBytes, 4096), RWRN_LAST_PACKET);
  EXPECT_EQ(packet, nullptr);
  EXPECT_EQ(packetBytes, 0u);
  EXPECT_EQ(handler->SetPacket(nullptr, 0), S_OK);
  BOOL changed = FALSE;
  EXPECT_EQ(store->IsFolderChanged(folder, &changed), S_OK);
  EXPECT_TRUE(changed);
  HREPLITEM item = reinterpret_cast<HREPLITEM>(1);
  BOOL exists = TRUE;
  EXPECT_EQ(store->FindFirstItem(folder, &item, &exists), S_OK);
  EXPECT_EQ(item, nullptr);
  EXPECT_FALSE(exists);

  // Handles in bytes: a folder is 264, an item 272, and back.
  std::vector<std::uint8_t> folderBytes(store->ObjectToBytes(folder, nullptr));
  ASSERT_EQ(folderBytes.size(), 264u);
  store->ObjectToBytes(folder, folderBytes.data());
  EXPECT_EQ(folderBytes[0], 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(folderBytes.data() + 4)), "Tabulon Mobile");
  std::vector<std::uint8_t> itemBytes(272, 0);
  itemBytes[0] = 2;
  std::memcpy(itemBytes.data() + 4, "Sales", 5);
  itemBytes[264] = 0x10;  // file time, low half
  itemBytes[268] = 0x20;  // high half
  HREPLITEM sales = store->BytesToObject(itemBytes.data(), 272);
  ASSERT_NE(sales, nullptr);
  std::vector<std::uint8_t> again(272);
  EXPECT_EQ(store->ObjectToBytes(sales, again.data()), 272u);
  EXPECT_EQ(again, itemBytes);
  EXPECT_EQ(store->BytesToObject(itemBytes.data(), 271), nullptr);  // too short for an item
  itemBytes[0] = 3;
  EXPECT_EQ(store->BytesToObject(itemBytes.data(), 272), nullptr);  // no such kind
  itemBytes[0] = 2;
  itemBytes[264] = 0x11;
  std::memcpy(itemBytes.data() + 4, "Orders", 6);
  HREPLITEM orders = store->BytesToObject(itemBytes.data(), 272);
  ASSERT_NE(orders, nullptr);
  EXPECT_EQ(store->CompareItem(orders, sales), -1);  // by name
  EXPECT_EQ(store->CompareItem(sales, sales), 0);
  EXPECT_TRUE(store->IsItemChanged(folder, sales, orders));  // file times differ
  EXPECT_FALSE(store->IsItemChanged(folder, sales, nullptr));
  store->UpdateItem(folder, orders, sales);
  EXPECT_FALSE(store->IsItemChanged(folder, sales, orders));
  EXPECT_TRUE(store->IsItemReplicated(folder, sales));

  EXPECT_EQ(store->IsValidObject(folder, sales, 0), S_OK);
  EXPECT_EQ(store->IsValidObject(sales, nullptr, 0), E_HANDLE);
  EXPECT_EQ(store->IsValidObject(nullptr, folder, 0), E_HANDLE);
  EXPECT_FALSE(store->CopyObject(folder, sales));  // not of one kind
  EXPECT_TRUE(store->CopyObject(sales, orders));
  EXPECT_EQ(store->CompareItem(orders, sales), 0);
  store->FreeObject(orders);
  store->FreeObject(sales);
  store->FreeObject(folder);

  EXPECT_EQ(store->GetConflictInfo(nullptr), RERR_IGNORE);
  EXPECT_EQ(store->ActivateDialog(1, nullptr, nullptr, nullptr), E_NOTIMPL);
  OBJUIDATA ui;
  ASSERT_EQ(store->GetObjTypeUIData(nullptr, &ui), S_OK);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ui.hIconLarge), 101u);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(ui.hIconSmall), 101u);
  EXPECT_STREQ(ui.szName, "Tabulon Mobile");
  EXPECT_STREQ(ui.szTypeText, "Tabulon Mobile");
  EXPECT_STREQ(ui.szPlTypeText, "Tabulon Mobile");

  // Status 6 gives the service's object back.
  EXPECT_EQ(store->ReportStatus(nullptr, nullptr, RSC_RELEASE, 0), S_OK);
  EXPECT_EQ(notify_.references(), 1u);
}

TEST_F(DesktopStoreTest, TheLanguageLibraryIsSearchedInOrderAndOneOfAnotherReleasePassedOver) {
  const fs::path provider = ProviderCopy();
  const fs::path languages = provider / "tbasres";
  const fs::path built = tbm::testing::ProgramFolder() / "tbasres";
  const fs::path others = TBM_DESKSYNC_TEST_LIBRARIES;
  std::unique_ptr<InprocServer> copy;
  ASSERT_TRUE(InprocServer::Load((provider / "TBDeskSync.so").string(), &copy).ok());
  HKEY nls = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"nls", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                            &nls, nullptr),
            ERROR_SUCCESS);
  const DWORD austrianGerman = 0xC07;
  ASSERT_EQ(RegSetValueExW(nls, u"DefaultLCID", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&austrianGerman), 4),
            ERROR_SUCCESS);
  RegCloseKey(nls);

  // None at all: the store refuses, and says so in English through the
  // service.
  EXPECT_EQ(DialogOf(*copy), "refused");
  ASSERT_EQ(notify_.messages.size(), 1u);
  EXPECT_EQ(notify_.messages[0].caption, "Tabulon Mobile");
  EXPECT_NE(notify_.messages[0].text.find("cannot be loaded"), std::string::npos)
      << notify_.messages[0].text;

  // US English when there is nothing better; then German, found through the
  // primary language of Austrian German.
  fs::copy_file(built / "TBDeskSyncRes409.so", languages / "TBDeskSyncRes409.so");
  EXPECT_EQ(DialogOf(*copy), "Tabulon Mobile Options v2.1.0.1");
  fs::copy_file(built / "TBDeskSyncRes407.so", languages / "TBDeskSyncRes407.so");
  const std::string german = DialogOf(*copy);
  EXPECT_NE(german, "Tabulon Mobile Options v2.1.0.1");
  EXPECT_TRUE(german.ends_with(" v2.1.0.1")) << german;

  // The library without a suffix comes first, unless it is of another
  // release: version 3.0 is passed over, 1.1 is taken (one match is enough).
  fs::copy_file(others / "OtherRelease.so", languages / "TBDeskSyncRes.so");
  EXPECT_EQ(DialogOf(*copy), german);
  fs::remove(languages / "TBDeskSyncRes.so");
  fs::copy_file(others / "EarlierRelease.so", languages / "TBDeskSyncRes.so");
  EXPECT_EQ(DialogOf(*copy), "Options of release 1.1 v1.1.0.0");
  EXPECT_EQ(notify_.messages.size(), 1u);
}

TEST_F(DesktopStoreTest, TheOptionsDialogShowsTheVersionAndOpensTheHandheldsLog) {
  // Each language's dialog, for a person to look at.
  notify_.device = RecordingNotify::Handheld("Pocket PC", 0x3fa2c901);
  for (const char* locale : {"en_US", "de_DE", "fr_FR", "it_IT", "es_ES", "ja_JP"}) {
    tbm::testing::ScopedEnvironment language("LANG", (std::string(locale) + ".UTF-8").c_str());
    ComPtr<IReplStore> store = NewStore(*server_);
    ASSERT_EQ(store->Initialize(&notify_, 0), S_OK);
    EXPECT_EQ(WithOptionsDialog(
                  store.get(),
                  [&](QDialog* dialog) {
                    EXPECT_EQ(dialog->findChild<QLabel*>("version")->text(), "v2.1.0.1");
                    EXPECT_TRUE(dialog->grab().save(PicturePath(std::string("options-") + locale)));
                  },
                  "cancel"),
              RERR_CANCEL);
    store->ReportStatus(nullptr, nullptr, RSC_RELEASE, 0);
  }

  // The log lies in the folder of the handheld, whose name is made safe for
  // a folder; a viewer on the PATH gets its path.
  const fs::path bin = folder_.path() / "bin";
  fs::create_directories(bin);
  const fs::path opened = folder_.path() / "opened.txt";
  ASSERT_TRUE(tbm::testing::WriteWholeFile(
      bin / "xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > \"" + opened.string() +
                            ".part\" && mv \"" + opened.string() + ".part\" \"" + opened.string() +
                            "\"\n"));
  fs::permissions(bin / "xdg-open", fs::perms::owner_all);
  tbm::testing::ScopedEnvironment path("PATH", (bin.string() + ":/usr/bin:/bin").c_str());
  notify_.device = RecordingNotify::Handheld("Kim's/Pocket\tPC", 0x3fa2c902);
  ComPtr<IReplStore> store = NewStore(*server_);
  ASSERT_EQ(store->Initialize(&notify_, 0), S_OK);
  const fs::path log = folder_.path() /
                       "desktop/Application Data/Tabulon/Tabulon Pro/Tabulon Mobile/"
                       "Synchronisation/Handhelds/Kim's_Pocket_PC/Synchronisation log.txt";
  EXPECT_EQ(
      WithOptionsDialog(
          store.get(),
          [&](QDialog* dialog) { dialog->findChild<QPushButton*>("openLog")->click(); }, "ok"),
      S_OK);
  for (int wait = 0; wait < 2000 && !fs::exists(opened); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(tbm::testing::ReadWholeFile(opened), log.string());
  EXPECT_TRUE(fs::exists(log));
  EXPECT_TRUE(notify_.messages.empty());

  // Without a viewer the person is told, in words, through the service.
  fs::remove(bin / "xdg-open");
  EXPECT_EQ(
      WithOptionsDialog(
          store.get(),
          [&](QDialog* dialog) { dialog->findChild<QPushButton*>("openLog")->click(); }, "cancel"),
      RERR_CANCEL);
  ASSERT_EQ(notify_.messages.size(), 1u);
  EXPECT_EQ(notify_.messages[0].caption, "Tabulon Mobile Synchronisation Log");
  EXPECT_NE(notify_.messages[0].text.find(log.string()), std::string::npos);
  store->ReportStatus(nullptr, nullptr, RSC_RELEASE, 0);
}

}  // namespace
}  // namespace tbm::desksync
