// Keys: creating, opening without regard to case, enumerating, deleting,
// bad paths, and the registries of the two machines.
#include "FreshRegistry.h"

namespace tbm::testing {
namespace {

using KeyTest = FreshRegistry;

TEST_F(KeyTest, CreatingMakesEveryMissingLevelAndSaysWhetherItWasNew) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE,
                            u"Windows CE Services\\synchronization\\objects\\Tabulon Mobile", 0,
                            nullptr, 0, 0, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  RegCloseKey(key);
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"windows ce services\\SYNCHRONIZATION\\Objects", 0,
                            nullptr, 0, 0, nullptr, &key, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(SubkeyNames(key), std::vector<std::u16string>{u"Tabulon Mobile"});
  RegCloseKey(key);
}

TEST_F(KeyTest, OpeningAnExistingKeyWritesNothing) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Tabulon");
  ASSERT_NE(key, nullptr);
  RegCloseKey(key);
  const std::string before = DeviceText();
  ASSERT_FALSE(before.empty());
  std::filesystem::remove(DeviceFile());
  key = Create(HKEY_LOCAL_MACHINE, u"");
  ASSERT_NE(key, nullptr) << "the hive itself";
  RegCloseKey(key);
  EXPECT_FALSE(std::filesystem::exists(DeviceFile()));
}

TEST_F(KeyTest, KeysAreFoundWithoutRegardToCaseAndKeepTheirOwnCase) {
  HKEY key = Create(HKEY_CLASSES_ROOT, u"TbmFile\\Shell\\Open\\Command");
  ASSERT_NE(key, nullptr);
  RegCloseKey(key);
  HKEY opened = Open(HKEY_CLASSES_ROOT, u"tbmfile\\shell\\open\\command");
  ASSERT_NE(opened, nullptr);
  RegCloseKey(opened);
  HKEY root = Open(HKEY_CLASSES_ROOT, nullptr);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(SubkeyNames(root), std::vector<std::u16string>{u"TbmFile"});
  RegCloseKey(root);
  EXPECT_NE(DeviceText().find("[HKEY_CLASSES_ROOT\\TbmFile\\Shell\\Open\\Command]"),
            std::string::npos);
}

TEST_F(KeyTest, OpeningAMissingKeyFails) {
  HKEY key = reinterpret_cast<HKEY>(std::uintptr_t{1});
  EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Symbol\\ScanApps", 0, KEY_READ, &key),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
}

