// Opening, using and closing find sessions.

#include <unicode/uloc.h>

#include <cstring>

#include "WordBreakTesting.h"

namespace tbm::wordbreak::testing {
namespace {

using Session = WordBreak;

TEST_F(Session, HoldsTheLocaleTheIteratorAndTheUpperCasedSearchText) {
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"de Jo", &session), TBMWBR_SUCCESS);
  ASSERT_NE(session, nullptr);
  ASSERT_NE(session->locale, nullptr);
  EXPECT_STREQ(session->locale, uloc_getDefault());
  EXPECT_NE(session->iterator, nullptr);
  EXPECT_EQ(session->searchLength, 5);
  EXPECT_EQ(std::u16string(session->upperSearch), u"DE JO");
  EXPECT_EQ(session->reserved, nullptr);
  EXPECT_NE(session->ruleImage, nullptr);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(Session, JoFindsJohnAndDeJongButNotMajor) {
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"jo", &session), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"John"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"de Jong"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"Major"), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(Session, TheComparisonRunsOnAcrossTheSpaceAfterAWordStart) {
  EXPECT_TRUE(Finds(u"JOHN SM", u"John Smith"));
  EXPECT_TRUE(Misses(u"JOHN SX", u"John Smith"));
}

TEST_F(Session, OneSessionAnswersForFieldAfterField) {
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"sm", &session), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"John Smith"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"Osmond"), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWFindWord(session, u""), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWFindWord(session, u"SMALL"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"Kismet"), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(Session, TwoSessionsOpenAtOnceKeepTheirOwnSearchTexts) {
  FWSession* first = nullptr;
  FWSession* second = nullptr;
  ASSERT_EQ(FWOpenSession(u"anna", &first), TBMWBR_SUCCESS);
  ASSERT_EQ(FWOpenSession(u"berg", &second), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(first, u"Anna Berg"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(second, u"Anna Berg"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(first, u"Berg"), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWFindWord(second, u"Anna"), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWCloseSession(first), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(second, u"Bergstrom"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWCloseSession(second), TBMWBR_SUCCESS);
}

TEST_F(Session, FieldTextsMayBeFreedBeforeTheSessionCloses) {
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"smith", &session), TBMWBR_SUCCESS);
  {
    const std::u16string field = u"John Smith";
    EXPECT_EQ(FWFindWord(session, field.c_str()), TBMWBR_SUCCESS);
  }
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(Session, TheSearchTextMayBeFreedOnceTheSessionIsOpen) {
  FWSession* session = nullptr;
  {
    std::u16string search = u"smith";
    ASSERT_EQ(FWOpenSession(search.c_str(), &session), TBMWBR_SUCCESS);
    search.assign(u"xxxxx");
  }
  EXPECT_EQ(FWFindWord(session, u"John Smith"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(Session, SessionsOpenBeforeASecondSetUpKeepWorking) {
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"jo", &session), TBMWBR_SUCCESS);
  ASSERT_EQ(TBMWbrInit(), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"Mary-Jo"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(Session, OpeningWithoutASearchTextFails) {
  FWSession* session = nullptr;
  EXPECT_EQ(FWOpenSession(nullptr, &session), TBMWBR_FAILURE);
  EXPECT_EQ(session, nullptr);
}

TEST_F(Session, OpeningWithoutAPlaceForTheSessionFails) {
  EXPECT_EQ(FWOpenSession(u"jo", nullptr), TBMWBR_FAILURE);
}

TEST_F(Session, FindingWithoutASessionFails) {
  EXPECT_EQ(FWFindWord(nullptr, u"John"), TBMWBR_FAILURE);
}

TEST_F(Session, FindingInNoTextFails) {
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"jo", &session), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, nullptr), TBMWBR_FAILURE);
  EXPECT_EQ(FWFindWord(session, u"John"), TBMWBR_SUCCESS) << "the session still works";
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(Session, ClosingNoSessionFails) { EXPECT_EQ(FWCloseSession(nullptr), TBMWBR_FAILURE); }

TEST_F(Session, AnEmptySearchTextIsFoundInAnyNonEmptyText) {
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"", &session), TBMWBR_SUCCESS);
  EXPECT_EQ(session->searchLength, 0);
  EXPECT_EQ(session->upperSearch[0], u'\0');
  EXPECT_EQ(FWFindWord(session, u"John"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u" "), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"-"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u""), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(Session, AnEmptyTextHoldsNothing) {
  EXPECT_TRUE(Misses(u"a", u""));
  EXPECT_TRUE(Misses(u" ", u""));
}

TEST_F(Session, ASearchTextLongerThanTheRestOfTheTextIsNotFound) {
  EXPECT_TRUE(Misses(u"johnny", u"John"));
  EXPECT_TRUE(Misses(u"smithers", u"John Smith"));
  EXPECT_TRUE(Finds(u"smith", u"John Smith"));
}

TEST_F(Session, CaseDoesNotMatter) {
  EXPECT_TRUE(Finds(u"jOhN", u"JOHN"));
  EXPECT_TRUE(Finds(u"JOHN", u"john"));
  EXPECT_TRUE(Finds(u"anna-lena", u"ANNA-LENA Meyer"));
}

TEST_F(Session, OnlyTheStartOfAWordCounts) {
  EXPECT_TRUE(Finds(u"mey", u"Anna Meyer"));
  EXPECT_TRUE(Misses(u"eyer", u"Anna Meyer"));
  EXPECT_TRUE(Misses(u"nna", u"Anna Meyer"));
}

}  // namespace
}  // namespace tbm::wordbreak::testing
