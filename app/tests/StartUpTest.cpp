// Start-up's checks: the kind of device, and the search for the language
// library with its version check and the program's own message when none
// is found.
#include <gtest/gtest.h>

#include <filesystem>

#include "DeviceLanguage.h"
#include "Registry.h"
#include "RunProgram.h"
#include "StartUp.h"
#include "TestSupport.h"
#include "Utf16.h"

namespace tbm::app {
namespace {

namespace fs = std::filesystem;

class StartUpTest : public ::testing::Test {
 protected:
  void SetPlatform(const char16_t* name, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"Platform", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  void SetType(const std::u16string& type) {
    SetPlatform(u"Type", REG_SZ, type.c_str(), static_cast<DWORD>((type.size() + 1) * 2));
  }
  void SetNumber(const char16_t* name, DWORD value) {
    SetPlatform(name, REG_DWORD, &value, sizeof value);
  }

  // Puts a copy of a test library into the program folder's tbmres as
  // tbmres<suffix>.so.
  void Place(const std::string& suffix, const char* library) {
    fs::create_directories(program_ / "tbmres");
    fs::copy_file(library, program_ / "tbmres" / ("tbmres" + suffix + ".so"),
                  fs::copy_options::overwrite_existing);
  }
  // Which library the search took for languageId ("" when none), and its
  // file's suffix; the status is kept in status_.
  std::string Found(std::uint16_t languageId) {
    std::unique_ptr<res::ResourceLibrary> library;
    status_ = FindLanguageLibrary(program_.string(), languageId, &library);
    EXPECT_EQ(status_.ok(), library != nullptr);
    if (library == nullptr) return "";
    const std::string name = fs::path(library->path()).filename().string();
    return Utf16ToUtf8(library->StringOrEmpty(1)) + " as " + name;
  }

  tbm::testing::ScratchFolder root_{"tbm-startup-test"};
  tbm::testing::ScopedEnvironment device_{"TBM_DEVICE_ROOT", root_.path().c_str()};
  fs::path program_ = root_.path() / "Program Files" / "Tabulon Mobile";
  Status status_;
};

TEST_F(StartUpTest, TheDeviceKindFollowsTheSystemsVersionAndPlatformType) {
  EXPECT_EQ(DeviceKind(), kDevicePocketPc);
  SetType(u"Palm PC2");
  EXPECT_EQ(DeviceKind(), kDevicePalmSize);
  SetType(u"Smartphone");
  EXPECT_EQ(DeviceKind(), kDeviceOther);
  SetType(u"PocketPC");
  SetNumber(u"OSMajor", 5);
  EXPECT_EQ(DeviceKind(), kDevicePocketPc);
  SetNumber(u"OSMajor", 2);
  EXPECT_EQ(DeviceKind(), kDeviceCheckFailed) << "Windows CE 2 is too old";
  SetNumber(u"OSMajor", 3);
  SetNumber(u"PlatformId", 2);
  EXPECT_EQ(DeviceKind(), kDeviceCheckFailed) << "not Windows CE";
}

TEST_F(StartUpTest, TheLanguageLibraryIsSearchedInItsOrder) {
  EXPECT_EQ(res::LanguageSuffix(1033), "409");
  EXPECT_EQ(res::LanguageSuffix(0x0C0C), "c0c");
  EXPECT_EQ(LanguageLibraryPath("/opt/tbm", "40c"), "/opt/tbm/tbmres/tbmres40c.so");
  EXPECT_EQ(ProgramFolder(), tbm::testing::ProgramFolder().string());

  // Nothing there at all.
  EXPECT_EQ(Found(0x0C0C), "");
  EXPECT_EQ(status_.code(), StatusCode::kNotFound);
  EXPECT_NE(status_.message().find("tbmresc0c.so"), std::string::npos) << status_.message();

  // US English serves every language that has no library of its own.
  Place("409", TBM_TEST_LANGUAGE_21);
  EXPECT_EQ(Found(0x0C0C), "test library 21 as tbmres409.so");
  // French (Canada) takes French when there is no Canadian French.
  Place("40c", TBM_TEST_LANGUAGE_NONE);
  EXPECT_EQ(Found(0x0C0C), "test library none as tbmres40c.so");
  // The language's own library before that.
  Place("c0c", TBM_TEST_LANGUAGE_21);
  EXPECT_EQ(Found(0x0C0C), "test library 21 as tbmresc0c.so");
  // A file that is no library is passed over.
  fs::remove(program_ / "tbmres" / "tbmresc0c.so");
  ASSERT_TRUE(tbm::testing::WriteWholeFile(program_ / "tbmres" / "tbmresc0c.so", "not a library"));
  EXPECT_EQ(Found(0x0C0C), "test library none as tbmres40c.so");
  // A library without a language suffix comes first of all.
  Place("", TBM_TEST_LANGUAGE_NONE);
  EXPECT_EQ(Found(0x0409), "test library none as tbmres.so");
}

TEST_F(StartUpTest, ALibraryOfAnotherVersionEndsTheSearch) {
  Place("409", TBM_TEST_LANGUAGE_21);
  Place("407", TBM_TEST_LANGUAGE_30);
  EXPECT_EQ(Found(0x0407), "");
  EXPECT_EQ(status_.code(), StatusCode::kInvalidArgument);
  EXPECT_NE(status_.message().find("tbmres407.so is version 3.0"), std::string::npos)
      << status_.message();
  // Start-up then tells the user in the device's language.
  EXPECT_EQ(LanguageModuleMissingText(0x0407), u"Tabulon Mobile-Sprachmodul nicht gefunden.");
  EXPECT_EQ(LanguageModuleMissingText(0x0C0A),
            u"No se ha encontrado módulo de idioma de Tabulon Mobile.");
  EXPECT_EQ(LanguageModuleMissingText(0x080C), u"Module de langue Tabulon Mobile introuvable.");
  EXPECT_EQ(LanguageModuleMissingText(0x0410),
            u"Impossibile trovare il modulo lingua per Tabulon Mobile.");
  EXPECT_EQ(LanguageModuleMissingText(0x0411), u"Tabulon Mobile 言語モジュールが見つかりません。");
  EXPECT_EQ(LanguageModuleMissingText(0x0419), u"Tabulon Mobile Language Module not found.");
  EXPECT_EQ(LanguageModuleMissingText(1033), u"Tabulon Mobile Language Module not found.");
}

}  // namespace
}  // namespace tbm::app
