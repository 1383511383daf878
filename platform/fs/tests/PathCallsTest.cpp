#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "FileCalls.h"
#include "FreshDevice.h"

namespace tbm {
namespace {

class FsPathCalls : public testing::FreshDevice {
 protected:
  void SetUp() override {
    FreshDevice::SetUp();
    WriteHostFile(Host("My Documents/Tabulon/Sales.tbm"), "sales records");
    WriteHostFile(Host("My Documents/Tabulon/Kunden Übersicht.tbm"), "customers");
  }
};

TEST_F(FsPathCalls, CreateDirectoryMakesAFolderInAnExistingOne) {
  EXPECT_TRUE(CreateDirectoryW(u"\\My Documents\\Tabulon\\Archiv 2024", nullptr));
  EXPECT_TRUE(std::filesystem::is_directory(Host("My Documents/Tabulon/Archiv 2024")));
}

TEST_F(FsPathCalls, CreateDirectoryOnAnExistingFolderSaysItExists) {
  SetLastError(ERROR_SUCCESS);
  EXPECT_FALSE(CreateDirectoryW(u"\\My Documents\\Tabulon", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(CreateDirectoryW(u"\\MY DOCUMENTS\\tabulon", nullptr)) << "in any case";
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(HostExists(Host("MY DOCUMENTS")));
  EXPECT_FALSE(CreateDirectoryW(u"\\My Documents\\Tabulon\\Sales.tbm", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << "a file of that name counts too";
}

TEST_F(FsPathCalls, CreateDirectoryNeedsItsParent) {
  EXPECT_FALSE(CreateDirectoryW(u"\\My Documents\\Neu\\Unter", nullptr));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(HostExists(Host("My Documents/Neu")));
}

TEST_F(FsPathCalls, RemoveDirectoryRemovesOnlyEmptyFolders) {
  EXPECT_FALSE(RemoveDirectoryW(u"\\My Documents\\Tabulon"));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  MakeHostFolder(Host("My Documents/Leer"));
  EXPECT_TRUE(RemoveDirectoryW(u"\\my documents\\LEER"));
  EXPECT_FALSE(HostExists(Host("My Documents/Leer")));
}

TEST_F(FsPathCalls, RemoveDirectoryRefusesFilesMissingFoldersAndTheRoot) {
  EXPECT_FALSE(RemoveDirectoryW(u"\\My Documents\\Tabulon\\Sales.tbm"));
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
  EXPECT_FALSE(RemoveDirectoryW(u"\\My Documents\\Fehlt"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(RemoveDirectoryW(u"\\Fehlt\\Auch"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(RemoveDirectoryW(u"\\"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  // Even an empty root named by its host path stays.
  std::filesystem::remove_all(Host("My Documents"));
  std::filesystem::remove_all(Host("Temp"));
  EXPECT_FALSE(RemoveDirectoryW(Utf8ToUtf16(root_).c_str()));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(HostExists(root_));
}

TEST_F(FsPathCalls, DeleteFileRemovesTheFileWhateverTheCase) {
  EXPECT_TRUE(DeleteFileW(u"\\My Documents\\Tabulon\\SALES.TBM"));
  EXPECT_FALSE(HostExists(Host("My Documents/Tabulon/Sales.tbm")));
  EXPECT_TRUE(HostExists(Host("My Documents/Tabulon/Kunden Übersicht.tbm")));
}

TEST_F(FsPathCalls, DeleteFileReportsWhatIsMissingAndRefusesFolders) {
  EXPECT_FALSE(DeleteFileW(u"\\My Documents\\Tabulon\\Fehlt.tbm"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(DeleteFileW(u"\\My Documents\\Fehlt\\Sales.tbm"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(DeleteFileW(u"\\My Documents\\Tabulon"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(HostExists(Host("My Documents/Tabulon")));
  EXPECT_FALSE(DeleteFileW(u"\\My Documents\\..\\..\\device"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

TEST_F(FsPathCalls, MoveFileRenamesAndMovesBetweenFolders) {
  MakeHostFolder(Host("My Documents/Archiv"));
  EXPECT_TRUE(
      MoveFileW(u"\\My Documents\\Tabulon\\Sales.tbm", u"\\My Documents\\Archiv\\Sales 2023.tbm"));
  EXPECT_FALSE(HostExists(Host("My Documents/Tabulon/Sales.tbm")));
  EXPECT_EQ(ReadHostFile(Host("My Documents/Archiv/Sales 2023.tbm")), "sales records");
}

TEST_F(FsPathCalls, MoveFileNeverReplacesAnExistingEntry) {
  EXPECT_FALSE(MoveFileW(u"\\My Documents\\Tabulon\\Sales.tbm",
                         u"\\My Documents\\Tabulon\\kunden übersicht.tbm"));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(ReadHostFile(Host("My Documents/Tabulon/Kunden Übersicht.tbm")), "customers");
  EXPECT_EQ(ReadHostFile(Host("My Documents/Tabulon/Sales.tbm")), "sales records");
}

TEST_F(FsPathCalls, MoveFileReportsAMissingSourceOrTargetFolder) {
  EXPECT_FALSE(MoveFileW(u"\\My Documents\\Tabulon\\Fehlt.tbm", u"\\Neu.tbm"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(MoveFileW(u"\\My Documents\\Tabulon\\Sales.tbm", u"\\Fehlt\\Sales.tbm"));
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_TRUE(HostExists(Host("My Documents/Tabulon/Sales.tbm")));
}

TEST_F(FsPathCalls, MoveFileToTheSameNameInAnotherCaseChangesTheCase) {
  EXPECT_TRUE(
      MoveFileW(u"\\My Documents\\Tabulon\\Sales.tbm", u"\\My Documents\\Tabulon\\SALES.TBM"));
  EXPECT_TRUE(HostExists(Host("My Documents/Tabulon/SALES.TBM")));
  EXPECT_FALSE(HostExists(Host("My Documents/Tabulon/Sales.tbm")));
  EXPECT_TRUE(
      MoveFileW(u"\\My Documents\\Tabulon\\SALES.TBM", u"\\My Documents\\Tabulon\\SALES.TBM"))
      << "moving onto itself changes nothing and succeeds";
  EXPECT_EQ(ReadHostFile(Host("My Documents/Tabulon/SALES.TBM")), "sales records");
}

TEST_F(FsPathCalls, MoveFileMovesFoldersButNotIntoThemselves) {
  EXPECT_TRUE(MoveFileW(u"\\My Documents\\Tabulon", u"\\My Documents\\Tabulon Alt"));
  EXPECT_EQ(ReadHostFile(Host("My Documents/Tabulon Alt/Sales.tbm")), "sales records");
  EXPECT_FALSE(MoveFileW(u"\\My Documents\\Tabulon Alt", u"\\My Documents\\Tabulon Alt\\Inner"));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FsPathCalls, MoveFileAcrossHostFileSystemsCopiesTheFile) {
  struct stat device {
  }, shm{};
  if (::stat("/dev/shm", &shm) != 0 || ::stat(scratch_.c_str(), &device) != 0 ||
      shm.st_dev == device.st_dev) {
    GTEST_SKIP() << "needs /dev/shm on another file system than the temporary folder";
  }
  const std::string target = "/dev/shm/tbm-fs-move-" + std::to_string(::getpid()) + ".tbm";
  EXPECT_TRUE(MoveFileW(u"\\My Documents\\Tabulon\\Sales.tbm", Utf8ToUtf16(target).c_str()))
      << DescribeError(GetLastError());
  EXPECT_EQ(ReadHostFile(target), "sales records");
  EXPECT_FALSE(HostExists(Host("My Documents/Tabulon/Sales.tbm")));
  std::filesystem::remove(target);

  const std::string folder = "/dev/shm/tbm-fs-folder-" + std::to_string(::getpid());
  EXPECT_FALSE(MoveFileW(u"\\My Documents\\Tabulon", Utf8ToUtf16(folder).c_str()));
  EXPECT_EQ(GetLastError(), ERROR_NOT_SAME_DEVICE);
  EXPECT_FALSE(HostExists(folder));
}

TEST_F(FsPathCalls, GetFileAttributesTellsFoldersFromFiles) {
  EXPECT_EQ(GetFileAttributesW(u"\\My Documents\\TABULON"), FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(GetFileAttributesW(u"\\My Documents\\Tabulon\\sales.tbm"), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(GetFileAttributesW(u"\\"), FILE_ATTRIBUTE_DIRECTORY);
}

TEST_F(FsPathCalls, GetFileAttributesReportsReadOnlyFiles) {
  std::filesystem::permissions(Host("My Documents/Tabulon/Sales.tbm"),
                               std::filesystem::perms::owner_read);
  EXPECT_EQ(GetFileAttributesW(u"\\My Documents\\Tabulon\\Sales.tbm"), FILE_ATTRIBUTE_READONLY);
}

TEST_F(FsPathCalls, GetFileAttributesOfSomethingMissingFails) {
  EXPECT_EQ(GetFileAttributesW(u"\\My Documents\\Tabulon\\Fehlt.tbm"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesW(u"\\Fehlt\\Fehlt.tbm"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  EXPECT_EQ(GetFileAttributesW(u"\\Sales?.tbm"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
}

}  // namespace
}  // namespace tbm
