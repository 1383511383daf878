// The desktop's registry calls on the handheld through the real device
// connection service: keys made, values set, read with the buffer rules and
// listed, deleted, and the handheld's registry file holding the result.
#include <cstring>

#include "DeviceLinkFixture.h"
#include "Utf16.h"

namespace tbm::rapi {
namespace {

std::u16string ValueText(const BYTE* data, DWORD bytes) {
  std::u16string text(bytes / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);
  return text;
}

TEST_F(DeviceLinkTest, RegistryKeysAndValuesAreMadeReadListedAndDeletedOnTheHandheld) {
  std::unique_ptr<Service> service = Connect();
  HKEY sync = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(CeRegCreateKeyEx(HKEY_LOCAL_MACHINE, u"Software\\Tabulon\\Sync", 0, nullptr, 0,
                             KEY_ALL_ACCESS, nullptr, &sync, &disposition),
            ERROR_SUCCESS)
      << RapiFailureText();
  EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
  HKEY again = nullptr;
  ASSERT_EQ(CeRegCreateKeyEx(HKEY_LOCAL_MACHINE, u"software\\TABULON\\sync", 0, nullptr, 0,
                             KEY_ALL_ACCESS, nullptr, &again, &disposition),
            ERROR_SUCCESS);
  EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
  EXPECT_EQ(CeRegCloseKey(again), ERROR_SUCCESS);
  EXPECT_EQ(CeRegCloseKey(again), ERROR_INVALID_HANDLE);

  const std::u16string server = u"Front desk";
  const DWORD interval = 15;
  const BYTE blob[] = {1, 2, 3, 4, 5};
  ASSERT_EQ(
      CeRegSetValueEx(sync, u"Server", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.data()),
                      static_cast<DWORD>(server.size() * 2)),
      ERROR_SUCCESS);
  ASSERT_EQ(
      CeRegSetValueEx(sync, u"Interval", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&interval), 4),
      ERROR_SUCCESS);
  ASSERT_EQ(CeRegSetValueEx(sync, u"Blob", 0, REG_BINARY, blob, sizeof blob), ERROR_SUCCESS);
  EXPECT_EQ(CeRegSetValueEx(sync, u"Odd", 0, REG_DWORD, blob, 3), ERROR_INVALID_PARAMETER);

