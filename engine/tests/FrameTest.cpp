// The engine's frame: the environment's life, volumes created, opened,
// checked and closed, file enumeration and the consistency value.
#include <fstream>

#include "EngineFixture.h"
#include "FileCalls.h"
#include "MDbBlocks.h"

namespace tbm::engine::testing {
namespace {

using FrameTest = EngineTest;

TEST_F(FrameTest, InitTwiceFailsAndKeepsTheEnvironmentInitialised) {
  EXPECT_EQ(MDbInit(&env_, 0), MDbErrFailed);
  EXPECT_EQ(env_.initialised, 1);
  EXPECT_EQ(MDbInit(nullptr, 0), MDbErrFailed);
}

TEST_F(FrameTest, ShutdownOfAnUninitialisedEnvironmentFailsButStillResetsIt) {
  MDbEnv env;
  std::memset(&env, 0x5A, sizeof env);
  env.initialised = 0;
  EXPECT_EQ(MDbShutdown(&env), MDbErrFailed);
  EXPECT_EQ(env.ref.opened, 0);
  EXPECT_EQ(env.data.cursor, -1);
  EXPECT_EQ(env.data.cachedSeq, 0xFFFFFFFFu);
  EXPECT_EQ(env.fieldOptions.cache, nullptr);
  EXPECT_EQ(std::u16string(env.ref.objName), u"OBJG_0");
  EXPECT_EQ(MDbShutdown(nullptr), MDbErrFailed);
}

TEST_F(FrameTest, WordBreakStartsFromTheDataBesideTheProgram) {
  MDbEnv env;
  MDbEnvInitialize(&env);
  EXPECT_EQ(MDbInit(&env, 1), MDbErrNone);
  EXPECT_EQ(MDbShutdown(&env), MDbErrNone);
  EXPECT_EQ(env.initialised, 0);
}

TEST_F(FrameTest, AWordBreakFailureGivesSevenAndLeavesTheEnvironmentInitialised) {
  std::filesystem::create_directories(folder_ / "empty-tbmres");
  ::setenv("TBM_WBR_DATA_DIR", (folder_ / "empty-tbmres").c_str(), 1);
  MDbEnv env;
  MDbEnvInitialize(&env);
  EXPECT_EQ(MDbInit(&env, 1), MDbErrWordBreak);
  ::unsetenv("TBM_WBR_DATA_DIR");
  EXPECT_EQ(env.initialised, 1);
  EXPECT_EQ(MDbShutdown(&env), MDbErrNone);
}

TEST_F(FrameTest, CreateOpenVerifyCloseAndDelete) {
  const auto path = Path("Sales.tbm");
  ASSERT_EQ(MDbCreate(&env_, path.c_str(), &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbIsOpened(&env_, &env_.ref), 1);
  EXPECT_EQ(MDbVerifyChecksome(&env_, &env_.ref), MDbErrFailed) << "never written";
  ASSERT_EQ(MDbWriteChecksome(&env_, &env_.ref, 1), MDbErrNone);
  ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbRefIsOpened(&env_.ref), 0);
  EXPECT_EQ(MDbClose(&env_, &env_.ref), MDbErrFailed) << "already closed";

  ASSERT_EQ(MDbOpen(&env_, path.c_str(), &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbVerifyChecksome(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbOpen(&env_, path.c_str(), &env_.ref), MDbErrFailed) << "already open";
  ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbDelete(&env_, path.c_str()), MDbErrNone);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "Sales.tbm"));
  EXPECT_EQ(MDbDelete(&env_, path.c_str()), MDbErrFailed);
  EXPECT_EQ(MDbOpen(&env_, path.c_str(), &env_.ref), MDbErrCannotOpen);
  EXPECT_EQ(env_.ref.opened, 0);
}

TEST_F(FrameTest, HandheldPathsWorkInsideTheDeviceRoot) {
  ASSERT_EQ(MDbCreateDirectory(u"\\My Documents\\Tabulon"), MDbErrNone);
  EXPECT_EQ(MDbCreateDirectory(u"\\My Documents\\Tabulon"), MDbErrFailed) << "it exists";
  ASSERT_EQ(MDbCreate(&env_, u"\\My Documents\\Tabulon\\Kunden.tbm", &env_.ref), MDbErrNone);
  ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  EXPECT_TRUE(
      std::filesystem::exists(folder_ / "device" / "My Documents" / "Tabulon" / "Kunden.tbm"));
  EXPECT_EQ(MDbOpen(&env_, u"\\my documents\\tabulon\\KUNDEN.TBM", &env_.ref), MDbErrNone);
}

TEST_F(FrameTest, CreatingOverAnExistingFileLeavesItUntouched) {
  ASSERT_TRUE(tbm::testing::WriteWholeFile(folder_ / "notes.tbm", "a user's file"));
  EXPECT_EQ(MDbCreate(&env_, Path("notes.tbm").c_str(), &env_.ref), MDbErrFailed);
  EXPECT_EQ(env_.ref.opened, 0);
  EXPECT_EQ(tbm::testing::ReadWholeFile(folder_ / "notes.tbm"), "a user's file");
}

TEST_F(FrameTest, CreateNeedsAnInitialisedEnvironmentAndAClosedReference) {
  MDbEnv cold;
  MDbEnvInitialize(&cold);
  EXPECT_EQ(MDbCreate(&cold, Path("a.tbm").c_str(), &cold.ref), MDbErrFailed);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "a.tbm"));
  ASSERT_EQ(MDbCreate(&env_, Path("a.tbm").c_str(), &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbCreate(&env_, Path("b.tbm").c_str(), &env_.ref), MDbErrFailed);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "b.tbm"));
}

