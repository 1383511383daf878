// The record set: the whole table and found sets, positions, new,
// duplicated and deleted records, and sorting by every field type.
#include "AgentFixture.h"

namespace tbm::engine::testing {
namespace {

using RecsetTest = AgentTest;
using Names = std::vector<std::u16string>;

TEST_F(RecsetTest, ShowAllIsTheWholeTableInCreationOrder) {
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrNone);
  EXPECT_EQ(rs_.usesFoundSet, 0);
  const Names last = Column(kLast);
  ASSERT_EQ(last.size(), 12u);
  EXPECT_EQ(last.front(), u"Johnson");
  EXPECT_EQ(last.back(), u"Adams");
  bool filtered = true;
  ASSERT_EQ(MDbRecsetIsFiltered(&env_, &rs_, &filtered), MDbErrNone);
  EXPECT_FALSE(filtered);
  EXPECT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrFailed) << "destroy first";
}

TEST_F(RecsetTest, AnInvalidSetRefusesEverythingButDestroy) {
  std::uint32_t count = 0;
  EXPECT_EQ(MDbRecsetGetRecCount(&env_, &rs_, &count), MDbErrFailed);
  EXPECT_EQ(MDbRecsetOpenRec(&env_, &rs_), MDbErrFailed);
  EXPECT_EQ(MDbRecsetNewRec(&env_, &rs_, nullptr), MDbErrFailed);
  EXPECT_EQ(MDbRecsetSort(&env_, &rs_, kLast, 0), MDbErrFailed);
  std::uint16_t fields = 0;
  EXPECT_EQ(MDbRecsetGetFldCount(&env_, &rs_, &fields), MDbErrFailed);
  EXPECT_EQ(MDbRecsetDestroy(&env_, &rs_), MDbErrNone);
}

TEST_F(RecsetTest, SortingTextFollowsTheCollationBothWays) {
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrNone);
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kLast, 0), MDbErrNone);
  const Names up = Column(kLast);
  EXPECT_EQ(up, (Names{u"Adams", u"de Jong", u"Garc\u00EDa", u"Johansson", u"Johnson", u"Major",
                       u"M\u00FCller", u"Nguyen", u"O'Brien", u"Okafor", u"Smith", u"Tanaka"}));
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kLast, 1), MDbErrNone);
  EXPECT_EQ(Column(kLast), Names(up.rbegin(), up.rend()));
  MDbSortDef def{};
  ASSERT_EQ(MDbRecsetGetSortDef(&env_, &rs_, &def), MDbErrNone);
  EXPECT_EQ(def.field, kLast);
  EXPECT_EQ(def.ascending, 0);
}

TEST_F(RecsetTest, NumbersSortByValueWithUnconvertibleTextFirst) {
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrNone);
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kQty, 0), MDbErrNone);
  EXPECT_EQ(Column(kQty), (Names{u"", u"none", u"-3", u"5", u"5.7", u"0005", u"5", u"7", u"12",
                                 u"15", u"50", u"1,234"}));
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kQty, 1), MDbErrNone);
  EXPECT_EQ(Column(kQty).back(), u"none") << "and last when descending";
}

TEST_F(RecsetTest, DatesAndTimesSortChronologically) {
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrNone);
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kBorn, 0), MDbErrNone);
  EXPECT_EQ(Column(kBorn), (Names{u"", u"never", u"10/10/1960", u"7/14/1970", u"5/6/1978",
                                  u"3/4/1985", u"3/4/1985", u"3/4/1990", u"12/31/1999",
                                  u"2/29/2004", u"1/5/2005", u"8/8/2008"}));
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kStart, 0), MDbErrNone);
  const Names times = Column(kStart);
  EXPECT_EQ(Names(times.begin() + 2, times.end()),
            (Names{u"12:00 AM", u"7:05 AM", u"8:00 AM", u"9:30 AM", u"9:30 AM", u"12:30 PM",
                   u"1:15 PM", u"3:00 PM", u"6:45 PM", u"11:59 PM"}));
}

TEST_F(RecsetTest, ModeTwoTogglesTheDirectionOnTheSameField) {
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrNone);
  MDbSortDef def{};
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kCity, 2), MDbErrNone);
  MDbRecsetGetSortDef(&env_, &rs_, &def);
  EXPECT_EQ(def.ascending, 1);
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kCity, 2), MDbErrNone);
  MDbRecsetGetSortDef(&env_, &rs_, &def);
  EXPECT_EQ(def.ascending, 0);
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kFirst, 2), MDbErrNone);
  MDbRecsetGetSortDef(&env_, &rs_, &def);
  EXPECT_EQ(def.field, kFirst);
  EXPECT_EQ(def.ascending, 1) << "another field starts ascending";
}

