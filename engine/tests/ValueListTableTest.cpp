// Value lists: creating and deleting them, reading a list and its size
// under the buffer rule, damaged lists and the state every call needs.
#include "DescriptionFixture.h"

namespace tbm::engine::testing {
namespace {

class ValueListTableTest : public DescriptionTest {
 protected:
  void SetUp() override {
    DescriptionTest::SetUp();
    ASSERT_EQ(CreateValueLists(), MDbErrNone);
  }
  void Open() { ASSERT_EQ(MDbValListTblOpen(&env_, &env_.ref, tbl_), MDbErrNone); }
  std::u16string List(std::int16_t index, std::uint32_t bytes = 256, MDbEnv* env = nullptr) {
    char16_t buffer[128];
    std::fill(std::begin(buffer), std::end(buffer), u'#');
    if (ReadValueList(env ? env : &env_, &env_.ref, tbl_, index, buffer, bytes) != MDbErrNone) {
      return u"<failed>";
    }
    return buffer;
  }
  std::uint16_t Lists() {
    std::uint16_t count = 0;
    EXPECT_EQ(CountEntries(&env_.ref, MDbObjValueList, &count), MDbErrNone);
    return count;
  }

  MDbValListTbl* tbl_ = &env_.valueLists;
};

TEST_F(ValueListTableTest, CreatedListsReadBackWhole) {
  Open();
  EXPECT_EQ(Lists(), 3);
  EXPECT_EQ(List(0), u"Customer\r\nSupplier\r\n-\r\nOther");
  EXPECT_EQ(List(1), u"Germany\r\nFrance\r\nItaly\r\nUnited Kingdom\r\nUnited States");
  EXPECT_EQ(List(2), u"Yes\r\nNo");
}

TEST_F(ValueListTableTest, AListIsCutToTheCallersBuffer) {
  Open();
  EXPECT_EQ(List(0, 18), u"Customer") << "18 bytes hold eight characters and the terminator";
  EXPECT_EQ(List(0, 22), u"Customer\r\n");
  EXPECT_EQ(List(0, 2), u"");
  EXPECT_EQ(List(2, 1), u"<failed>") << "no room even for the terminator";
  EXPECT_EQ(List(2, 16), u"Yes\r\nNo") << "exactly the stored size";
}

TEST_F(ValueListTableTest, TheSizeCountsTheTerminator) {
  Open();
  std::uint32_t bytes = 0;
  ASSERT_EQ(GetValueListSize(&env_, &env_.ref, tbl_, 0, &bytes), MDbErrNone);
  EXPECT_EQ(bytes, 2u * (ContactValueLists()[0].size() + 1));
  ASSERT_EQ(GetValueListSize(&env_, &env_.ref, tbl_, 2, &bytes), MDbErrNone);
  EXPECT_EQ(bytes, 16u);
}

TEST_F(ValueListTableTest, AMissingListFailsAndLeavesTheBufferAlone) {
  Open();
  for (std::int16_t index : {std::int16_t{3}, std::int16_t{-1}, std::int16_t{255}}) {
    char16_t buffer[8] = {u'k', u'e', u'e', u'p', 0};
    EXPECT_EQ(ReadValueList(&env_, &env_.ref, tbl_, index, buffer, sizeof buffer), MDbErrFailed);
    EXPECT_EQ(std::u16string(buffer), u"keep");
    std::uint32_t bytes = 77;
    EXPECT_EQ(GetValueListSize(&env_, &env_.ref, tbl_, index, &bytes), MDbErrFailed);
    EXPECT_EQ(bytes, 77u);
  }
}

TEST_F(ValueListTableTest, CreationRefusesToWriteOverExistingLists) {
  const char16_t* lists[] = {u"Red\r\nGreen\r\nBlue"};
  EXPECT_EQ(MDbValListTblCreateEx(&env_, &env_.ref, lists, 1), MDbErrFailed);
  Open();
  EXPECT_EQ(List(0), u"Customer\r\nSupplier\r\n-\r\nOther");
}

TEST_F(ValueListTableTest, DeletingMakesRoomForNewLists) {
  ASSERT_EQ(MDbValListTblDelete(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(Lists(), 0);
  EXPECT_EQ(MDbValListTblDelete(&env_, &env_.ref), MDbErrNone) << "nothing left to delete";
  EXPECT_EQ(MDbValListTblCreateEx(&env_, &env_.ref, nullptr, 0), MDbErrNone);
  EXPECT_EQ(Lists(), 0) << "creating none writes nothing";
  const char16_t* lists[] = {u"Red\r\nGreen\r\nBlue", u""};
  ASSERT_EQ(MDbValListTblCreateEx(&env_, &env_.ref, lists, 2), MDbErrNone);
  Open();
  EXPECT_EQ(List(0), u"Red\r\nGreen\r\nBlue");
  EXPECT_EQ(List(1), u"") << "an empty list is a list";
}

TEST_F(ValueListTableTest, CreationStopsAtTheFirstFailedWriteAndKeepsWhatItWrote) {
  ASSERT_EQ(MDbValListTblDelete(&env_, &env_.ref), MDbErrNone);
  const std::u16string tooLong(40000, u'x');
  const char16_t* lists[] = {u"Yes\r\nNo", tooLong.c_str(), u"Red\r\nGreen"};
  EXPECT_EQ(MDbValListTblCreateEx(&env_, &env_.ref, lists, 3), MDbErrFailed);
  EXPECT_EQ(Lists(), 1);
  const char16_t* withNull[] = {u"Yes\r\nNo", nullptr};
  ASSERT_EQ(MDbValListTblDelete(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbValListTblCreateEx(&env_, &env_.ref, withNull, 2), MDbErrFailed);
  EXPECT_EQ(Lists(), 1);
}

TEST_F(ValueListTableTest, AListOfAnotherTypeIsDamage) {
  DamageType(MDbObjValueList, 1, kValueListProp);
  Open();
  EXPECT_EQ(List(1), u"<failed>");
  std::uint32_t bytes = 77;
  EXPECT_EQ(GetValueListSize(&env_, &env_.ref, tbl_, 1, &bytes), MDbErrFailed);
  EXPECT_EQ(List(2), u"Yes\r\nNo");
}

TEST_F(ValueListTableTest, AHandleOpensOnceAndClosesAlways) {
  MDbValListTbl tbl{};
  EXPECT_EQ(MDbValListTblIsOpened(&env_, &env_.ref, &tbl), 0);
  ASSERT_EQ(MDbValListTblOpen(&env_, &env_.ref, &tbl), MDbErrNone);
  EXPECT_EQ(MDbValListTblIsOpened(&env_, &env_.ref, &tbl), 1);
  EXPECT_EQ(MDbValListTblOpen(&env_, &env_.ref, &tbl), MDbErrFailed);
  EXPECT_EQ(MDbValListTblClose(&env_, &env_.ref, &tbl), MDbErrNone);
  EXPECT_EQ(MDbValListTblIsOpened(&env_, &env_.ref, &tbl), 0);
  EXPECT_EQ(MDbValListTblClose(&env_, &env_.ref, &tbl), MDbErrNone);
  EXPECT_EQ(MDbValListTblClose(&env_, &env_.ref, nullptr), MDbErrFailed);
}

TEST_F(ValueListTableTest, ReadingNeedsAnOpenTable) {
  EXPECT_EQ(List(0), u"<failed>");
  std::uint32_t bytes = 77;
  EXPECT_EQ(GetValueListSize(&env_, &env_.ref, tbl_, 0, &bytes), MDbErrFailed);
  EXPECT_EQ(bytes, 77u);
}

TEST_F(ValueListTableTest, NothingWorksWithoutAnInitialisedEnvironment) {
  Open();
  MDbEnv fresh;
  MDbEnvInitialize(&fresh);
  EXPECT_EQ(MDbValListTblDelete(&fresh, &env_.ref), MDbErrFailed);
  EXPECT_EQ(Lists(), 3) << "nothing was deleted";
  MDbValListTbl tbl{};
  EXPECT_EQ(MDbValListTblOpen(&fresh, &env_.ref, &tbl), MDbErrFailed);
  EXPECT_EQ(tbl.opened, 0);
  EXPECT_EQ(MDbValListTblIsOpened(&fresh, &env_.ref, tbl_), 0);
  EXPECT_EQ(List(0, 256, &fresh), u"<failed>");
  std::uint32_t bytes = 77;
  EXPECT_EQ(GetValueListSize(&fresh, &env_.ref, tbl_, 0, &bytes), MDbErrFailed);
  EXPECT_EQ(bytes, 77u);

  ASSERT_EQ(MDbValListTblDelete(&env_, &env_.ref), MDbErrNone);
  const char16_t* lists[] = {u"Yes\r\nNo"};
  EXPECT_EQ(MDbValListTblCreateEx(&fresh, &env_.ref, lists, 1), MDbErrFailed);
  EXPECT_EQ(Lists(), 0);
}

TEST_F(ValueListTableTest, NothingWorksOnAClosedVolume) {
  Open();
  ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  EXPECT_EQ(MDbValListTblIsOpened(&env_, &env_.ref, tbl_), 0);
  EXPECT_EQ(MDbValListTblDelete(&env_, &env_.ref), MDbErrFailed);
  EXPECT_EQ(CreateValueLists(), MDbErrFailed);
  MDbValListTbl tbl{};
  EXPECT_EQ(MDbValListTblOpen(&env_, &env_.ref, &tbl), MDbErrFailed);
  EXPECT_EQ(List(0), u"<failed>");
  ASSERT_EQ(MDbOpen(&env_, Path(kFile).c_str(), &env_.ref), MDbErrNone);
  EXPECT_EQ(Lists(), 3);
}

}  // namespace
}  // namespace tbm::engine::testing