TEST_F(FrameTest, AFailedCreationLeavesNoFile) {
  // A folder that cannot hold the volume: the mount fails, nothing is made.
  EXPECT_EQ(MDbCreate(&env_, Path("missing/folder/x.tbm").c_str(), &env_.ref), MDbErrFailed);
  EXPECT_FALSE(std::filesystem::exists(folder_ / "missing"));
}

class HeaderTest : public FrameTest {
 protected:
  void SetUp() override {
    FrameTest::SetUp();
    ASSERT_EQ(MDbCreate(&env_, Path("h.tbm").c_str(), &env_.ref), MDbErrNone);
    ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  }
  void WriteHeader(std::vector<BYTE> bytes) {
    CEPROPVAL v{};
    v.propid = PropId(3, CEVT_BLOB);
    v.val.blob.dwCount = static_cast<DWORD>(bytes.size());
    v.val.blob.lpb = bytes.data();
    Tamper("h.tbm", 0x50000, &v);
  }
  std::int32_t Open() { return MDbOpen(&env_, Path("h.tbm").c_str(), &env_.ref); }
};

TEST_F(HeaderTest, OtherVersionsGiveBadFormatWithTheVolumeStillMounted) {
  WriteHeader({0x54, 0x52, 0x46, 0x43, 2, 0, 0, 0});  // 2.0
  EXPECT_EQ(Open(), MDbErrBadFormat);
  EXPECT_EQ(env_.ref.opened, 1);
  EXPECT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  WriteHeader({0x54, 0x52, 0x46, 0x43, 1, 0, 1, 0});  // 1.1
  EXPECT_EQ(Open(), MDbErrBadFormat);
  EXPECT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  WriteHeader({'X', 'R', 'F', 'C', 2, 0, 1, 0});
  EXPECT_EQ(Open(), MDbErrBadFormat);
  EXPECT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  WriteHeader({0x54, 0x52, 0x46, 0x43, 2, 0, 1, 0});
  EXPECT_EQ(Open(), MDbErrNone);
}

TEST_F(HeaderTest, AMissingOrMisshapenHeaderCannotBeOpened) {
  WriteHeader({0x54, 0x52, 0x46, 0x43, 2, 0, 1});  // one byte short
  EXPECT_EQ(Open(), MDbErrCannotOpen);
  EXPECT_EQ(env_.ref.opened, 1);
  EXPECT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  CEPROPVAL asText{};
  asText.propid = PropId(3, CEVT_LPWSTR);
  std::u16string text = u"TRFC";
  asText.val.lpwstr = text.data();
  CEPROPVAL removeBlock{};
  removeBlock.propid = PropId(3, CEVT_BLOB);
  removeBlock.wFlags = CEDB_PROPDELETE;
  Tamper("h.tbm", 0x50000, &removeBlock);
  Tamper("h.tbm", 0x50000, &asText);
  EXPECT_EQ(Open(), MDbErrCannotOpen) << "a header of the wrong type";
  EXPECT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  Tamper("h.tbm", 0x50000, nullptr);
  EXPECT_EQ(Open(), MDbErrCannotOpen) << "no header entry";
}

TEST_F(FrameTest, AFileThatIsNoVolumeCannotBeOpened) {
  ASSERT_TRUE(tbm::testing::WriteWholeFile(folder_ / "photo.tbm", std::string(4096, '\x7F')));
  EXPECT_EQ(MDbOpen(&env_, Path("photo.tbm").c_str(), &env_.ref), MDbErrCannotOpen);
  EXPECT_EQ(env_.ref.opened, 0);
}

