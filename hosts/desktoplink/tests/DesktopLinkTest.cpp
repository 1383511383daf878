// The desktop connection service end to end: tbm-devicelink serving a
// paired handheld, tbm-desktoplink with the recording store registered as
// its provider, and the commands a person types, on fresh machine roots.
#include <gtest/gtest.h>

#include <cstdio>

#include "CeUtil.h"
#include "Com.h"
#include "DesktopLinkFixture.h"
#include "Registry.h"
#include "ReplStore.h"
#include "Utf16.h"

namespace tbm::desktoplink::testing {
namespace {

std::string DesktopString(HKEY hive, const std::u16string& key, const char16_t* value) {
  HKEY machine = nullptr;
  EXPECT_EQ(RegConnectMachine(Machine::Desktop, hive, &machine), ERROR_SUCCESS);
  const std::optional<std::u16string> text = RegGetString(machine, key.c_str(), value);
  RegCloseKey(machine);
  return text ? Utf16ToUtf8(*text) : "(missing)";
}

std::string Hex8(const std::string& partnerId) { return partnerId.substr(0, 8); }

TEST_F(DesktopLinkTest, EachDockingAndEachRequestReachesTheStoreUntilTheServiceStops) {
  const ProgramResult registered =
      machines_.DesktopLink({"register", DockingMachines::RecordingStore()});
  ASSERT_EQ(registered.status, 0) << registered.err;
  EXPECT_NE(registered.out.find("is registered on this desktop"), std::string::npos);
  const std::string partner = machines_.Pair();
  std::unique_ptr<Service> handheld = machines_.StartHandheld();
  ASSERT_NE(handheld, nullptr);

  std::unique_ptr<Service> service = machines_.StartDesktopService();
  ASSERT_NE(service, nullptr);
  EXPECT_NE(service->out.find("running with 1 provider (Recording); paired with the handheld " +
                              partner + " at " + machines_.HandheldAddress()),
            std::string::npos)
      << service->out;

  // The store is made through its registration and set up in order; the
  // docking reports status 3, and the store finds the handheld through the
  // service and shares its connection.
  const std::string device = std::string(" ") + DockingMachines::kHandheldName;
  const std::string oneRun = "ReportStatus 3 0 folder\nQueryDevice selected " + Hex8(partner) +
                             device + " " + machines_.HandheldAddress() +
                             "\nQueryDevice connected" + device +
                             "\nCeRapiInit shared; CeGetTempPath \\Temp\\\n"
                             "CeSvc Update on docking=1 Continuously Update=0\n";
  std::string recorded = WaitForFile(machines_.RecordingFile(), [](const std::string& text) {
    return text.find("CeSvc") != std::string::npos;
  });
  EXPECT_EQ(recorded,
            "DllRegisterServer\nCreateInstance\nInitialize 0 messages\nGetStoreInfo\n"
            "GetFolderInfo Recording\nGetObjTypeUIData\n" +
                oneRun);
  EXPECT_NE(machines_.ServiceLog().find("handheld Pocket Ledger docked"), std::string::npos)
      << machines_.ServiceLog();

  // A person asks: status 3 again, and what the store said comes back.
  ProgramResult sync = machines_.DesktopLink({"sync"});
  EXPECT_EQ(sync.status, 0) << sync.err;
  EXPECT_EQ(sync.out,
            "The handheld Pocket Ledger is docked; 1 provider was asked to synchronise "
            "(Recording).\n  Recording store: run 2\n  Recording store: run 2 done\n");
  EXPECT_EQ(Occurrences(machines_.Recorded(), oneRun), 2u);

  // The handheld goes: the service notices, and a request says where it
  // looked.
  EXPECT_EQ(handheld->Stop(), 0) << handheld->err;
  WaitForFile(machines_.desktopRoot() / "log" / "tbm-desktoplink.log",
              [](const std::string& log) { return log.find("undocked") != std::string::npos; });
  sync = machines_.DesktopLink({"sync"});
  EXPECT_EQ(sync.status, 1);
  EXPECT_NE(sync.err.find("no handheld is docked: the handheld's service at " +
                          machines_.HandheldAddress() + " does not answer"),
            std::string::npos)
      << sync.err;
  EXPECT_TRUE(sync.out.empty()) << sync.out;

  // It comes back: docking again reports status 3 again.
  handheld = machines_.StartHandheld();
  ASSERT_NE(handheld, nullptr);
  recorded = WaitForFile(machines_.RecordingFile(),
                         [&](const std::string& text) { return Occurrences(text, oneRun) == 3; });
  EXPECT_EQ(Occurrences(recorded, oneRun), 3u) << recorded;

  // A stop releases the store: status 6, its folder freed, its last
  // reference given back.
  EXPECT_EQ(service->Stop(), 0) << service->err;
  EXPECT_NE(service->out.find("tbm-desktoplink has stopped."), std::string::npos);
  recorded = machines_.Recorded();
  const std::string release = "ReportStatus 6 0 folder\nFreeObject\nReleased\n";
  ASSERT_GE(recorded.size(), release.size());
  EXPECT_EQ(recorded.substr(recorded.size() - release.size()), release) << recorded;
  EXPECT_EQ(handheld->Stop(), 0);
}

TEST_F(DesktopLinkTest, TheHandheldsSettingsRoundTripAndReachTheProvider) {
  ASSERT_EQ(machines_.DesktopLink({"register", DockingMachines::RecordingStore()}).status, 0);
  const std::string partner = machines_.Pair();

  // Pairing wrote the defaults.
  ProgramResult shown = machines_.DesktopLink({"partnerships"});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("Partner:             " + partner), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Handheld:            (not docked yet)"), std::string::npos);
  EXPECT_NE(shown.out.find("Update on docking:   on\nContinuously Update: off"), std::string::npos)
      << shown.out;

  shown =
      machines_.DesktopLink({"set", "--update-on-docking", "off", "--continuously-update", "on"});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("Update on docking:   off\nContinuously Update: on"), std::string::npos)
      << shown.out;
  HCESVC key = nullptr;
  ASSERT_EQ(CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, FALSE, &key), ERROR_SUCCESS);
  DWORD onDocking = 9, continuously = 9;
  EXPECT_EQ(CeSvcGetDword(key, kUpdateOnDocking, &onDocking), ERROR_SUCCESS);
  EXPECT_EQ(CeSvcGetDword(key, kContinuouslyUpdate, &continuously), ERROR_SUCCESS);
  CeSvcClose(key);
  EXPECT_EQ(onDocking, 0u);
  EXPECT_EQ(continuously, 1u);
  shown = machines_.DesktopLink({"set", "--update-on-docking", "maybe"});
  EXPECT_EQ(shown.status, 2);