TEST_F(RecsetTest, SortingOnAFieldOutOfRangeLeavesTheSetAsItWas) {
  ASSERT_EQ(Find(kLast, u"jo"), MDbErrNone);
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kFieldCount, 0), MDbErrBadField);
  EXPECT_EQ(MDbRecsetSort(&env_, &rs_, -1, 0), MDbErrBadField);
  EXPECT_EQ(Column(kLast), (Names{u"Johnson", u"de Jong", u"Johansson"}));
}

TEST_F(RecsetTest, ASortKeepsTheFind) {
  ASSERT_EQ(Find(kLast, u"jo"), MDbErrNone);
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kFirst, 1), MDbErrNone);
  EXPECT_EQ(Column(kFirst), (Names{u"Pieter", u"Mary-Jo", u"Ada"}));
  bool filtered = false;
  MDbRecsetIsFiltered(&env_, &rs_, &filtered);
  EXPECT_TRUE(filtered);
}

TEST_F(RecsetTest, DuplicatingReturnsTheCopysPositionAndKeepsThePosition) {
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrNone);
  ASSERT_EQ(MDbRecsetSetInx(&env_, &rs_, 4), MDbErrNone);
  std::uint16_t copy = 0;
  ASSERT_EQ(MDBRecsetDupRec(&env_, &rs_, 4, &copy), MDbErrNone);
  EXPECT_EQ(copy, 12);
  std::uint16_t position = 0;
  ASSERT_EQ(MDbRecsetGetInx(&env_, &rs_, &position), MDbErrNone);
  EXPECT_EQ(position, 4);
  const Names last = Column(kLast);
  EXPECT_EQ(last[12], u"Okafor");
  ASSERT_EQ(MDbRecsetSetInx(&env_, &rs_, 12), MDbErrNone);
  ASSERT_EQ(MDbRecsetOpenRec(&env_, &rs_), MDbErrNone);
  const char16_t* born = nullptr;
  ASSERT_EQ(MDbRecsetGetFieldPtr(&env_, &rs_, kBorn, &born), MDbErrNone);
  EXPECT_EQ(std::u16string(born), u"2/29/2004");
  std::uint8_t state = 0;
  ASSERT_EQ(MDbDataRecGetState(&env_, &env_.ref, &env_.data, &rs_.rec, &state), MDbErrNone);
  EXPECT_EQ(state, MDbRecModified | MDbRecAdded);
  MDbRecsetCloseRec(&env_, &rs_);
}

TEST_F(RecsetTest, DuplicatingInAFoundSetAppendsToIt) {
  ASSERT_EQ(Find(kLast, u"jo"), MDbErrNone);
  std::uint16_t copy = 0;
  ASSERT_EQ(MDBRecsetDupRec(&env_, &rs_, 1, &copy), MDbErrNone);
  EXPECT_EQ(copy, 3);
  EXPECT_EQ(Column(kLast), (Names{u"Johnson", u"de Jong", u"Johansson", u"de Jong"}));
  bool dirty = false;
  MDbRecsetIsFilteredDirty(&env_, &rs_, &dirty);
  EXPECT_TRUE(dirty);
}

TEST_F(RecsetTest, DeletingAllOfAFoundSetLeavesTheOthers) {
  ASSERT_EQ(Find(kLast, u"jo"), MDbErrNone);
  ASSERT_EQ(MDbRecsetDelAllRec(&env_, &rs_, 0), MDbErrNone);
  std::uint32_t count = 9;
  ASSERT_EQ(MDbRecsetGetRecCount(&env_, &rs_, &count), MDbErrNone);
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(MDbDataTblGetRecCount(&env_, &env_.ref, &env_.data, &count), MDbErrNone);
  EXPECT_EQ(count, 9u);
  ASSERT_EQ(MDbDeleteTblGetRecCount(&env_, &env_.ref, &env_.data, &count), MDbErrNone);
  EXPECT_EQ(count, 3u) << "they came from the desktop, so copies are kept";
}

