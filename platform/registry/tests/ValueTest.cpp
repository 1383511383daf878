// Values: each kind set and read back, the insufficient-buffer protocol,
// the default value, deleting and enumerating.
#include "FreshRegistry.h"

namespace tbm::testing {
namespace {

using ValueTest = FreshRegistry;

TEST_F(ValueTest, EachKindOfValueReadsBackAsSet) {
  HKEY scanApps = Create(HKEY_CURRENT_USER, u"Software\\Symbol\\ScanApps");
  ASSERT_NE(scanApps, nullptr);
  ASSERT_EQ(SetString(scanApps, u"Tabulon Mobile", u"\\Program Files\\Tabulon\\Tabulon Mobile.exe"),
            ERROR_SUCCESS);
  ASSERT_EQ(SetDword(scanApps, u"BarInfo", 0xFFFF), ERROR_SUCCESS);
  const std::vector<BYTE> block = {0x00, 0x01, 0x7F, 0x80, 0xFF, 0x0A, 0x0D};
  ASSERT_EQ(SetBinary(scanApps, u"Settings", block), ERROR_SUCCESS);
  const std::vector<BYTE> multi = {'A', 0, 0, 0, 'B', 0, 0, 0, 0, 0};
  ASSERT_EQ(RegSetValueExW(scanApps, u"List", 0, REG_MULTI_SZ, multi.data(), 10), ERROR_SUCCESS);
  ASSERT_EQ(RegCloseKey(scanApps), ERROR_SUCCESS);

  HKEY reopened = Open(HKEY_CURRENT_USER, u"Software\\Symbol\\ScanApps");
  ASSERT_NE(reopened, nullptr);
  EXPECT_EQ(QueryString(reopened, u"Tabulon Mobile"),
            u"\\Program Files\\Tabulon\\Tabulon Mobile.exe");
  EXPECT_EQ(QueryDword(reopened, u"BarInfo"), 0xFFFFu);
  const auto binary = Query(reopened, u"Settings");
  ASSERT_TRUE(binary);
  EXPECT_EQ(binary->first, REG_BINARY);
  EXPECT_EQ(binary->second, block);
  const auto list = Query(reopened, u"List");
  ASSERT_TRUE(list);
  EXPECT_EQ(list->first, REG_MULTI_SZ);
  EXPECT_EQ(list->second, multi);
  RegCloseKey(reopened);
}

TEST_F(ValueTest, TheDefaultValueHasNoName) {
  HKEY command = Create(HKEY_CLASSES_ROOT, u"tbmfile\\shell\\open\\command");
  ASSERT_NE(command, nullptr);
  EXPECT_EQ(Query(command, nullptr), std::nullopt) << "a new key has no default value";
  const std::u16string line = u"\"\\Program Files\\Tabulon\\Tabulon Mobile.exe\" \"%1\"";
  ASSERT_EQ(SetString(command, nullptr, line), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(command, u""), line);
  EXPECT_EQ(QueryString(command, nullptr), line);
  RegCloseKey(command);
}

TEST_F(ValueTest, ASmallBufferIsToldTheSizeNeededAndLeftAlone) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Tabulon\\Mobile");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetString(key, u"Folder", u"\\My Documents\\Tabulon"), ERROR_SUCCESS);
  const DWORD needed = (21 + 1) * 2;

  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Folder", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(type, REG_SZ);

  std::vector<BYTE> small(10, 0xCC);
  size = 10;
  EXPECT_EQ(RegQueryValueExW(key, u"Folder", nullptr, &type, small.data(), &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(small, std::vector<BYTE>(10, 0xCC));

  std::vector<BYTE> exact(needed, 0xCC);
  size = needed;
  EXPECT_EQ(RegQueryValueExW(key, u"Folder", nullptr, &type, exact.data(), &size), ERROR_SUCCESS);
  EXPECT_EQ(size, needed);
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(exact.data())),
            u"\\My Documents\\Tabulon");

  EXPECT_EQ(RegQueryValueExW(key, u"Folder", nullptr, &type, exact.data(), nullptr),
            ERROR_INVALID_PARAMETER);
  DWORD reserved = 0;
  EXPECT_EQ(RegQueryValueExW(key, u"Folder", &reserved, &type, nullptr, &size),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegQueryValueExW(key, u"Missing", nullptr, &type, nullptr, &size),
            ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(ValueTest, StringsAreCutAtTheirFirstNulAndAlwaysTerminated) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tabulon");
  ASSERT_NE(key, nullptr);
  const char16_t unterminated[] = {u'S', u'a', u'l', u'e', u's'};
  ASSERT_EQ(RegSetValueExW(key, u"A", 0, REG_SZ, reinterpret_cast<const BYTE*>(unterminated), 10),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, u"A"), u"Sales");
  const char16_t inner[] = {u'a', 0, u'b', 0};
  ASSERT_EQ(RegSetValueExW(key, u"B", 0, REG_SZ, reinterpret_cast<const BYTE*>(inner), 8),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, u"B"), u"a");
  ASSERT_EQ(RegSetValueExW(key, u"C", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"xy"), 3),
            ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, u"C"), u"x") << "an odd last byte is no character";
  ASSERT_EQ(RegSetValueExW(key, u"D", 0, REG_SZ, nullptr, 0), ERROR_SUCCESS);
  EXPECT_EQ(QueryString(key, u"D"), u"");
  RegCloseKey(key);
}

