// Setting the library up: finding the data folder and checking its files.

#include <unicode/putil.h>

#include <algorithm>
#include <filesystem>

#include "WordBreakTesting.h"

namespace tbm::wordbreak::testing {
namespace {

using WordBreakInit = ScratchDataFolder;

TEST(WordBreakInstalled, FindsTbmresBesideTheProgramAndPointsIcuThere) {
  const ScopedEnvironment noOverride("TBM_WBR_DATA_DIR", nullptr);
  ASSERT_EQ(TBMWbrInit(), TBMWBR_SUCCESS);
  EXPECT_EQ(std::string(u_getDataDirectory()), InstalledDataFolder());
  EXPECT_EQ(TBMWbrShutdown(), TBMWBR_SUCCESS);
}

TEST(WordBreakInstalled, AnEmptyOverrideMeansTheFolderBesideTheProgram) {
  const ScopedEnvironment emptyOverride("TBM_WBR_DATA_DIR", "");
  ASSERT_EQ(TBMWbrInit(), TBMWBR_SUCCESS);
  EXPECT_EQ(std::string(u_getDataDirectory()), InstalledDataFolder());
}

TEST_F(WordBreakInit, AFolderHoldingBothFilesIsUsed) {
  CopyInstalled("tbmwd.brk");
  CopyInstalled("uprops.dat");
  ASSERT_EQ(TBMWbrInit(), TBMWBR_SUCCESS);
  EXPECT_EQ(std::string(u_getDataDirectory()), folder_);
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"jo", &session), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"de Jong"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(WordBreakInit, AFolderNamedWithoutItsTrailingSlashGetsOne) {
  CopyInstalled("tbmwd.brk");
  CopyInstalled("uprops.dat");
  const std::string withoutSlash = folder_.substr(0, folder_.size() - 1);
  const ScopedEnvironment named("TBM_WBR_DATA_DIR", withoutSlash.c_str());
  ASSERT_EQ(TBMWbrInit(), TBMWBR_SUCCESS);
  EXPECT_EQ(std::string(u_getDataDirectory()), folder_);
}

TEST_F(WordBreakInit, ARelativeFolderIsMadeAbsolute) {
  CopyInstalled("tbmwd.brk");
  CopyInstalled("uprops.dat");
  const std::string relative =
      std::filesystem::relative(folder_, std::filesystem::current_path()).string();
  ASSERT_NE(relative.front(), '/');
  const ScopedEnvironment named("TBM_WBR_DATA_DIR", relative.c_str());
  ASSERT_EQ(TBMWbrInit(), TBMWBR_SUCCESS);
  EXPECT_EQ(std::string(u_getDataDirectory()), folder_);
}

TEST_F(WordBreakInit, MissingPropertyDataFails) {
  CopyInstalled("tbmwd.brk");
  EXPECT_EQ(TBMWbrInit(), TBMWBR_FAILURE);
}

TEST_F(WordBreakInit, MissingRulesFail) {
  CopyInstalled("uprops.dat");
  EXPECT_EQ(TBMWbrInit(), TBMWBR_FAILURE);
}

TEST_F(WordBreakInit, AnEmptyFolderFails) { EXPECT_EQ(TBMWbrInit(), TBMWBR_FAILURE); }

TEST_F(WordBreakInit, AMissingFolderFails) {
  const std::string missing = folder_ + "not-there/";
  const ScopedEnvironment named("TBM_WBR_DATA_DIR", missing.c_str());
  EXPECT_EQ(TBMWbrInit(), TBMWBR_FAILURE);
}

TEST_F(WordBreakInit, AFolderNamedLikeTheRulesIsNotTheRules) {
  std::filesystem::create_directory(folder_ + "tbmwd.brk");
  CopyInstalled("uprops.dat");
  EXPECT_EQ(TBMWbrInit(), TBMWBR_FAILURE);
}

TEST_F(WordBreakInit, AFolderNamedLikeThePropertyDataIsNotThePropertyData) {
  CopyInstalled("tbmwd.brk");
  std::filesystem::create_directory(folder_ + "uprops.dat");
  EXPECT_EQ(TBMWbrInit(), TBMWBR_FAILURE);
}

TEST_F(WordBreakInit, AfterAFailureNoSessionOpens) {
  CopyInstalled("tbmwd.brk");
  ASSERT_EQ(TBMWbrInit(), TBMWBR_FAILURE);
  FWSession* session = nullptr;
  EXPECT_EQ(FWOpenSession(u"jo", &session), TBMWBR_FAILURE);
  EXPECT_EQ(session, nullptr) << "left unchanged";
}

// A folder whose path, with its trailing '/', is exactly length bytes long,
// holding both data files.
std::string FolderOfPathLength(const std::string& base, std::size_t length) {
  std::string path = base;
  while (path.size() < length) {
    const std::size_t room = length - path.size();
    // Names of at most 200 bytes, and never a last one of 0 bytes.
    std::size_t name = std::min<std::size_t>(room - 1, 200);
    if (room - (name + 1) == 1) --name;
    path += std::string(name, 'd') + "/";
  }
  std::filesystem::create_directories(path);
  std::filesystem::copy_file(InstalledDataFolder() + "tbmwd.brk", path + "tbmwd.brk");
  std::filesystem::copy_file(InstalledDataFolder() + "uprops.dat", path + "uprops.dat");
  return path;
}

TEST_F(WordBreakInit, AFolderPathOf259BytesFitsWithItsTerminator) {
  const std::string folder = FolderOfPathLength(folder_, 259);
  ASSERT_EQ(folder.size(), 259u);
  const ScopedEnvironment named("TBM_WBR_DATA_DIR", folder.c_str());
  EXPECT_EQ(TBMWbrInit(), TBMWBR_SUCCESS);
}

TEST_F(WordBreakInit, AFolderPathOf260BytesDoesNotFit) {
  const std::string folder = FolderOfPathLength(folder_, 260);
  ASSERT_EQ(folder.size(), 260u);
  const ScopedEnvironment named("TBM_WBR_DATA_DIR", folder.c_str());
  EXPECT_EQ(TBMWbrInit(), TBMWBR_FAILURE);
}

// Damaged rules pass the set-up, which only checks that the files are
// there, but no session opens on them.
class DamagedRules : public ScratchDataFolder {
 protected:
  void SetUp() override {
    ScratchDataFolder::SetUp();
    CopyInstalled("uprops.dat");
  }

