#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "DevicePath.h"
#include "FreshDevice.h"

namespace tbm {
namespace {

using testing::FreshDevice;
using testing::ScopedEnvironment;

using FsDeviceRoot = FreshDevice;
using FsDevicePath = FreshDevice;

TEST_F(FsDeviceRoot, ComesFromTheEnvironmentWhenSet) {
  EXPECT_EQ(DeviceRoot(), root_);
  ScopedEnvironment other("TBM_DEVICE_ROOT", (scratch_ + "/second handheld/").c_str());
  EXPECT_EQ(DeviceRoot(), scratch_ + "/second handheld") << "no trailing slash";
}

TEST_F(FsDeviceRoot, FallsBackToTheXdgDataFolder) {
  ScopedEnvironment noRoot("TBM_DEVICE_ROOT", nullptr);
  ScopedEnvironment data("XDG_DATA_HOME", (scratch_ + "/data").c_str());
  EXPECT_EQ(DeviceRoot(), scratch_ + "/data/tabulon/device");
}

TEST_F(FsDeviceRoot, FallsBackToHomeWhenXdgIsUnsetOrRelative) {
  ScopedEnvironment noRoot("TBM_DEVICE_ROOT", nullptr);
  ScopedEnvironment home("HOME", (scratch_ + "/home/anna").c_str());
  {
    ScopedEnvironment noData("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(DeviceRoot(), scratch_ + "/home/anna/.local/share/tabulon/device");
  }
  ScopedEnvironment relative("XDG_DATA_HOME", "relative/data");
  EXPECT_EQ(DeviceRoot(), scratch_ + "/home/anna/.local/share/tabulon/device");
}

TEST_F(FsDeviceRoot, AFreshDeviceGetsMyDocumentsAndTemp) {
  EXPECT_FALSE(HostExists(root_));
  ASSERT_EQ(PrepareDeviceRoot(), ERROR_SUCCESS);
  EXPECT_TRUE(std::filesystem::is_directory(Host("My Documents")));
  EXPECT_TRUE(std::filesystem::is_directory(Host("Temp")));
}

TEST_F(FsDeviceRoot, StandardFoldersInAnotherCaseAreNotDuplicated) {
  MakeHostFolder(Host("my documents"));
  ASSERT_EQ(PrepareDeviceRoot(), ERROR_SUCCESS);
  EXPECT_FALSE(HostExists(Host("My Documents")));
}

TEST_F(FsDeviceRoot, TempFolderIsCreatedOnDemand) {
  ASSERT_EQ(PrepareDeviceRoot(), ERROR_SUCCESS);
  std::filesystem::remove(Host("Temp"));
  const MappedPath temp = DeviceTempFolder();
  ASSERT_TRUE(temp) << DescribeError(temp.error);
  EXPECT_EQ(temp.hostPath, Host("Temp"));
  EXPECT_TRUE(std::filesystem::is_directory(temp.hostPath));
}

TEST_F(FsDeviceRoot, TempFolderThatIsAFileIsAnError) {
  WriteHostFile(Host("Temp"), "not a folder");
  const MappedPath temp = DeviceTempFolder();
  EXPECT_FALSE(temp);
  EXPECT_EQ(temp.error, ERROR_DIRECTORY);
}

TEST_F(FsDevicePath, BackslashPathsResolveInsideTheRoot) {
  const MappedPath mapped = HostPathFromDevicePath(u"\\My Documents\\Tabulon\\Sales.tbm");
  ASSERT_TRUE(mapped) << DescribeError(mapped.error);
  EXPECT_EQ(mapped.hostPath, Host("My Documents/Tabulon/Sales.tbm"));
}

TEST_F(FsDevicePath, RootAndRelativeAndDoubledSeparatorsAllMapInsideTheRoot) {
  EXPECT_EQ(HostPathFromDevicePath(u"\\").hostPath, root_);
  EXPECT_EQ(HostPathFromDevicePath(u"Sales.tbm").hostPath, Host("Sales.tbm"));
  EXPECT_EQ(HostPathFromDevicePath(u"\\\\My Documents\\.\\\\Sales.tbm\\").hostPath,
            Host("My Documents/Sales.tbm"));
}

TEST_F(FsDevicePath, ExistingEntriesAreFoundWhateverTheCase) {
  WriteHostFile(Host("My Documents/Tabulon/Sales.tbm"), "x");
  const MappedPath mapped = HostPathFromDevicePath(u"\\MY DOCUMENTS\\tabulon\\SALES.TBM");
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped.hostPath, Host("My Documents/Tabulon/Sales.tbm"));
}

TEST_F(FsDevicePath, CaseBlindnessCoversAccentedAndGreekLetters) {
  WriteHostFile(Host("My Documents/Kunden Übersicht.tbm"), "x");
  WriteHostFile(Host("My Documents/ΣΥΝΕΡΓΑΤΕΣ.tbm"), "x");
  EXPECT_EQ(HostPathFromDevicePath(u"\\my documents\\KUNDEN ÜBERSICHT.TBM").hostPath,
            Host("My Documents/Kunden Übersicht.tbm"));
  EXPECT_EQ(HostPathFromDevicePath(u"\\My Documents\\συνεργατες.tbm").hostPath,
            Host("My Documents/ΣΥΝΕΡΓΑΤΕΣ.tbm"));
}

TEST_F(FsDevicePath, NewComponentsKeepTheCaseGiven) {
  MakeHostFolder(Host("My Documents"));
  EXPECT_EQ(HostPathFromDevicePath(u"\\my documents\\New Folder\\Lager 東京.tbm").hostPath,
            Host("My Documents/New Folder/Lager 東京.tbm"));
}

TEST_F(FsDevicePath, TheExactSpellingWinsOverOthers) {
  WriteHostFile(Host("sales.tbm"), "lower");
  WriteHostFile(Host("Sales.tbm"), "capital");
  WriteHostFile(Host("SALES.TBM"), "upper");
  EXPECT_EQ(HostPathFromDevicePath(u"\\sales.tbm").hostPath, Host("sales.tbm"));
  EXPECT_EQ(HostPathFromDevicePath(u"\\Sales.tbm").hostPath, Host("Sales.tbm"));
  // No exact spelling: the byte-wise first one, whatever the listing order.
  EXPECT_EQ(HostPathFromDevicePath(u"\\sALES.tbm").hostPath, Host("SALES.TBM"));
}

TEST_F(FsDevicePath, DotDotIsRefusedWhereverItStands) {
  for (const std::u16string_view path :
       {u"..", u"\\..\\etc\\passwd", u"\\My Documents\\..\\..\\outside.tbm", u"\\My Documents\\..",
        u"Temp\\..\\Sales.tbm"}) {
    const MappedPath mapped = HostPathFromDevicePath(path);
    EXPECT_FALSE(mapped) << Utf16ToUtf8(path);
    EXPECT_EQ(mapped.error, ERROR_INVALID_NAME) << Utf16ToUtf8(path);
    EXPECT_TRUE(mapped.hostPath.empty());
  }
  EXPECT_FALSE(HostExists(root_)) << "a refused path changes nothing";
}

TEST_F(FsDevicePath, ASymbolicLinkLeadingOutsideIsRefused) {
  MakeHostFolder(scratch_ + "/outside");
  ASSERT_EQ(PrepareDeviceRoot(), ERROR_SUCCESS);
  std::filesystem::create_directory_symlink(scratch_ + "/outside", Host("My Documents/Escape"));
  const MappedPath mapped = HostPathFromDevicePath(u"\\My Documents\\Escape\\Sales.tbm");
  EXPECT_FALSE(mapped);
  EXPECT_EQ(mapped.error, ERROR_ACCESS_DENIED);
}

TEST_F(FsDevicePath, ASymbolicLinkStayingInsideIsFollowed) {
  MakeHostFolder(Host("My Documents/Tabulon"));
  std::filesystem::create_directory_symlink(Host("My Documents/Tabulon"), Host("Shortcut"));
  EXPECT_TRUE(HostPathFromDevicePath(u"\\Shortcut\\Sales.tbm"));
}

TEST_F(FsDevicePath, NamesWithForbiddenCharactersAreRefused) {
  for (const std::u16string_view path : {u"\\C:\\Sales.tbm", u"\\Sales*.tbm", u"\\What?.tbm",
                                         u"\\a|b", u"\\<x>", u"\\\"q\"", u"\\tab\there"}) {
    EXPECT_EQ(HostPathFromDevicePath(path).error, ERROR_INVALID_NAME) << Utf16ToUtf8(path);
  }
  const char16_t withNul[] = {u'\\', u'a', 0, u'b'};
  EXPECT_EQ(HostPathFromDevicePath(std::u16string_view(withNul, 4)).error, ERROR_INVALID_NAME);
}

TEST_F(FsDevicePath, EmptyAndOverlongPathsAreRefused) {
  EXPECT_EQ(HostPathFromDevicePath(u"").error, ERROR_PATH_NOT_FOUND);
  const std::u16string longest = u"\\" + std::u16string(MAX_PATH - 2, u'a');
  EXPECT_TRUE(HostPathFromDevicePath(longest).error != ERROR_FILENAME_EXCED_RANGE);
  EXPECT_EQ(HostPathFromDevicePath(longest + u"b").error, ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(FsDevicePath, HostPathsAreUsedAsTheyAre) {
  EXPECT_EQ(HostPathFromDevicePath(u"/srv/exchange/Sales.tbm").hostPath, "/srv/exchange/Sales.tbm");
  EXPECT_EQ(HostPathFromDevicePath(u"backup/../Kunden Übersicht.tbm").hostPath,
            "backup/../Kunden Übersicht.tbm");
  EXPECT_EQ(HostPathFromDevicePath(u"/tmp/odd\\name").hostPath, "/tmp/odd\\name");
  EXPECT_FALSE(HostExists(root_)) << "host paths do not touch the device";
}

TEST_F(FsDevicePath, HostPathsInsideTheRootGiveTheirHandheldSpelling) {
  EXPECT_EQ(DevicePathFromHostPath(Host("My Documents/Tabulon/Sales.tbm")),
            u"\\My Documents\\Tabulon\\Sales.tbm");
  EXPECT_EQ(DevicePathFromHostPath(root_), u"\\");
  EXPECT_EQ(DevicePathFromHostPath(root_ + "/"), u"\\");
  EXPECT_EQ(DevicePathFromHostPath(Host("Temp/../Lager 東京.tbm")), u"\\Lager 東京.tbm");
}

TEST_F(FsDevicePath, HostPathsOutsideTheRootHaveNoHandheldSpelling) {
  EXPECT_EQ(DevicePathFromHostPath(scratch_ + "/elsewhere.tbm"), std::nullopt);
  EXPECT_EQ(DevicePathFromHostPath(root_ + "-sibling/Sales.tbm"), std::nullopt);
  EXPECT_EQ(DevicePathFromHostPath(Host("../Sales.tbm")), std::nullopt);
  EXPECT_EQ(DevicePathFromHostPath(Host("odd\\name.tbm")), std::nullopt);
  EXPECT_EQ(DevicePathFromHostPath(""), std::nullopt);
}

TEST_F(FsDevicePath, AHostPathThroughALinkToTheRootIsRecognised) {
  ASSERT_EQ(PrepareDeviceRoot(), ERROR_SUCCESS);
  std::filesystem::create_directory_symlink(root_, scratch_ + "/alias");
  EXPECT_EQ(DevicePathFromHostPath(scratch_ + "/alias/My Documents"), u"\\My Documents");
}

TEST_F(FsDevicePath, MappingThereAndBackGivesTheSameFile) {
  WriteHostFile(Host("My Documents/Tabulon/Kunden Übersicht.tbm"), "x");
  const MappedPath mapped =
      HostPathFromDevicePath(u"\\my documents\\tabulon\\kunden übersicht.tbm");
  ASSERT_TRUE(mapped);
  EXPECT_EQ(DevicePathFromHostPath(mapped.hostPath),
            u"\\My Documents\\Tabulon\\Kunden Übersicht.tbm");
}

}  // namespace
}  // namespace tbm
