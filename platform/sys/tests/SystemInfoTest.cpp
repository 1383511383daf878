// The version and platform type a device reports: a Pocket PC on Windows
// CE 3.0 unless the device's registry describes another device.
#include <gtest/gtest.h>

#include <string>

#include "Registry.h"
#include "SystemInfo.h"
#include "TestSupport.h"

namespace {

class SystemInfoTest : public ::testing::Test {
 protected:
  void SetNumber(const char16_t* name, DWORD value) {
    HKEY key = CreatePlatformKey();
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                             sizeof value),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  void SetText(const char16_t* name, const std::u16string& text) {
    HKEY key = CreatePlatformKey();
    ASSERT_EQ(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>((text.size() + 1) * sizeof(char16_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  static OSVERSIONINFOW Version() {
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_TRUE(GetVersionExW(&info));
    return info;
  }
  static std::u16string PlatformType() {
    WCHAR buffer[260];
    EXPECT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 260, buffer, 0));
    return buffer;
  }

 private:
  HKEY CreatePlatformKey() {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Platform", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    return key;
  }

  tbm::testing::ScratchFolder root_{"tbm-sys-test"};
  tbm::testing::ScopedEnvironment device_{"TBM_DEVICE_ROOT", root_.path().c_str()};
};

TEST_F(SystemInfoTest, ADeviceWithoutSettingsIsAPocketPcOnWindowsCe3) {
  const OSVERSIONINFOW info = Version();
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_CE);
  EXPECT_EQ(info.dwMajorVersion, 3u);
  EXPECT_EQ(info.dwMinorVersion, 0u);
  EXPECT_EQ(info.szCSDVersion[0], 0);
  EXPECT_EQ(PlatformType(), u"PocketPC");
}

TEST_F(SystemInfoTest, TheDevicesRegistryDescribesAnotherDevice) {
  SetNumber(u"OSMajor", 4);
  SetNumber(u"OSMinor", 21);
  SetNumber(u"OSBuild", 1088);
  SetNumber(u"PlatformId", 2);
  SetText(u"Type", u"Palm PC2");
  OSVERSIONINFOW info = Version();
  EXPECT_EQ(info.dwMajorVersion, 4u);
  EXPECT_EQ(info.dwMinorVersion, 21u);
  EXPECT_EQ(info.dwBuildNumber, 1088u);
  EXPECT_EQ(info.dwPlatformId, 2u);
  EXPECT_EQ(PlatformType(), u"Palm PC2");

  // A value of the wrong type says nothing: the default stands.
  SetText(u"OSMajor", u"5");
  SetNumber(u"Type", 7);
  info = Version();
  EXPECT_EQ(info.dwMajorVersion, 3u);
  EXPECT_EQ(info.dwMinorVersion, 21u);
  EXPECT_EQ(PlatformType(), u"PocketPC");

  // A long type of any script comes back whole.
  const std::u16string longType = u"ハンドヘルド " + std::u16string(300, u'x');
  SetText(u"Type", longType);
  WCHAR buffer[400];
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 400, buffer, 0));
  EXPECT_EQ(std::u16string(buffer), longType);
}

TEST_F(SystemInfoTest, BadArgumentsAreRefusedAndShortBuffersCut) {
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info - 1;
  info.dwMajorVersion = 77;
  SetLastError(0);
  EXPECT_FALSE(GetVersionExW(&info));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(info.dwMajorVersion, 77u);
  EXPECT_FALSE(GetVersionExW(nullptr));

  WCHAR buffer[8] = {u'a', u'a', u'a', u'a', u'a', u'a', u'a', u'a'};
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETPLATFORMTYPE + 1, 8, buffer, 0));
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 0, buffer, 0));
  EXPECT_FALSE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 8, nullptr, 0));
  EXPECT_EQ(buffer[0], u'a');

  SetLastError(0);
  ASSERT_TRUE(SystemParametersInfoW(SPI_GETPLATFORMTYPE, 5, buffer, 0));
  EXPECT_EQ(std::u16string(buffer), u"Pock");
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(buffer[5], u'a') << "nothing written past the size given";
}

}  // namespace