  // Sets up from the scratch folder with rules as tbmwd.brk and returns what
  // FWOpenSession answered, checking that a failure leaves its output alone.
  int OpenWithRules(const std::vector<std::uint8_t>& rules) {
    WriteFile("tbmwd.brk", rules);
    EXPECT_EQ(TBMWbrInit(), TBMWBR_SUCCESS);
    FWSession* const untouched = reinterpret_cast<FWSession*>(&untouchedMarker_);
    FWSession* session = untouched;
    const int result = FWOpenSession(u"jo", &session);
    if (result == TBMWBR_SUCCESS) {
      EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
    } else {
      EXPECT_EQ(session, untouched);
    }
    return result;
  }

  int untouchedMarker_ = 0;
};

TEST_F(DamagedRules, TheInstalledRulesOpenASession) {
  EXPECT_EQ(OpenWithRules(ReadInstalled("tbmwd.brk")), TBMWBR_SUCCESS);
}

TEST_F(DamagedRules, AnEmptyRulesFileOpensNoSession) {
  EXPECT_EQ(OpenWithRules({}), TBMWBR_FAILURE);
}

TEST_F(DamagedRules, RuleSourceTextInPlaceOfCompiledRulesOpensNoSession) {
  const std::string source = "$Letter = [\\p{Alphabetic}];\n$Letter+;\n";
  EXPECT_EQ(OpenWithRules(std::vector<std::uint8_t>(source.begin(), source.end())), TBMWBR_FAILURE);
}

TEST_F(DamagedRules, RulesCutShortOpenNoSession) {
  std::vector<std::uint8_t> rules = ReadInstalled("tbmwd.brk");
  ASSERT_GT(rules.size(), 200u);
  rules.resize(rules.size() / 2);
  EXPECT_EQ(OpenWithRules(rules), TBMWBR_FAILURE);
}

TEST_F(DamagedRules, AHeaderWithoutRulesOpensNoSession) {
  std::vector<std::uint8_t> rules = ReadInstalled("tbmwd.brk");
  const std::size_t headerSize = rules[0] | rules[1] << 8;
  ASSERT_LT(headerSize, rules.size());
  rules.resize(headerSize);
  EXPECT_EQ(OpenWithRules(rules), TBMWBR_FAILURE);
}

TEST_F(DamagedRules, AHeaderClaimingMoreThanTheFileOpensNoSession) {
  std::vector<std::uint8_t> rules = ReadInstalled("tbmwd.brk");
  rules.resize(30);
  EXPECT_EQ(OpenWithRules(rules), TBMWBR_FAILURE);
}

// ICU would read the damaged tables without checking them, and read past
// the rules while breaking a text.
TEST_F(DamagedRules, RulesWhoseTablesWereOverwrittenOpenNoSession) {
  std::vector<std::uint8_t> rules = ReadInstalled("tbmwd.brk");
  ASSERT_GT(rules.size(), 6000u);
  std::copy_n(rules.begin() + 4096, 1024, rules.begin() + 1200);
  EXPECT_EQ(OpenWithRules(rules), TBMWBR_FAILURE);
}

TEST_F(DamagedRules, RulesForTheOtherByteOrderOpenNoSession) {
  std::vector<std::uint8_t> rules = ReadInstalled("tbmwd.brk");
  rules[8] ^= 1;  // the big-endian flag of the data header
  EXPECT_EQ(OpenWithRules(rules), TBMWBR_FAILURE);
}

TEST_F(DamagedRules, OtherIcuDataInPlaceOfTheRulesOpensNoSession) {
  EXPECT_EQ(OpenWithRules(ReadInstalled("uprops.dat")), TBMWBR_FAILURE);
}

TEST_F(DamagedRules, RulesWithABadSignatureOpenNoSession) {
  std::vector<std::uint8_t> rules = ReadInstalled("tbmwd.brk");
  const std::size_t headerSize = rules[0] | rules[1] << 8;
  rules[headerSize] ^= 0xff;  // the compiled rules' own signature
  EXPECT_EQ(OpenWithRules(rules), TBMWBR_FAILURE);
}

TEST_F(DamagedRules, RulesOfAnotherFormatVersionThanTheirHeaderOpenNoSession) {
  std::vector<std::uint8_t> rules = ReadInstalled("tbmwd.brk");
  const std::size_t headerSize = rules[0] | rules[1] << 8;
  rules[headerSize + 4] += 1;  // the compiled rules' own format version
  EXPECT_EQ(OpenWithRules(rules), TBMWBR_FAILURE);
}

}  // namespace
}  // namespace tbm::wordbreak::testing