  // The service starts before the handheld: nothing is docked, and the
  // store still learns the selected handheld from the partnership.
  std::unique_ptr<Service> service = machines_.StartDesktopService();
  ASSERT_NE(service, nullptr);
  std::unique_ptr<Service> handheld = machines_.StartHandheld();
  ASSERT_NE(handheld, nullptr);
  const std::string recorded = WaitForFile(machines_.RecordingFile(), [](const std::string& text) {
    return text.find("CeSvc") != std::string::npos;
  });
  EXPECT_NE(recorded.find("CeSvc Update on docking=0 Continuously Update=1"), std::string::npos)
      << recorded;
  EXPECT_NE(recorded.find("QueryDevice connected Pocket Ledger"), std::string::npos);
  EXPECT_EQ(service->Stop(), 0) << service->err;

  // Undocked, the selected handheld keeps its last name; nothing is
  // connected.
  shown = machines_.DesktopLink({"partnerships"});
  EXPECT_NE(shown.out.find("Handheld:            Pocket Ledger"), std::string::npos) << shown.out;
  EXPECT_EQ(handheld->Stop(), 0);
  service = machines_.StartDesktopService();
  ASSERT_NE(service, nullptr);
  const ProgramResult sync = machines_.DesktopLink({"sync"});
  EXPECT_EQ(sync.status, 1);
  EXPECT_NE(sync.err.find(machines_.HandheldAddress()), std::string::npos) << sync.err;
  EXPECT_EQ(service->Stop(), 0);
}