TEST_F(FrameTest, TheConsistencyValueHasThreeOutcomes) {
  ASSERT_EQ(MDbCreate(&env_, Path("c.tbm").c_str(), &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbVerifyChecksome(&env_, &env_.ref), MDbErrFailed);
  ASSERT_EQ(MDbWriteChecksome(&env_, &env_.ref, 0), MDbErrNone);
  EXPECT_EQ(MDbVerifyChecksome(&env_, &env_.ref), MDbErrInconsistent);
  ASSERT_EQ(MDbWriteChecksome(&env_, &env_.ref, 1), MDbErrNone);
  EXPECT_EQ(MDbVerifyChecksome(&env_, &env_.ref), MDbErrNone);
  ASSERT_EQ(MDbWriteChecksome(&env_, &env_.ref, 7), MDbErrNone);
  EXPECT_EQ(MDbVerifyChecksome(&env_, &env_.ref), MDbErrInconsistent);
  ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbVerifyChecksome(&env_, &env_.ref), MDbErrFailed) << "closed";
  EXPECT_EQ(MDbWriteChecksome(&env_, &env_.ref, 1), MDbErrFailed) << "closed";

  // A value of the wrong size is unreadable.
  CEPROPVAL remove{};
  remove.propid = PropId(4, CEVT_UI4);
  remove.wFlags = CEDB_PROPDELETE;
  Tamper("c.tbm", 0x60000, &remove);
  CEPROPVAL small{};
  small.propid = PropId(4, CEVT_UI2);
  small.val.uiVal = 1;
  Tamper("c.tbm", 0x60000, &small);
  ASSERT_EQ(MDbOpen(&env_, Path("c.tbm").c_str(), &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbVerifyChecksome(&env_, &env_.ref), MDbErrFailed);
}

TEST_F(FrameTest, FileEnumerationRunsToItsEndAndBeyond) {
  ASSERT_EQ(MDbCreateDirectory(u"\\My Documents\\Tabulon"), MDbErrNone);
  for (const char16_t* name : {u"Kunden.tbm", u"Lager.tbm", u"notes.txt"}) {
    const std::u16string path = std::u16string(u"\\My Documents\\Tabulon\\") + name;
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(f, INVALID_HANDLE_VALUE);
    CloseFileHandle(f);
  }
  HANDLE find = nullptr;
  char16_t name[260];
  ASSERT_EQ(MDbFindFirstFile(&find, u"\\My Documents\\Tabulon\\*.tbm", name, sizeof name),
            MDbErrNone);
  std::vector<std::u16string> names = {name};
  std::int32_t rc;
  while ((rc = MDbFindNextFile(&find, name, sizeof name)) == MDbErrNone) names.push_back(name);
  EXPECT_EQ(rc, MDbErrNoMoreFiles);
  EXPECT_EQ(find, nullptr);
  EXPECT_EQ(MDbFindNextFile(&find, name, sizeof name), MDbErrFailed);
  EXPECT_EQ(MDbFindClose(&find), MDbErrFailed);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Kunden.tbm", u"Lager.tbm"}));
  EXPECT_EQ(MDbFindFirstFile(&find, u"\\My Documents\\Tabulon\\*.xls", name, sizeof name),
            MDbErrFailed);
}

TEST_F(FrameTest, NamesLongerThanTheBufferAreCut) {
  ASSERT_EQ(MDbCreateDirectory(u"\\Data"), MDbErrNone);
  HANDLE f =
      CreateFileW(u"\\Data\\Inventory 2026.tbm", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  CloseFileHandle(f);
  HANDLE find = nullptr;
  char16_t name[16];
  std::fill(std::begin(name), std::end(name), u'#');
  ASSERT_EQ(MDbFindFirstFile(&find, u"\\Data\\*", name, 12), MDbErrNone);
  EXPECT_EQ(std::u16string(name), u"Inven");
  EXPECT_EQ(name[6], u'#');
  EXPECT_EQ(MDbFindClose(&find), MDbErrNone);
  EXPECT_NE(find, nullptr) << "closing leaves the handle as it was";
}

}  // namespace
}  // namespace tbm::engine::testing

namespace tbm::engine::testing {
namespace {

TEST_F(FrameTest, ShutdownFreesAnOptionCacheLeftOpen) {
  ASSERT_EQ(MDbCreate(&env_, Path("cache.tbm").c_str(), &env_.ref), MDbErrNone);
  std::uint8_t options[2 * MDbOptionEntryBytes] = {};
  MDbFieldOptionEx wide;
  wide.width = 112;
  MDbEncodeFieldOptionEx(wide, options + MDbOptionEntryBytes + MDbOptionBytes);
  ASSERT_EQ(MDbFieldOpTblCreateEx(&env_, &env_.ref, options, 2), MDbErrNone);
  ASSERT_EQ(MDbFieldOpTblOpen(&env_, &env_.ref, &env_.fieldOptions, 1), MDbErrNone);
  std::uint8_t ex[MDbOptionExBytes];
  ASSERT_EQ(MDbFieldOpTblReadOptionEx(&env_, &env_.ref, &env_.fieldOptions, 1, ex), MDbErrNone);
  EXPECT_EQ(MDbDecodeFieldOptionEx(ex).width, 112);
  ASSERT_NE(env_.fieldOptions.cache, nullptr);
  ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  // The sanitizer build reports the cache if shutting down leaks it.
  EXPECT_EQ(MDbShutdown(&env_), MDbErrNone);
  EXPECT_EQ(env_.fieldOptions.cache, nullptr);
  EXPECT_EQ(env_.fieldOptions.opened, 0);
  ASSERT_EQ(MDbInit(&env_, 0), MDbErrNone);  // for the fixture's own shutdown
}

}  // namespace
}  // namespace tbm::engine::testing
