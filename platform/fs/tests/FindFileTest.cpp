#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "FileCalls.h"
#include "FindFile.h"
#include "FreshDevice.h"

namespace tbm {
namespace {

// A handheld with the folder a Tabulon user has after some weeks of use.
class FsFindFile : public testing::FreshDevice {
 protected:
  void SetUp() override {
    FreshDevice::SetUp();
    const std::string folder = Host("My Documents/Tabulon/");
    WriteHostFile(folder + "Sales.tbm", std::string(1500, 's'));
    WriteHostFile(folder + "Kunden Übersicht.tbm", "customers");
    WriteHostFile(folder + "東京 顧客.tbm", "tokyo");
    WriteHostFile(folder + "INVENTORY.TBM", "stock");
    WriteHostFile(folder + "notes.txt", "remember the milk");
    WriteHostFile(folder + "README", "no extension");
    MakeHostFolder(folder + "Archiv");
  }

  // Every name a search reports, to its end; checks the end says 18.
  static std::vector<std::u16string> AllNames(const char16_t* pattern) {
    std::vector<std::u16string> names;
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
      names.emplace_back(data.cFileName);
    } while (FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
    EXPECT_TRUE(FindClose(search));
    return names;
  }
};

using Names = std::vector<std::u16string>;

TEST_F(FsFindFile, StarDotTbmFindsEveryDatabaseInNameOrderWhateverTheCase) {
  EXPECT_EQ(AllNames(u"\\My Documents\\Tabulon\\*.tbm"),
            (Names{u"INVENTORY.TBM", u"Kunden Übersicht.tbm", u"Sales.tbm", u"東京 顧客.tbm"}));
}

TEST_F(FsFindFile, TheFolderPartIsCaseBlindToo) {
  EXPECT_EQ(AllNames(u"\\MY DOCUMENTS\\tabulon\\*.TBM").size(), 4u);
}

TEST_F(FsFindFile, EnumerationEndsWithNoMoreFilesAndStaysEnded) {
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(u"\\My Documents\\Tabulon\\S*.tbm", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), u"Sales.tbm");
  for (int call = 0; call < 3; ++call) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(FindNextFileW(search, &data));
    EXPECT_EQ(GetLastError(), 18u) << "callers compare against the number itself";
  }
  EXPECT_TRUE(FindClose(search));
}

TEST_F(FsFindFile, QuestionMarkStandsForExactlyOneCharacter) {
  EXPECT_EQ(AllNames(u"\\My Documents\\Tabulon\\Sale?.tbm"), (Names{u"Sales.tbm"}));
  EXPECT_TRUE(AllNames(u"\\My Documents\\Tabulon\\Sal?.tbm").empty());
  EXPECT_EQ(AllNames(u"\\My Documents\\Tabulon\\?? ??.tbm"), (Names{u"東京 顧客.tbm"}));
}

TEST_F(FsFindFile, StarMatchesEverythingIncludingFolders) {
  EXPECT_EQ(AllNames(u"\\My Documents\\Tabulon\\*"),
            (Names{u"Archiv", u"INVENTORY.TBM", u"Kunden Übersicht.tbm", u"notes.txt", u"README",
                   u"Sales.tbm", u"東京 顧客.tbm"}));
}

TEST_F(FsFindFile, StarDotStarAlsoMatchesNamesWithoutADot) {
  EXPECT_EQ(AllNames(u"\\My Documents\\Tabulon\\*.*").size(), 7u);
  EXPECT_EQ(AllNames(u"\\My Documents\\Tabulon\\readme.*"), (Names{u"README"}));
}

TEST_F(FsFindFile, ALiteralNameFindsThatOneEntry) {
  EXPECT_EQ(AllNames(u"\\My Documents\\Tabulon\\kunden übersicht.TBM"),
            (Names{u"Kunden Übersicht.tbm"}));
  EXPECT_EQ(AllNames(u"\\my documents\\tabulon"), (Names{u"Tabulon"}));
}

