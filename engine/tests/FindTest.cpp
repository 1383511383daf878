// The find: word prefixes on text, whole values on numbers, dates and
// times when the search text converts, and records kept by the set while a
// find is in force.
#include "AgentFixture.h"
#include "DateTime.h"
#include "ObjectTable.h"
#include "Recset.h"

namespace tbm::engine::testing {
namespace {

using FindTest = AgentTest;
using Names = std::vector<std::u16string>;

TEST_F(FindTest, AWordPrefixFindsWordStartsWithoutRegardToCase) {
  ASSERT_EQ(Find(kLast, u"JO"), MDbErrNone);
  EXPECT_EQ(Column(kLast), (Names{u"Johnson", u"de Jong", u"Johansson"}));
  ASSERT_EQ(Find(kLast, u"jong"), MDbErrNone);
  EXPECT_EQ(Column(kLast), (Names{u"de Jong"}));
  ASSERT_EQ(Find(kFirst, u"jo"), MDbErrNone);
  EXPECT_EQ(Column(kFirst), (Names{u"John", u"Mary-Jo", u"Jos\u00E9", u"Joan"}));
  ASSERT_EQ(Find(kLast, u"brien"), MDbErrNone);
  EXPECT_EQ(Column(kLast), (Names{u"O'Brien"}));
  // "ß" upper-cases to "SS": both spellings find the city.
  ASSERT_EQ(Find(kCity, u"stra\u00DF"), MDbErrNone);
  EXPECT_EQ(Column(kCity), (Names{u"Stra\u00DFburg"}));
  ASSERT_EQ(Find(kCity, u"STRASSB"), MDbErrNone);
  EXPECT_EQ(Column(kCity), (Names{u"Stra\u00DFburg"}));
}

TEST_F(FindTest, ANumberOnANumberFieldComparesWholeValues) {
  ASSERT_EQ(Find(kQty, u"5"), MDbErrNone);
  // 5, 5.7 (integer part 5), 0005 and 5; not 15 or 50.
  EXPECT_EQ(Column(kQty), (Names{u"5", u"5.7", u"0005", u"5"}));
  ASSERT_EQ(Find(kQty, u"1234"), MDbErrNone);
  EXPECT_EQ(Column(kQty), (Names{u"1,234"}));
}

TEST_F(FindTest, ANumberOnATextFieldFindsWordsStartingWithIt) {
  ASSERT_EQ(Find(kCity, u"5"), MDbErrNone);
  EXPECT_EQ(Column(kCity), (Names{u"5 Route de Lyon"}));
}

TEST_F(FindTest, TextWithoutDigitsSearchesANumberFieldByWords) {
  ASSERT_EQ(Find(kQty, u"no"), MDbErrNone);
  EXPECT_EQ(Column(kQty), (Names{u"none"}));
}

TEST_F(FindTest, ADateWithTheYearLeftOutMeansThisYear) {
  // 3/4 is the 4th of March of the current year; nobody was born this year.
  SetCurrentYearForTesting(1985);
  ASSERT_EQ(Find(kBorn, u"3/4"), MDbErrNone);
  EXPECT_EQ(Column(kLast), (Names{u"Johnson", u"Adams"}));
  SetCurrentYearForTesting(0);
  ASSERT_EQ(Find(kBorn, u"03/04/1990"), MDbErrNone);
  EXPECT_EQ(Column(kLast), (Names{u"Smith"}));
}

TEST_F(FindTest, ATimeComparesAsSeconds) {
  ASSERT_EQ(Find(kStart, u"9:30 am"), MDbErrNone);
  EXPECT_EQ(Column(kLast), (Names{u"Johnson", u"Smith"}));
  ASSERT_EQ(Find(kStart, u"0:00"), MDbErrNone);
  EXPECT_EQ(Column(kLast), (Names{u"Major"})) << "12:00 AM is midnight";
}

TEST_F(FindTest, AnEmptySearchTextFindsEveryNonEmptyField) {
  ASSERT_EQ(Find(kQty, u""), MDbErrNone);
  std::uint32_t count = 0;
  ASSERT_EQ(MDbRecsetGetRecCount(&env_, &rs_, &count), MDbErrNone);
  EXPECT_EQ(count, 11u) << "all but Nguyen's empty quantity";
}

TEST_F(FindTest, AFindOnAFieldOfNoKnownTypeSearchesByWords) {
  // Retype the city field as 9 behind the engine's back.
  CEPROPVAL info{};
  std::uint8_t block[MDbFieldInfoBytes] = {9};
  info.propid = PropId(2, CEVT_BLOB);
  info.val.blob = {MDbFieldInfoBytes, block};
  ASSERT_EQ(WriteEntry(&env_.ref, MDbObjSchema, kCity, &info, 1), MDbErrNone);
  ASSERT_EQ(Find(kCity, u"lo"), MDbErrNone);
  EXPECT_EQ(Column(kCity), (Names{u"London"}));
}

TEST_F(FindTest, RecordsAddedOrEditedUnderAFindSurviveASortButNotTheNextFind) {
  ASSERT_EQ(Find(kLast, u"jo"), MDbErrNone);
  std::uint16_t position = 0;
  ASSERT_EQ(MDbRecsetNewRec(&env_, &rs_, &position), MDbErrNone);
  EXPECT_EQ(position, 3);
  // Johnson is edited so that the find no longer matches it.
  ASSERT_EQ(MDbRecsetSetInx(&env_, &rs_, 0), MDbErrNone);
  ASSERT_EQ(MDbRecsetOpenRec(&env_, &rs_), MDbErrNone);
  ASSERT_EQ(MDbRecsetSetField(&env_, &rs_, kLast, u"Baker"), MDbErrNone);
  ASSERT_EQ(MDbRecsetCloseRec(&env_, &rs_), MDbErrNone);
  bool dirty = false;
  ASSERT_EQ(MDbRecsetIsFilteredDirty(&env_, &rs_, &dirty), MDbErrNone);
  EXPECT_TRUE(dirty);
  ASSERT_EQ(MDbRecsetSort(&env_, &rs_, kLast, 0), MDbErrNone);
  EXPECT_EQ(Column(kLast), (Names{u"", u"Baker", u"de Jong", u"Johansson"}));
  ASSERT_EQ(Find(kLast, u"jo"), MDbErrNone);
  EXPECT_EQ(Column(kLast), (Names{u"de Jong", u"Johansson"}));
}

TEST_F(FindTest, TheNumberConversionKeepsTheIntegerPart) {
  std::int32_t v = 0;
  EXPECT_EQ(NumberValue(u"1,234", &v), MDbErrNone);
  EXPECT_EQ(v, 1234);
  EXPECT_EQ(NumberValue(u"-12.9", &v), MDbErrNone);
  EXPECT_EQ(v, -12);
  EXPECT_EQ(NumberValue(u"12-3", &v), MDbErrNone);
  EXPECT_EQ(v, 123);
  EXPECT_EQ(NumberValue(u"$ -0.5", &v), MDbErrNone);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(NumberValue(u"abc", &v), MDbErrNotANumber);
  EXPECT_EQ(NumberValue(u".5", &v), MDbErrNotANumber);
  EXPECT_EQ(NumberValue(u"2147483646", &v), MDbErrNone);
  EXPECT_EQ(NumberValue(u"2147483647", &v), MDbErrNumberRange);
  EXPECT_EQ(NumberValue(u"-2147483647", &v), MDbErrNone);
  EXPECT_EQ(v, -2147483647);
  EXPECT_EQ(NumberValue(u"-2147483648", &v), MDbErrNumberRange);
  EXPECT_EQ(NumberValue(u"99999999999999999999999999", &v), MDbErrNumberRange);
}

}  // namespace
}  // namespace tbm::engine::testing
