#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

#include "FileCalls.h"
#include "FindFile.h"
#include "FreshDevice.h"

namespace tbm {
namespace {

constexpr DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

class FsFileCalls : public testing::FreshDevice {
 protected:
  void SetUp() override {
    FreshDevice::SetUp();
    MakeHostFolder(Host("My Documents/Tabulon"));
  }

  static HANDLE Open(const char16_t* name, DWORD access, DWORD disposition) {
    return CreateFileW(name, access, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
  }

  static std::string ReadAll(HANDLE file) {
    std::string data(1024, '\0');
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &got, nullptr));
    data.resize(got);
    return data;
  }

  static void Write(HANDLE file, const std::string& bytes) {
    DWORD put = 0;
    ASSERT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr));
    ASSERT_EQ(put, bytes.size());
  }

  static constexpr const char16_t* kSales = u"\\My Documents\\Tabulon\\Sales.tbm";
  std::string SalesOnHost() const { return Host("My Documents/Tabulon/Sales.tbm"); }
};

TEST_F(FsFileCalls, CreateNewMakesAFileAndRefusesAnExistingOne) {
  HANDLE file = Open(kSales, kReadWrite, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << DescribeError(GetLastError());
  EXPECT_TRUE(HostExists(SalesOnHost()));
  EXPECT_TRUE(CloseFileHandle(file));

  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(Open(u"\\my documents\\TABULON\\sales.TBM", kReadWrite, CREATE_NEW),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
}

TEST_F(FsFileCalls, CreateAlwaysEmptiesAnExistingFileAndSaysSo) {
  WriteHostFile(SalesOnHost(), "old records");
  HANDLE file = Open(kSales, kReadWrite, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadHostFile(SalesOnHost()), "");
  CloseFileHandle(file);

  SetLastError(ERROR_INVALID_DATA);
  file = Open(u"\\My Documents\\Tabulon\\Neu.tbm", GENERIC_WRITE, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS) << "a new file clears the last error";
  CloseFileHandle(file);
}

TEST_F(FsFileCalls, OpenExistingTellsAMissingFileFromAMissingFolder) {
  EXPECT_EQ(Open(kSales, GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Open(u"\\My Documents\\Archiv\\Sales.tbm", GENERIC_READ, OPEN_EXISTING),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(Open(u"\\My Documents\\Archiv\\Sales.tbm", kReadWrite, CREATE_NEW),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FsFileCalls, OpenExistingReadsWhatIsThere) {
  WriteHostFile(SalesOnHost(), "Q3 figures");
  HANDLE file = Open(u"\\MY DOCUMENTS\\Tabulon\\SALES.tbm", GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(ReadAll(file), "Q3 figures");
  CloseFileHandle(file);
}

TEST_F(FsFileCalls, OpenAlwaysKeepsContentAndReportsWhetherItExisted) {
  SetLastError(ERROR_INVALID_DATA);
  HANDLE file = Open(kSales, kReadWrite, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  Write(file, "first");
  CloseFileHandle(file);

  file = Open(kSales, kReadWrite, OPEN_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadAll(file), "first");
  CloseFileHandle(file);
}

TEST_F(FsFileCalls, TruncateExistingEmptiesAFileThatMustExist) {
  EXPECT_EQ(Open(kSales, GENERIC_WRITE, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(HostExists(SalesOnHost())) << "truncating never creates";

  WriteHostFile(SalesOnHost(), "stale");
  HANDLE file = Open(kSales, GENERIC_WRITE, TRUNCATE_EXISTING);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  CloseFileHandle(file);
  EXPECT_EQ(ReadHostFile(SalesOnHost()), "");
}

TEST_F(FsFileCalls, TruncateExistingNeedsWriteAccess) {
  WriteHostFile(SalesOnHost(), "kept");
  EXPECT_EQ(Open(kSales, GENERIC_READ, TRUNCATE_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(ReadHostFile(SalesOnHost()), "kept");
}

TEST_F(FsFileCalls, UnknownDispositionsAndAccessBitsAreRefused) {
  for (const DWORD disposition : {DWORD{0}, DWORD{6}, DWORD{0xFFFFFFFF}}) {
    EXPECT_EQ(Open(kSales, kReadWrite, disposition), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  }
  EXPECT_EQ(Open(kSales, GENERIC_READ | 0x1, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(HostExists(SalesOnHost()));
}

TEST_F(FsFileCalls, AFolderCannotBeOpenedAsAFile) {
  EXPECT_EQ(Open(u"\\My Documents\\Tabulon", GENERIC_READ, OPEN_EXISTING), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(u"\\My Documents\\Tabulon", kReadWrite, OPEN_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FsFileCalls, RefusedPathsOpenNothing) {
  EXPECT_EQ(Open(u"\\..\\escape.tbm", kReadWrite, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  EXPECT_FALSE(HostExists(scratch_ + "/escape.tbm"));
  EXPECT_EQ(Open(nullptr, kReadWrite, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FsFileCalls, WrittenDataIsRealFileDataOnDisk) {
  HANDLE file = Open(u"\\My Documents\\Tabulon\\Kunden Übersicht.tbm", kReadWrite, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  const std::string record("Müller GmbH\0Köln\x01\xFF", 19);
  Write(file, record);
  // Another reader sees the bytes before the handle is closed.
  EXPECT_EQ(ReadHostFile(Host("My Documents/Tabulon/Kunden Übersicht.tbm")), record);
  EXPECT_TRUE(CloseFileHandle(file));
}

TEST_F(FsFileCalls, ReadingAndWritingMoveThePosition) {
  HANDLE file = Open(kSales, kReadWrite, CREATE_ALWAYS);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Write(file, "Nordwest");
  Write(file, " 1200");
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_BEGIN), 0u);
  char part[4] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(file, part, 4, &got, nullptr));
  EXPECT_EQ(std::string(part, got), "Nord");
  EXPECT_EQ(ReadAll(file), "west 1200");
  CloseFileHandle(file);
}

TEST_F(FsFileCalls, ReadingAtTheEndGivesNoBytesAndNoError) {
  HANDLE file = Open(kSales, kReadWrite, CREATE_ALWAYS);
  Write(file, "abc");
  char buffer[8];
  DWORD got = 99;
  EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(ReadFile(file, buffer, 0, nullptr, nullptr));
  CloseFileHandle(file);
}

TEST_F(FsFileCalls, SetFilePointerCountsFromEachOrigin) {
  HANDLE file = Open(kSales, kReadWrite, CREATE_ALWAYS);
  Write(file, "0123456789");
  EXPECT_EQ(SetFilePointer(file, 3, nullptr, FILE_BEGIN), 3u);
  EXPECT_EQ(SetFilePointer(file, 4, nullptr, FILE_CURRENT), 7u);
  EXPECT_EQ(SetFilePointer(file, -2, nullptr, FILE_CURRENT), 5u);
  EXPECT_EQ(SetFilePointer(file, -4, nullptr, FILE_END), 6u);
  char c = 0;
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(file, &c, 1, &got, nullptr));
  EXPECT_EQ(c, '6');
  CloseFileHandle(file);
}

TEST_F(FsFileCalls, SeekingPastTheEndAndWritingLeavesZeros) {
  HANDLE file = Open(kSales, kReadWrite, CREATE_ALWAYS);
  Write(file, "AB");
  EXPECT_EQ(SetFilePointer(file, 3, nullptr, FILE_END), 5u);
  EXPECT_EQ(GetFileSize(file, nullptr), 2u) << "seeking alone does not grow the file";
  Write(file, "Z");
  CloseFileHandle(file);
  EXPECT_EQ(ReadHostFile(SalesOnHost()), std::string("AB\0\0\0Z", 6));
}

TEST_F(FsFileCalls, SeekingBeforeTheStartFailsAndKeepsThePosition) {
  HANDLE file = Open(kSales, kReadWrite, CREATE_ALWAYS);
  Write(file, "abcdef");
  SetFilePointer(file, 2, nullptr, FILE_BEGIN);
  EXPECT_EQ(SetFilePointer(file, -3, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, 7), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), 2u);
  CloseFileHandle(file);
}

TEST_F(FsFileCalls, SetFilePointerUsesAndReportsTheHighHalf) {
  HANDLE file = Open(kSales, kReadWrite, CREATE_ALWAYS);
  LONG high = 1;
  EXPECT_EQ(SetFilePointer(file, 16, &high, FILE_BEGIN), 16u);
  EXPECT_EQ(high, 1);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  // Without the high half a position beyond 4 GiB cannot be answered.
  EXPECT_EQ(SetFilePointer(file, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  high = -1;  // minus 4 GiB
  EXPECT_EQ(SetFilePointer(file, 0, &high, FILE_CURRENT), 16u);
  EXPECT_EQ(high, 0);
  CloseFileHandle(file);
}

TEST_F(FsFileCalls, GetFileSizeFollowsWritesAndGivesTheHighHalf) {
  HANDLE file = Open(kSales, kReadWrite, CREATE_ALWAYS);
  DWORD high = 7;
  EXPECT_EQ(GetFileSize(file, &high), 0u);
  EXPECT_EQ(high, 0u);
  Write(file, std::string(5000, 'r'));
  EXPECT_EQ(GetFileSize(file, &high), 5000u);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CloseFileHandle(file);
}

TEST_F(FsFileCalls, AccessAskedForIsEnforced) {
  WriteHostFile(SalesOnHost(), "data");
  HANDLE readOnly = Open(kSales, GENERIC_READ, OPEN_EXISTING);
  DWORD count = 99;
  EXPECT_FALSE(WriteFile(readOnly, "x", 1, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(count, 0u);
  CloseFileHandle(readOnly);

  HANDLE writeOnly = Open(kSales, GENERIC_WRITE, OPEN_EXISTING);
  char buffer[4];
  EXPECT_FALSE(ReadFile(writeOnly, buffer, 4, &count, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  CloseFileHandle(writeOnly);

  HANDLE queryOnly = Open(kSales, 0, OPEN_EXISTING);
  ASSERT_NE(queryOnly, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetFileSize(queryOnly, nullptr), 4u);
  EXPECT_FALSE(ReadFile(queryOnly, buffer, 4, &count, nullptr));
  CloseFileHandle(queryOnly);
  EXPECT_EQ(ReadHostFile(SalesOnHost()), "data");
}

TEST_F(FsFileCalls, OverlappedAndMissingBuffersAreRefused) {
  HANDLE file = Open(kSales, kReadWrite, CREATE_ALWAYS);
  char buffer[4] = {};
  int overlapped = 0;
  EXPECT_FALSE(ReadFile(file, buffer, 4, nullptr, &overlapped));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(WriteFile(file, buffer, 4, nullptr, &overlapped));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_FALSE(WriteFile(file, nullptr, 4, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  CloseFileHandle(file);
  EXPECT_EQ(ReadHostFile(SalesOnHost()), "");
}

TEST_F(FsFileCalls, ClosedAndMadeUpHandlesAreInvalidNeverFatal) {
  HANDLE file = Open(kSales, kReadWrite, CREATE_ALWAYS);
  ASSERT_TRUE(CloseFileHandle(file));
  // A newer handle does not bring the stale one back to life.
  HANDLE newer = Open(kSales, kReadWrite, OPEN_EXISTING);
  ASSERT_NE(newer, file);

  int onTheStack = 0;
  const std::array<HANDLE, 5> bogus = {file, nullptr, INVALID_HANDLE_VALUE, &onTheStack,
                                       reinterpret_cast<HANDLE>(0x1234)};
  for (HANDLE handle : bogus) {
    char buffer[4];
    DWORD count = 99;
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(ReadFile(handle, buffer, 4, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(count, 0u);
    EXPECT_FALSE(WriteFile(handle, "x", 1, &count, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(SetFilePointer(handle, 0, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GetFileSize(handle, nullptr), INVALID_FILE_SIZE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseFileHandle(handle));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  }
  EXPECT_TRUE(CloseFileHandle(newer));
}

TEST_F(FsFileCalls, FindHandlesAreNotFileHandles) {
  WriteHostFile(SalesOnHost(), "x");
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(u"\\My Documents\\Tabulon\\*.tbm", &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  char buffer[4];
  EXPECT_FALSE(ReadFile(search, buffer, 4, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(CloseFileHandle(search));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(FindClose(search)) << "the failed close left the search alone";
}

TEST_F(FsFileCalls, TwoHandlesOnOneFileShareItsData) {
  HANDLE writer = Open(kSales, GENERIC_WRITE, CREATE_ALWAYS);
  HANDLE reader = Open(kSales, GENERIC_READ, OPEN_EXISTING);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  Write(writer, "shared");
  EXPECT_EQ(ReadAll(reader), "shared");
  CloseFileHandle(writer);
  CloseFileHandle(reader);
}

TEST_F(FsFileCalls, HostPathsWorkOutsideTheDevice) {
  const std::string outside = scratch_ + "/desktop/Export Ø.tbm";
  MakeHostFolder(scratch_ + "/desktop");
  HANDLE file = Open(Utf8ToUtf16(outside).c_str(), kReadWrite, CREATE_NEW);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  Write(file, "exported");
  CloseFileHandle(file);
  EXPECT_EQ(ReadHostFile(outside), "exported");
}

}  // namespace
}  // namespace tbm