TEST_F(ValueTest, BadSetsAreRefusedAndChangeNothing) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tabulon");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetDword(key, u"Count", 7), ERROR_SUCCESS);
  const BYTE two[2] = {1, 2};
  EXPECT_EQ(RegSetValueExW(key, u"Count", 0, REG_DWORD, two, 2), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(RegSetValueExW(key, u"Count", 0, REG_BINARY, nullptr, 4), ERROR_INVALID_PARAMETER);
  const std::u16string longName(16384, u'n');
  EXPECT_EQ(SetDword(key, longName.c_str(), 1), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(QueryDword(key, u"Count"), 7u);
  RegCloseKey(key);
}

TEST_F(ValueTest, ValueNamesAreCaseBlindAndKeepTheirFirstCase) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tabulon\\Mobile");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetDword(key, u"BarInfo", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"BARINFO", 3), ERROR_SUCCESS);
  EXPECT_EQ(QueryDword(key, u"barinfo"), 3u);
  EXPECT_EQ(ValueNames(key), std::vector<std::u16string>{u"BarInfo"});
  RegCloseKey(key);
}

TEST_F(ValueTest, DeletedValuesAreGone) {
  HKEY key = Create(HKEY_CURRENT_USER, u"Software\\Tabulon\\Mobile");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetDword(key, u"BarInfo", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, nullptr, u"default"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueW(key, u"barinfo"), ERROR_SUCCESS);
  EXPECT_EQ(QueryDword(key, u"BarInfo"), std::nullopt);
  EXPECT_EQ(RegDeleteValueW(key, u"BarInfo"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteValueW(key, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(Query(key, nullptr), std::nullopt);
  EXPECT_EQ(DeviceText().find("BarInfo"), std::string::npos);
  RegCloseKey(key);
}

TEST_F(ValueTest, ValuesEnumerateInTheOrderTheyWereFirstSet) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Tabulon");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetString(key, u"Zeta", u"last letter"), ERROR_SUCCESS);
  ASSERT_EQ(SetDword(key, u"Alpha", 1), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, nullptr, u"default"), ERROR_SUCCESS);
  ASSERT_EQ(SetString(key, u"Zeta", u"changed, not moved"), ERROR_SUCCESS);

  std::vector<std::u16string> names;
  std::vector<DWORD> types;
  for (DWORD index = 0;; ++index) {
    WCHAR name[16];
    DWORD chars = 16;
    DWORD type = 0;
    BYTE data[64];
    DWORD bytes = sizeof data;
    const LONG result = RegEnumValueW(key, index, name, &chars, nullptr, &type, data, &bytes);
    if (result == ERROR_NO_MORE_ITEMS) break;
    ASSERT_EQ(result, ERROR_SUCCESS);
    EXPECT_EQ(chars, std::u16string(name).size());
    names.emplace_back(name);
    types.push_back(type);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Zeta", u"Alpha", u""}));
  EXPECT_EQ(types, (std::vector<DWORD>{REG_SZ, REG_DWORD, REG_SZ}));
  RegCloseKey(key);
}

TEST_F(ValueTest, EnumeratingIntoSmallBuffersGivesTheSizesNeeded) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, u"Software\\Tabulon");
  ASSERT_NE(key, nullptr);
  ASSERT_EQ(SetString(key, u"Install Folder", u"\\Program Files\\Tabulon"), ERROR_SUCCESS);

  WCHAR name[4] = {u'#', u'#', u'#', u'#'};
  DWORD chars = 4;
  DWORD bytes = 0;
  EXPECT_EQ(RegEnumValueW(key, 0, name, &chars, nullptr, nullptr, nullptr, &bytes),
            ERROR_MORE_DATA);
  EXPECT_EQ(chars, 15u);
  EXPECT_EQ(bytes, 46u);
  EXPECT_EQ(name[0], u'#');

  WCHAR fullName[15];
  chars = 15;
  BYTE data[8];
  bytes = sizeof data;
  EXPECT_EQ(RegEnumValueW(key, 0, fullName, &chars, nullptr, nullptr, data, &bytes),
            ERROR_MORE_DATA);
  EXPECT_EQ(bytes, 46u);

  EXPECT_EQ(RegEnumValueW(key, 0, nullptr, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(key);
}

}  // namespace
}  // namespace tbm::testing