TEST_F(KeyTest, SubkeysEnumerateInCaseBlindOrder) {
  HKEY software = Create(HKEY_LOCAL_MACHINE, u"Software");
  ASSERT_NE(software, nullptr);
  for (const char16_t* name : {u"tabulon", u"Apple", u"Zeta", u"beta", u"Äpfel"}) {
    HKEY sub = Create(software, name);
    ASSERT_NE(sub, nullptr);
    RegCloseKey(sub);
  }
  EXPECT_EQ(SubkeyNames(software),
            (std::vector<std::u16string>{u"Apple", u"beta", u"tabulon", u"Zeta", u"Äpfel"}));

  WCHAR small[4];
  DWORD chars = 4;
  EXPECT_EQ(RegEnumKeyExW(software, 2, small, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(chars, 8u) << "tabulon and its terminator";
  WCHAR name[8];
  chars = 8;
  WCHAR className[4] = {u'x', u'x', u'x', u'x'};
  DWORD classChars = 4;
  FILETIME written{1, 1};
  EXPECT_EQ(RegEnumKeyExW(software, 2, name, &chars, nullptr, className, &classChars, &written),
            ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"tabulon");
  EXPECT_EQ(chars, 7u);
  EXPECT_EQ(className[0], u'\0');
  EXPECT_EQ(classChars, 0u);
  chars = 8;
  EXPECT_EQ(RegEnumKeyExW(software, 5, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(software);
}

TEST_F(KeyTest, DeletingAKeyTakesEverythingBelowIt) {
  HKEY objects = Create(HKEY_LOCAL_MACHINE, u"Windows CE Services\\synchronization\\objects");
  ASSERT_NE(objects, nullptr);
  HKEY type = Create(objects, u"Tabulon Mobile\\Details");
  ASSERT_NE(type, nullptr);
  ASSERT_EQ(SetString(type, u"Store", u"\\Windows\\TBDevSync.dll"), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyW(objects, u"TABULON MOBILE"), ERROR_SUCCESS);
  EXPECT_EQ(Open(objects, u"Tabulon Mobile"), nullptr);
  EXPECT_TRUE(SubkeyNames(objects).empty());
  EXPECT_EQ(RegDeleteKeyW(objects, u"Tabulon Mobile"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(DeviceText().find("Store"), std::string::npos);

  // A handle on a deleted key says so.
  EXPECT_EQ(SetString(type, u"Store", u"again"), ERROR_KEY_DELETED);
  EXPECT_EQ(Query(type, u"Store"), std::nullopt);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(type, u"Store", nullptr, nullptr, nullptr, &size), ERROR_KEY_DELETED);
  EXPECT_EQ(RegCloseKey(type), ERROR_SUCCESS);
  RegCloseKey(objects);
}

TEST_F(KeyTest, AKeyCanDeleteItselfButAHiveStays) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Old");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(RegDeleteKeyW(key, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(Open(HKEY_CURRENT_USER, u"Software\\Old"), nullptr);
  EXPECT_EQ(RegDeleteKeyW(key, nullptr), ERROR_KEY_DELETED);
  RegCloseKey(key);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, nullptr), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, u""), ERROR_ACCESS_DENIED);
}

TEST_F(KeyTest, BadPathsAndHandlesAreRefused) {
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"\\Software", 0, 0, &key), ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\\\Tabulon", 0, nullptr, 0, 0, nullptr,
                            &key, nullptr),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Software\\Line\nBreak", 0, nullptr, 0, 0, nullptr,
                            &key, nullptr),
            ERROR_INVALID_PARAMETER);
  const std::u16string tooLong(256, u'k');
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, tooLong.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                            nullptr),
            ERROR_INVALID_PARAMETER);
  std::u16string tooDeep;
  for (int level = 0; level < 513; ++level) tooDeep += u"k\\";
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, tooDeep.c_str(), 0, nullptr, 0, 0, nullptr, &key,
                            nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"Software", 0, 0, nullptr), ERROR_INVALID_PARAMETER);

  HKEY made = Create(HKEY_LOCAL_MACHINE, u"Software\\Tabulon\\");
  ASSERT_NE(made, nullptr) << "a trailing backslash is allowed";
  EXPECT_EQ(RegCloseKey(made), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(made), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  const HKEY madeUp = reinterpret_cast<HKEY>(std::uintptr_t{0x1234});
  EXPECT_EQ(RegOpenKeyExW(madeUp, u"Software", 0, 0, &key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(SetDword(madeUp, u"x", 1), ERROR_INVALID_HANDLE);
}

TEST_F(KeyTest, EachMachineHasItsOwnRegistry) {
  HKEY handheld = Create(HKEY_LOCAL_MACHINE, u"Software\\Tabulon");
  ASSERT_NE(handheld, nullptr);
  ASSERT_EQ(SetString(handheld, u"Side", u"handheld"), ERROR_SUCCESS);
  RegCloseKey(handheld);

  // The desktop writes the handheld's registry explicitly.
  SelectMachine(Machine::Desktop);
  EXPECT_EQ(Open(HKEY_LOCAL_MACHINE, u"Software\\Tabulon"), nullptr);
  HKEY desktop = Create(HKEY_LOCAL_MACHINE, u"Software\\Tabulon");
  ASSERT_NE(desktop, nullptr);
  ASSERT_EQ(SetString(desktop, u"Side", u"desktop"), ERROR_SUCCESS);
  RegCloseKey(desktop);
  HKEY remoteRoot = nullptr;
  ASSERT_EQ(RegConnectMachine(Machine::Handheld, HKEY_LOCAL_MACHINE, &remoteRoot), ERROR_SUCCESS);
  HKEY remote = Create(remoteRoot, u"Software\\Tabulon");
  ASSERT_NE(remote, nullptr);
  EXPECT_EQ(QueryString(remote, u"Side"), u"handheld");
  ASSERT_EQ(SetDword(remote, u"Docked", 1), ERROR_SUCCESS);
  RegCloseKey(remote);
  RegCloseKey(remoteRoot);
  SelectMachine(Machine::Handheld);

  HKEY back = Open(HKEY_LOCAL_MACHINE, u"Software\\Tabulon");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(QueryString(back, u"Side"), u"handheld");
  EXPECT_EQ(QueryDword(back, u"Docked"), 1u);
  RegCloseKey(back);
  EXPECT_EQ(RegistryFilePath(Machine::Desktop),
            (scratch_.path() / "desktop/registry.reg").string());
  EXPECT_NE(ReadWholeFile(RegistryFilePath(Machine::Desktop)).find("\"Side\"=\"desktop\""),
            std::string::npos);

  HKEY notAHive = nullptr;
  EXPECT_EQ(
      RegConnectMachine(Machine::Desktop, reinterpret_cast<HKEY>(std::uintptr_t{5}), &notAHive),
      ERROR_INVALID_HANDLE);
}

}  // namespace
}  // namespace tbm::testing
