// The desktop's settings for its paired handheld, kept per partnership in a
// fresh desktop registry.
#include <gtest/gtest.h>

#include "CeUtil.h"
#include "Machine.h"
#include "Partnership.h"
#include "TestSupport.h"

namespace tbm::rapi {
namespace {

class CeUtilTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    SelectMachine(Machine::Desktop);
  }

  void Partner(const std::string& id) {
    DesktopPartnership partnership;
    partnership.partnerId = id;
    partnership.key.assign(kPskBytes, 7);
    ASSERT_TRUE(SaveDesktopPartnership(partnership).ok());
  }

  DWORD Get(HCESVC key, const char16_t* name) {
    DWORD value = 99;
    EXPECT_EQ(CeSvcGetDword(key, name, &value), static_cast<LONG>(ERROR_SUCCESS));
    return value;
  }

  tbm::testing::ScratchFolder folder_{"tbm-ceutil"};
  tbm::testing::ScopedEnvironment root_{"TBM_DESKTOP_ROOT", folder_.path().c_str()};
};

TEST_F(CeUtilTest, AnUnpairedDesktopHasNoHandheldSettings) {
  HCESVC key = reinterpret_cast<HCESVC>(1);
  EXPECT_EQ(CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, TRUE, &key),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(key, nullptr);
  EXPECT_EQ(CeSvcOpen(3, nullptr, TRUE, &key), static_cast<LONG>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, TRUE, nullptr),
            static_cast<LONG>(ERROR_INVALID_PARAMETER));
  DWORD value = 0;
  EXPECT_EQ(CeSvcGetDword(nullptr, kUpdateOnDocking, &value),
            static_cast<LONG>(ERROR_INVALID_HANDLE));
}

TEST_F(CeUtilTest, SettingsAreKeptPerPartnershipAndDefaultsFillOnlyWhatIsMissing) {
  Partner("00c0ffee12345678");
  HCESVC key = nullptr;
  ASSERT_EQ(CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, FALSE, &key),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND))
      << "nothing is there before the defaults are written";

  ASSERT_EQ(CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, TRUE, &key),
            static_cast<LONG>(ERROR_SUCCESS));
  ASSERT_EQ(CeSvcSetDword(key, kContinuouslyUpdate, 1), static_cast<LONG>(ERROR_SUCCESS));
  DWORD missing = 0;
  EXPECT_EQ(CeSvcGetDword(key, kUpdateOnDocking, &missing),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(CeSvcClose(key), static_cast<LONG>(ERROR_SUCCESS));

  ASSERT_TRUE(EnsureDeviceSettings("00c0ffee12345678").ok());
  ASSERT_EQ(CeSvcOpen(CESVC_DEVICE_SELECTED, u"", FALSE, &key), static_cast<LONG>(ERROR_SUCCESS));
  EXPECT_EQ(Get(key, kUpdateOnDocking), 1u) << "the missing default is written";
  EXPECT_EQ(Get(key, kContinuouslyUpdate), 1u) << "the value already set is kept";
  EXPECT_EQ(CeSvcSetDword(key, kUpdateOnDocking, 0), static_cast<LONG>(ERROR_SUCCESS));
  EXPECT_EQ(Get(key, kUpdateOnDocking), 0u);
  CeSvcClose(key);

  // A value of another type is not a setting; the defaults replace it.
  const std::u16string path = DeviceSettingsKey("00c0ffee12345678");
  ASSERT_EQ(RegSetString(HKEY_CURRENT_USER, path.c_str(), kUpdateOnDocking, u"yes"), ERROR_SUCCESS);
  ASSERT_EQ(CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, FALSE, &key),
            static_cast<LONG>(ERROR_SUCCESS));
  DWORD value = 0;
  EXPECT_EQ(CeSvcGetDword(key, kUpdateOnDocking, &value), static_cast<LONG>(ERROR_INVALID_DATA));
  CeSvcClose(key);
  ASSERT_TRUE(EnsureDeviceSettings("00c0ffee12345678").ok());

  // Another partnership starts from nothing; the first one's settings stay.
  Partner("0123456789abcdef");
  ASSERT_EQ(CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, FALSE, &key),
            static_cast<LONG>(ERROR_FILE_NOT_FOUND));
  ASSERT_EQ(CeSvcOpen(CESVC_DEVICE_SELECTED, u"Sub\\Folder", TRUE, &key),
            static_cast<LONG>(ERROR_SUCCESS));
  CeSvcClose(key);
  Partner("00c0ffee12345678");
  ASSERT_EQ(CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, FALSE, &key),
            static_cast<LONG>(ERROR_SUCCESS));
  EXPECT_EQ(Get(key, kUpdateOnDocking), 1u);
  EXPECT_EQ(Get(key, kContinuouslyUpdate), 1u);
  CeSvcClose(key);
}

}  // namespace
}  // namespace tbm::rapi
