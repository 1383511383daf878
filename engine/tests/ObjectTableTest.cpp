// Object-table entries: seeking, writing over and creating, counting a kind
// up to its first gap, deleting a kind.
#include "EngineFixture.h"
#include "ObjectTable.h"

namespace tbm::engine::testing {
namespace {

constexpr CEPROPID kName = PropId(3, CEVT_LPWSTR);
constexpr CEPROPID kBlock = PropId(2, CEVT_BLOB);

class ObjectTableTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    ASSERT_EQ(MDbCreate(&env_, Path("objects.tbm").c_str(), &env_.ref), MDbErrNone);
  }
  std::int32_t WriteName(std::uint16_t kind, std::uint16_t index, std::u16string text) {
    CEPROPVAL v{};
    v.propid = kName;
    v.val.lpwstr = text.data();
    return WriteEntry(&env_.ref, kind, index, &v, 1);
  }
  std::u16string ReadName(std::uint16_t kind, std::uint16_t index) {
    PropertyRead read;
    if (ReadEntry(&env_.ref, kind, index, kName, &read) != MDbErrNone) return u"<failed>";
    return read.value()->val.lpwstr;
  }
};

TEST_F(ObjectTableTest, WritingCreatesAnEntryThenOverwritesIt) {
  ASSERT_EQ(WriteName(MDbObjSchema, 0, u"Last name"), MDbErrNone);
  ASSERT_EQ(WriteName(MDbObjSchema, 1, u"First name"), MDbErrNone);
  EXPECT_EQ(ReadName(MDbObjSchema, 0), u"Last name");
  ASSERT_EQ(WriteName(MDbObjSchema, 0, u"Surname"), MDbErrNone);
  EXPECT_EQ(ReadName(MDbObjSchema, 0), u"Surname");
  EXPECT_EQ(ReadName(MDbObjSchema, 1), u"First name");
  std::uint16_t count = 0;
  ASSERT_EQ(CountEntries(&env_.ref, MDbObjSchema, &count), MDbErrNone);
  EXPECT_EQ(count, 2) << "overwriting made no second entry";
}

TEST_F(ObjectTableTest, MissingEntriesAndPropertiesFail) {
  EXPECT_EQ(ReadName(MDbObjSchema, 4), u"<failed>");
  ASSERT_EQ(WriteName(MDbObjValueList, 0, u"Red\r\nGreen"), MDbErrNone);
  PropertyRead read;
  EXPECT_EQ(ReadEntry(&env_.ref, MDbObjValueList, 0, kBlock, &read), MDbErrFailed);
  std::uint32_t word = 0;
  EXPECT_EQ(ReadEntryU32(&env_.ref, MDbObjValueList, 0, kName, &word), MDbErrFailed)
      << "a string is no 4-byte number";
}

TEST_F(ObjectTableTest, BlocksMustHaveTheirExactSize) {
  BYTE block[18] = {1, 0, 4, 'N', 'a', 'm', 'e'};
  CEPROPVAL v{};
  v.propid = kBlock;
  v.val.blob.dwCount = sizeof block;
  v.val.blob.lpb = block;
  ASSERT_EQ(WriteEntry(&env_.ref, MDbObjSchema, 0, &v, 1), MDbErrNone);
  BYTE out[18] = {};
  EXPECT_EQ(ReadEntryBlock(&env_.ref, MDbObjSchema, 0, kBlock, out, sizeof out), MDbErrNone);
  EXPECT_EQ(std::memcmp(out, block, sizeof block), 0);
  BYTE wrong[17];
  EXPECT_EQ(ReadEntryBlock(&env_.ref, MDbObjSchema, 0, kBlock, wrong, sizeof wrong), MDbErrFailed);
}

TEST_F(ObjectTableTest, CountingStopsAtTheFirstMissingIndex) {
  for (std::uint16_t i : {0, 1, 3}) ASSERT_EQ(WriteName(MDbObjFieldOptions, i, u"x"), MDbErrNone);
  ASSERT_EQ(WriteName(MDbObjValueList, 0, u"y"), MDbErrNone);
  std::uint16_t count = 99;
  ASSERT_EQ(CountEntries(&env_.ref, MDbObjFieldOptions, &count), MDbErrNone);
  EXPECT_EQ(count, 2);
  ASSERT_EQ(CountEntries(&env_.ref, MDbObjSchema, &count), MDbErrNone);
  EXPECT_EQ(count, 0);
}

TEST_F(ObjectTableTest, CountingFiftyFieldsWrittenInAnyOrder) {
  for (int i = 49; i >= 0; --i) {
    ASSERT_EQ(WriteName(MDbObjSchema, static_cast<std::uint16_t>(i), u"Field"), MDbErrNone);
  }
  std::uint16_t count = 0;
  ASSERT_EQ(CountEntries(&env_.ref, MDbObjSchema, &count), MDbErrNone);
  EXPECT_EQ(count, 50);
}

TEST_F(ObjectTableTest, DeletingAKindStopsAtItsFirstGapAndSparesOtherKinds) {
  for (std::uint16_t i : {0, 1, 2, 4}) ASSERT_EQ(WriteName(MDbObjSchema, i, u"f"), MDbErrNone);
  ASSERT_EQ(WriteName(MDbObjValueList, 0, u"list"), MDbErrNone);
  ASSERT_EQ(DeleteEntries(&env_.ref, MDbObjSchema), MDbErrNone);
  EXPECT_EQ(ReadName(MDbObjSchema, 0), u"<failed>");
  EXPECT_EQ(ReadName(MDbObjSchema, 4), u"f") << "beyond the gap";
  EXPECT_EQ(ReadName(MDbObjValueList, 0), u"list");
}

TEST_F(ObjectTableTest, AClosedReferenceTouchesNothing) {
  ASSERT_EQ(MDbClose(&env_, &env_.ref), MDbErrNone);
  std::uint16_t count = 0;
  EXPECT_EQ(CountEntries(&env_.ref, MDbObjSchema, &count), MDbErrFailed);
  EXPECT_EQ(WriteName(MDbObjSchema, 0, u"x"), MDbErrFailed);
  EXPECT_EQ(DeleteEntries(&env_.ref, MDbObjSchema), MDbErrFailed);
}

}  // namespace
}  // namespace tbm::engine::testing
