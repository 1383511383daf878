#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "FileCalls.h"
#include "FreshDevice.h"
#include "SystemPaths.h"

namespace tbm {
namespace {

using FsTempPath = testing::FreshDevice;
using FsModulePath = testing::FreshDevice;

std::string TempPathText() {
  WCHAR buffer[MAX_PATH];
  const DWORD length = GetTempPathW(MAX_PATH, buffer);
  EXPECT_GT(length, 0u) << DescribeError(GetLastError());
  return Utf16ToUtf8(std::u16string_view(buffer, length));
}

std::string ModulePathText(HMODULE module) {
  WCHAR buffer[4096];
  const DWORD length = GetModuleFileNameW(module, buffer, 4096);
  EXPECT_GT(length, 0u) << DescribeError(GetLastError());
  EXPECT_EQ(buffer[length], 0) << "terminated";
  return Utf16ToUtf8(std::u16string_view(buffer, length));
}

TEST_F(FsTempPath, IsTheDevicesTempFolderWithATrailingSlash) {
  EXPECT_EQ(TempPathText(), root_ + "/Temp/");
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/Temp"));
}

TEST_F(FsTempPath, IsCreatedWhenMissing) {
  ASSERT_FALSE(HostExists(root_));
  EXPECT_EQ(TempPathText(), root_ + "/Temp/");
  EXPECT_TRUE(std::filesystem::is_directory(root_ + "/Temp"));
}

TEST_F(FsTempPath, FilesCanBeCreatedByAppendingANameToIt) {
  const std::u16string name = Utf8ToUtf16(TempPathText()) + u"Abgleich 東京.tmp";
  HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(CloseFileHandle(file));
  EXPECT_TRUE(HostExists(root_ + "/Temp/Abgleich 東京.tmp"));
}

TEST_F(FsTempPath, ASmallBufferGetsACutPathAndTheSizeNeeded) {
  const std::u16string full = Utf8ToUtf16(root_ + "/Temp/");
  WCHAR buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(GetTempPathW(6, buffer), full.size() + 1);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buffer), full.substr(0, 5));
  EXPECT_EQ(buffer[6], u'#') << "nothing written past the buffer";

  EXPECT_EQ(GetTempPathW(0, nullptr), full.size() + 1) << "asking for the size alone";
  std::u16string exact(full.size() + 1, u'#');
  EXPECT_EQ(GetTempPathW(static_cast<DWORD>(exact.size()), exact.data()), full.size());
  EXPECT_EQ(exact.substr(0, full.size()), full);
  EXPECT_EQ(exact.back(), 0);
  EXPECT_EQ(GetTempPathW(4, nullptr), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(FsTempPath, ATempFolderThatCannotBeMadeIsReported) {
  WriteHostFile(root_ + "/Temp", "a file where the folder should be");
  WCHAR buffer[MAX_PATH];
  EXPECT_EQ(GetTempPathW(MAX_PATH, buffer), 0u);
  EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
}

TEST_F(FsModulePath, NullMeansTheRunningProgram) {
  const std::filesystem::path program = ModulePathText(nullptr);
  EXPECT_TRUE(program.is_absolute());
  EXPECT_EQ(program.filename(), "tbm_fs_tests");
  EXPECT_TRUE(std::filesystem::is_regular_file(program));
}

TEST_F(FsModulePath, AnAddressInsideALibraryNamesThatLibrary) {
  const std::filesystem::path library = ModulePathText(reinterpret_cast<HMODULE>(&CreateFileW));
  EXPECT_TRUE(library.is_absolute());
  EXPECT_EQ(library.filename(), "libtbm_fs.so");
  EXPECT_TRUE(std::filesystem::is_regular_file(library));
  EXPECT_EQ(library.parent_path(), std::filesystem::path(ModulePathText(nullptr)).parent_path())
      << "the build lays libraries beside the programs";
}

TEST_F(FsModulePath, ADlopenHandleNamesItsLibrary) {
  std::unique_ptr<void, int (*)(void*)> handle(::dlopen("libtbm_fs.so", RTLD_NOW | RTLD_NOLOAD),
                                               ::dlclose);
  ASSERT_NE(handle, nullptr) << ::dlerror();
  EXPECT_EQ(ModulePathText(handle.get()),
            ModulePathText(reinterpret_cast<HMODULE>(&GetModuleFileNameW)));
}

TEST_F(FsModulePath, AnAddressInTheProgramNamesTheProgram) {
  static int inProgram = 0;
  EXPECT_EQ(ModulePathText(&inProgram), ModulePathText(nullptr));
}

TEST_F(FsModulePath, SomethingThatIsNoModuleIsNotFound) {
  int onTheStack = 0;
  auto onTheHeap = std::make_unique<int>(0);
  WCHAR buffer[MAX_PATH] = {u'#'};
  for (HMODULE bogus : {HMODULE(&onTheStack), HMODULE(onTheHeap.get()), HMODULE(0x10)}) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(GetModuleFileNameW(bogus, buffer, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
  }
}

TEST_F(FsModulePath, ASmallBufferGetsACutTerminatedPath) {
  const std::u16string full = Utf8ToUtf16(ModulePathText(nullptr));
  WCHAR buffer[12];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  SetLastError(ERROR_SUCCESS);
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 10), 10u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(std::u16string(buffer), full.substr(0, 9));
  EXPECT_EQ(buffer[10], u'#');

  std::u16string exact(full.size(), u'#');  // one short of the terminator
  EXPECT_EQ(GetModuleFileNameW(nullptr, exact.data(), static_cast<DWORD>(exact.size())),
            exact.size());
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(GetModuleFileNameW(nullptr, buffer, 0), 0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

}  // namespace
}  // namespace tbm