TEST_F(DesktopLinkTest, WithoutAServiceOrAProviderASynchronisationIsRefusedInWords) {
  ProgramResult sync = machines_.DesktopLink({"sync"});
  EXPECT_EQ(sync.status, 1);
  EXPECT_NE(sync.err.find("no desktop connection service is running on this desktop"),
            std::string::npos)
      << sync.err;
  EXPECT_NE(sync.err.find("start it with 'tbm-desktoplink run'"), std::string::npos);

  std::unique_ptr<Service> service = machines_.StartDesktopService();
  ASSERT_NE(service, nullptr);
  EXPECT_NE(service->out.find("running with no provider; no handheld is paired yet"),
            std::string::npos)
      << service->out;
  sync = machines_.DesktopLink({"sync"});
  EXPECT_EQ(sync.status, 1);
  EXPECT_NE(sync.err.find("no sync provider is registered on this desktop; register one with "
                          "'tbm-desktoplink register MODULE'"),
            std::string::npos)
      << sync.err;

  // One service per desktop.
  const ProgramResult second = machines_.DesktopLink({"run", "--headless"});
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("running already on this desktop (process " +
                            std::to_string(service->pid()) + ")"),
            std::string::npos)
      << second.err;
  EXPECT_EQ(service->Stop(), 0) << service->err;
}

TEST_F(DesktopLinkTest, AProvidersOptionsAreShownInAProcessOfTheirOwnOnADisplayOnly) {
  ASSERT_EQ(machines_.DesktopLink({"register", DockingMachines::RecordingStore()}).status, 0);
  ProgramResult options = machines_.DesktopLink({"options"});
  EXPECT_EQ(options.status, 2);
  EXPECT_NE(options.err.find("the options dialog needs a display"), std::string::npos)
      << options.err;
  EXPECT_EQ(machines_.Recorded(), "DllRegisterServer\n") << "nothing was loaded";

  // Qt's minimal platform stands for a display here.
  options = machines_.DesktopLink({"options", "Recording"}, {{"QT_QPA_PLATFORM", "minimal"}});
  EXPECT_EQ(options.status, 0) << options.err;
  EXPECT_NE(options.out.find("The options dialog of \"Recording\" was closed."), std::string::npos)
      << options.out;
  EXPECT_EQ(machines_.Recorded(),
            "DllRegisterServer\nCreateInstance\nInitialize 0 messages\nGetStoreInfo\n"
            "GetFolderInfo Recording\nGetObjTypeUIData\nActivateDialog 0\n"
            "ReportStatus 6 0 folder\nFreeObject\nReleased\n");
  options = machines_.DesktopLink({"options", "Ledger"}, {{"QT_QPA_PLATFORM", "minimal"}});
  EXPECT_EQ(options.status, 1);
  EXPECT_NE(options.err.find("no provider is registered for the object type \"Ledger\"; the "
                             "registered ones are \"Recording\""),
            std::string::npos)
      << options.err;
}