TEST_F(FsFindFile, APatternWithoutAFolderSearchesTheRoot) {
  EXPECT_EQ(AllNames(u"*"), (Names{u"My Documents", u"Temp"}));
  EXPECT_EQ(AllNames(u"\\t*"), (Names{u"Temp"}));
}

TEST_F(FsFindFile, FindDataDescribesTheEntry) {
  const time_t before = std::time(nullptr);
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(u"\\My Documents\\Tabulon\\sales.tbm", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(data.nFileSizeHigh, 0u);
  EXPECT_EQ(data.nFileSizeLow, 1500u);
  // 100 ns ticks since 1601: seconds since 1970 plus the 369 years between.
  const std::uint64_t ticks = (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                              data.ftLastWriteTime.dwLowDateTime;
  const auto seconds = static_cast<std::int64_t>(ticks / 10'000'000) - 11644473600;
  EXPECT_GE(seconds, before - 5);
  EXPECT_LE(seconds, before + 5);
  EXPECT_TRUE(FindClose(search));

  search = FindFirstFileW(u"\\My Documents\\Tabulon\\Archiv", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(data.nFileSizeLow, 0u);
  EXPECT_TRUE(FindClose(search));
}

TEST_F(FsFindFile, NoMatchIsFileNotFound) {
  WIN32_FIND_DATAW data;
  EXPECT_EQ(FindFirstFileW(u"\\My Documents\\Tabulon\\*.xls", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileW(u"\\My Documents\\Tabulon\\", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST_F(FsFindFile, AMissingFolderIsPathNotFound) {
  WIN32_FIND_DATAW data;
  EXPECT_EQ(FindFirstFileW(u"\\My Documents\\Fehlt\\*.tbm", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(FindFirstFileW(u"\\My Documents\\Tabulon\\Sales.tbm\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(FindFirstFileW(u"", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FsFindFile, PatternsThatLeaveTheRootOrHoldBadCharactersAreRefused) {
  WIN32_FIND_DATAW data;
  EXPECT_EQ(FindFirstFileW(u"\\My Documents\\..\\..\\*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_EQ(FindFirstFileW(u"\\My Documents\\Tabulon\\*|*", &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_EQ(FindFirstFileW(u"\\My Documents\\Tabulon\\*.tbm", nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(FsFindFile, HostPathPatternsSearchHostFolders) {
  WriteHostFile(scratch_ + "/backup/Sales.tbm", "copy");
  WriteHostFile(scratch_ + "/backup/Sales.bak", "old");
  EXPECT_EQ(AllNames(Utf8ToUtf16(scratch_ + "/backup/*.TBM").c_str()), (Names{u"Sales.tbm"}));
}

TEST_F(FsFindFile, ASearchSeesTheFolderAsItWasWhenItStarted) {
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(u"\\My Documents\\Tabulon\\*.tbm", &data);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(DeleteFileW(u"\\My Documents\\Tabulon\\Sales.tbm"));
  WriteHostFile(Host("My Documents/Tabulon/AAA.tbm"), "late");
  int reported = 1;
  while (FindNextFileW(search, &data)) ++reported;
  EXPECT_EQ(reported, 4);
  EXPECT_TRUE(FindClose(search));
}

TEST_F(FsFindFile, ClosedAndMadeUpFindHandlesAreInvalid) {
  WIN32_FIND_DATAW data;
  HANDLE search = FindFirstFileW(u"\\My Documents\\Tabulon\\*", &data);
  ASSERT_TRUE(FindClose(search));
  EXPECT_FALSE(FindNextFileW(search, &data));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FindClose(search));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  for (HANDLE bogus : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, HANDLE(&data)}) {
    EXPECT_FALSE(FindNextFileW(bogus, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(FindClose(bogus));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
}

TEST_F(FsFindFile, FileHandlesAreNotFindHandles) {
  HANDLE file = CreateFileW(u"\\My Documents\\Tabulon\\Sales.tbm", GENERIC_READ, 0, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  WIN32_FIND_DATAW data;
  EXPECT_FALSE(FindNextFileW(file, &data));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(FindClose(file));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(CloseFileHandle(file));
}

}  // namespace
}  // namespace tbm