  // The size alone, a buffer too small (nothing stored), then the value.
  DWORD type = 0, bytes = 0;
  EXPECT_EQ(CeRegQueryValueEx(sync, u"server", nullptr, &type, nullptr, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(type, REG_SZ);
  EXPECT_EQ(bytes, 22u);  // ten characters and the terminator
  BYTE data[64];
  std::memset(data, 0xAB, sizeof data);
  bytes = 8;
  EXPECT_EQ(CeRegQueryValueEx(sync, u"Server", nullptr, &type, data, &bytes), ERROR_MORE_DATA);
  EXPECT_EQ(bytes, 22u);
  EXPECT_EQ(data[0], 0xAB);
  bytes = sizeof data;
  ASSERT_EQ(CeRegQueryValueEx(sync, u"Server", nullptr, &type, data, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(ValueText(data, bytes), server + u'\0');
  bytes = sizeof data;
  EXPECT_EQ(CeRegQueryValueEx(sync, u"Missing", nullptr, &type, data, &bytes),
            ERROR_FILE_NOT_FOUND);

  HKEY profiles = nullptr;
  ASSERT_EQ(
      CeRegCreateKeyEx(sync, u"Profiles\\Alpha", 0, nullptr, 0, 0, nullptr, &profiles, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(CeCloseHandle(profiles), TRUE);  // a key is a handle like any other
  ASSERT_EQ(
      CeRegCreateKeyEx(sync, u"Profiles\\beta", 0, nullptr, 0, 0, nullptr, &profiles, nullptr),
      ERROR_SUCCESS);
  EXPECT_EQ(CeRegCloseKey(profiles), ERROR_SUCCESS);
  ASSERT_EQ(CeRegOpenKeyEx(sync, u"Profiles", 0, KEY_READ, &profiles), ERROR_SUCCESS);
  WCHAR name[64];
  DWORD chars = 3;
  EXPECT_EQ(CeRegEnumKeyEx(profiles, 0, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  EXPECT_EQ(chars, 6u);
  std::vector<std::u16string> keys;
  for (DWORD index = 0;; ++index) {
    chars = 64;
    FILETIME written{1, 1};
    const LONG result =
        CeRegEnumKeyEx(profiles, index, name, &chars, nullptr, nullptr, nullptr, &written);
    if (result != ERROR_SUCCESS) {
      EXPECT_EQ(result, ERROR_NO_MORE_ITEMS);
      break;
    }
    EXPECT_EQ(chars, Utf16Length(name));
    keys.emplace_back(name);
  }
  EXPECT_EQ(keys, (std::vector<std::u16string>{u"Alpha", u"beta"}));

  // Values in the order they were set; a DWORD that does not fit.
  chars = 64;
  bytes = sizeof data;
  ASSERT_EQ(CeRegEnumValue(sync, 1, name, &chars, nullptr, &type, data, &bytes), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(name), u"Interval");
  EXPECT_EQ(type, REG_DWORD);
  EXPECT_EQ(bytes, 4u);
  EXPECT_EQ(std::memcmp(data, &interval, 4), 0);
  chars = 64;
  bytes = 2;
  EXPECT_EQ(CeRegEnumValue(sync, 1, name, &chars, nullptr, &type, data, &bytes), ERROR_MORE_DATA);
  EXPECT_EQ(bytes, 4u);
  chars = 64;
  EXPECT_EQ(CeRegEnumValue(sync, 3, name, &chars, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  EXPECT_EQ(CeRegDeleteValue(sync, u"Blob"), ERROR_SUCCESS);
  EXPECT_EQ(CeRegDeleteValue(sync, u"Blob"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CeRegDeleteKey(profiles, u"BETA"), ERROR_SUCCESS);
  EXPECT_EQ(CeRegOpenKeyEx(profiles, u"beta", 0, 0, &again), ERROR_FILE_NOT_FOUND);

  // Handles that are not open keys: never given, another kind, closed.
  EXPECT_EQ(CeRegQueryValueEx(reinterpret_cast<HKEY>(std::uintptr_t{777}), u"Server", nullptr,
                              nullptr, nullptr, nullptr),
            ERROR_INVALID_HANDLE);
  HANDLE file =
      CeCreateFile(u"\\Temp\\k.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(CeRegSetValueEx(reinterpret_cast<HKEY>(file), u"x", 0, REG_BINARY, blob, 1),
            ERROR_INVALID_HANDLE);
  EXPECT_EQ(CeRegCloseKey(reinterpret_cast<HKEY>(file)), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(CeCloseHandle(file));
  EXPECT_EQ(CeRegCloseKey(profiles), ERROR_SUCCESS);
  EXPECT_EQ(CeRegCloseKey(sync), ERROR_SUCCESS);
  EXPECT_EQ(CeRegSetValueEx(sync, u"Late", 0, REG_BINARY, blob, 1), ERROR_INVALID_HANDLE);
  EXPECT_EQ(CeRegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);
  EXPECT_EQ(CeRapiGetError(), S_OK);
  EXPECT_EQ(service->End(SIGTERM), 0) << service->err;

  // The handheld's registry file holds the result; the desktop's does not.
  const std::string device = tbm::testing::ReadWholeFile(device_.path() / "registry.reg");
  EXPECT_NE(device.find("[HKEY_LOCAL_MACHINE\\Software\\Tabulon\\Sync]"), std::string::npos)
      << device;
  EXPECT_NE(device.find("\"Server\"=\"Front desk\""), std::string::npos) << device;
  EXPECT_NE(device.find("\"Interval\"=dword:0000000f"), std::string::npos) << device;
  EXPECT_NE(device.find("Sync\\Profiles\\Alpha]"), std::string::npos) << device;
  EXPECT_EQ(device.find("Blob"), std::string::npos) << device;
  EXPECT_EQ(device.find("beta"), std::string::npos) << device;
  EXPECT_EQ(device.find("Late"), std::string::npos) << device;
  const std::string desktop = tbm::testing::ReadWholeFile(desktop_.path() / "registry.reg");
  EXPECT_EQ(desktop.find("Tabulon\\Sync"), std::string::npos);

  // A service gone: the call's result says the connection is lost.
  EXPECT_NE(CeRegOpenKeyEx(HKEY_LOCAL_MACHINE, u"Software", 0, 0, &again), ERROR_SUCCESS);
  EXPECT_NE(CeRapiGetError(), S_OK);
}

}  // namespace
}  // namespace tbm::rapi