TEST_F(RecsetTest, DeletingAllWithoutAFindOrTrackingEmptiesTheTableAtOnce) {
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrNone);
  ASSERT_EQ(MDbRecsetDelAllRec(&env_, &rs_, 1), MDbErrNone);
  std::uint32_t count = 9;
  ASSERT_EQ(MDbRecsetGetRecCount(&env_, &rs_, &count), MDbErrNone);
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(MDbDeleteTblGetRecCount(&env_, &env_.ref, &env_.data, &count), MDbErrNone);
  EXPECT_EQ(count, 0u);
}

TEST_F(RecsetTest, DeletingOneMemberOfAFoundSet) {
  ASSERT_EQ(Find(kLast, u"jo"), MDbErrNone);
  ASSERT_EQ(MDbRecsetSetInx(&env_, &rs_, 1), MDbErrNone);
  ASSERT_EQ(MDbRecsetOpenRec(&env_, &rs_), MDbErrNone);
  EXPECT_EQ(MDbRecsetDelRec(&env_, &rs_, 1, 1), MDbErrFailed) << "a record is open";
  MDbRecsetCloseRec(&env_, &rs_);
  ASSERT_EQ(MDbRecsetDelRec(&env_, &rs_, 1, 1), MDbErrNone);
  EXPECT_EQ(Column(kLast), (Names{u"Johnson", u"Johansson"}));
  std::uint16_t position = 0;
  MDbRecsetSetInx(&env_, &rs_, 1);
  ASSERT_EQ(MDbRecsetDelRec(&env_, &rs_, 0, 1), MDbErrNone);
  ASSERT_EQ(MDbRecsetGetInx(&env_, &rs_, &position), MDbErrNone);
  EXPECT_EQ(position, 0xFFFF) << "the position becomes -1";
  EXPECT_EQ(MDbRecsetDelRec(&env_, &rs_, 5, 1), MDbErrFailed) << "no member there";
}

TEST_F(RecsetTest, ANewRecordWithoutAFindIsTheLastPosition) {
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrNone);
  std::uint16_t position = 0;
  ASSERT_EQ(MDbRecsetNewRec(&env_, &rs_, &position), MDbErrNone);
  EXPECT_EQ(position, 12);
  bool dirty = true;
  MDbRecsetIsFilteredDirty(&env_, &rs_, &dirty);
  EXPECT_FALSE(dirty) << "no find is in force";
  EXPECT_EQ(rs_.dirty, 1);
}

TEST_F(RecsetTest, TheFieldDescriptionComesThroughTheSet) {
  ASSERT_EQ(MDbAgentQuery(&env_, &rs_, nullptr), MDbErrNone);
  std::uint16_t count = 0;
  ASSERT_EQ(MDbRecsetGetFldCount(&env_, &rs_, &count), MDbErrNone);
  EXPECT_EQ(count, kFieldCount);
  std::uint8_t type = 0;
  ASSERT_EQ(MDbRecsetGetFldType(&env_, &rs_, kBorn, &type), MDbErrNone);
  EXPECT_EQ(type, MDbFieldDate);
  char16_t name[32];
  ASSERT_EQ(MDbRecsetGetFldName(&env_, &rs_, kFirst, name, sizeof name), MDbErrNone);
  EXPECT_EQ(std::u16string(name), u"First name");
  std::uint32_t size = 0;
  ASSERT_EQ(MDbRecsetGetFieldMaxSize(&env_, &rs_, kCity, &size), MDbErrNone);
  EXPECT_EQ(size, 2049u);
  ASSERT_EQ(MDbRecsetGetFieldMaxSize(&env_, &rs_, kQty, &size), MDbErrNone);
  EXPECT_EQ(size, 256u);
  std::uint16_t orders[50];
  ASSERT_EQ(MDbRecsetGetDisplayOrders(&env_, &rs_, orders, 50), MDbErrNone);
  EXPECT_EQ(orders[kStart], kStart);
  std::swap(orders[0], orders[1]);
  ASSERT_EQ(MDbRecsetSetDisplayOrders(&env_, &rs_, orders), MDbErrNone);
  std::uint8_t ex[MDbOptionExBytes];
  ASSERT_EQ(MDbRecsetGetFldOptionEx(&env_, &rs_, 0, ex), MDbErrNone);
  EXPECT_EQ(MDbDecodeFieldOptionEx(ex).displayOrder, 1);
  ASSERT_EQ(MDbRecsetGetDefOptionEx(&env_, &rs_, ex, 3), MDbErrNone);
  EXPECT_EQ(MDbDecodeFieldOptionEx(ex).width, 75);
}

}  // namespace
}  // namespace tbm::engine::testing