TEST_F(DesktopLinkTest, ProvidersThatCannotBeLoadedOrRefuseAreLeftOutInWords) {
  ASSERT_EQ(machines_.DesktopLink({"register", DockingMachines::RecordingStore()}).status, 0);
  // A second object type whose class names a module that is gone.
  HKEY classes = nullptr, machine = nullptr;
  ASSERT_EQ(RegConnectMachine(Machine::Desktop, HKEY_CLASSES_ROOT, &classes), ERROR_SUCCESS);
  ASSERT_EQ(RegConnectMachine(Machine::Desktop, HKEY_LOCAL_MACHINE, &machine), ERROR_SUCCESS);
  const std::string gone = (machines_.desktopRoot() / "Gone.so").string();
  const std::u16string typeKey = std::u16string(kReplObjectTypesKey) + u"\\Ledger";
  EXPECT_EQ(RegSetString(machine, typeKey.c_str(), u"Store", u"TBTest.Gone"), ERROR_SUCCESS);
  EXPECT_EQ(RegSetString(classes, u"TBTest.Gone\\CLSID", nullptr,
                         u"{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}"),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetString(classes, u"CLSID\\{0A1B2C3D-4E5F-4061-8293-A4B5C6D7E8F9}\\InprocServer32",
                         nullptr, Utf8ToUtf16(gone)),
            ERROR_SUCCESS);
  RegCloseKey(classes);
  RegCloseKey(machine);

  const ProgramResult listed = machines_.DesktopLink({"providers"});
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("Ledger: the module " + gone + " is missing"), std::string::npos)
      << listed.out;

  // The recording store refuses to start.
  std::unique_ptr<Service> service =
      machines_.StartDesktopService({{"TBM_RECORDING_STORE_REFUSE", "Initialize"}});
  ASSERT_NE(service, nullptr);
  EXPECT_NE(service->out.find("running with no provider, 2 registered providers left out"),
            std::string::npos)
      << service->out;
  // Said on standard error before the ready line.
  EXPECT_NE(service->err.find("the provider of \"Ledger\": there is no module " + gone),
            std::string::npos)
      << service->err;
  EXPECT_NE(
      service->err.find("the provider of \"Recording\" (" + DockingMachines::RecordingStore() +
                        ") refused Initialize: the module reported a failure without "
                        "saying more (0x80004005); it is left out"),
      std::string::npos)
      << service->err;
  const ProgramResult sync = machines_.DesktopLink({"sync"});
  EXPECT_EQ(sync.status, 1);
  EXPECT_NE(sync.err.find("none of the 2 registered providers could be loaded"), std::string::npos)
      << sync.err;
  EXPECT_EQ(service->Stop(), 0);
  // Refused at Initialize: given back without a status 6 it never needed.
  EXPECT_EQ(machines_.Recorded(),
            "DllRegisterServer\nCreateInstance\nInitialize 0 messages\nReleased\n");
}

TEST_F(DesktopLinkTest, RegisteringAndUnregisteringWriteAndRemoveTheProvidersKeys) {
  const std::string module = DockingMachines::RecordingStore();
  ProgramResult result = machines_.DesktopLink({"register", module});
  ASSERT_EQ(result.status, 0) << result.err;
  const std::u16string classKey = u"CLSID\\{3E5B1C7A-9D24-4F60-8B13-5A7C2E90D461}";
  const std::u16string typeKey = std::u16string(kReplObjectTypesKey) + u"\\Recording";
  EXPECT_EQ(DesktopString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32", nullptr), module);
  EXPECT_EQ(DesktopString(HKEY_CLASSES_ROOT, u"TBTest.RecordingStore\\CLSID", nullptr),
            "{3E5B1C7A-9D24-4F60-8B13-5A7C2E90D461}");
  EXPECT_EQ(DesktopString(HKEY_LOCAL_MACHINE, typeKey, u"Store"), "TBTest.RecordingStore");
  result = machines_.DesktopLink({"providers"});
  EXPECT_NE(result.out.find("Recording    TBTest.RecordingStore  " + module), std::string::npos)
      << result.out;

  result = machines_.DesktopLink({"unregister", module});
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_NE(result.out.find("is unregistered from this desktop"), std::string::npos);
  EXPECT_EQ(DesktopString(HKEY_CLASSES_ROOT, classKey + u"\\InprocServer32", nullptr), "(missing)");
  EXPECT_EQ(DesktopString(HKEY_CLASSES_ROOT, u"TBTest.RecordingStore\\CLSID", nullptr),
            "(missing)");
  EXPECT_EQ(DesktopString(HKEY_LOCAL_MACHINE, typeKey, u"Store"), "(missing)");
  result = machines_.DesktopLink({"providers"});
  EXPECT_NE(result.out.find("No sync provider is registered on this desktop"), std::string::npos);
  EXPECT_EQ(machines_.Recorded(), "DllRegisterServer\nDllUnregisterServer\n");

  // What is no provider is refused in words, and nothing is written.
  const std::string notes = (machines_.desktopRoot() / "notes.so").string();
  ASSERT_TRUE(tbm::testing::WriteWholeFile(notes, "not a library"));
  result = machines_.DesktopLink({"register", notes});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("the module " + notes + " is not a library this program can load"),
            std::string::npos)
      << result.err;
  result = machines_.DesktopLink({"register", (machines_.desktopRoot() / "none.so").string()});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("there is no module"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace tbm::desktoplink::testing
