// Texts whose upper-case form is longer than they are: "ß" becomes "SS",
// ligatures come apart, "ŉ" becomes "ʼN". Such search texts open sessions,
// and such fields are searched like any other.

#include "WordBreakTesting.h"

namespace tbm::wordbreak::testing {
namespace {

using LongerUpperCase = WordBreak;

TEST_F(LongerUpperCase, ASearchTextWithSharpSOpensASession) {
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"Straße", &session), TBMWBR_SUCCESS);
  EXPECT_EQ(session->searchLength, 7);
  EXPECT_EQ(std::u16string(session->upperSearch), u"STRASSE");
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(LongerUpperCase, SharpSAloneIsASearchText) {
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"ß", &session), TBMWBR_SUCCESS);
  EXPECT_EQ(session->searchLength, 2);
  EXPECT_EQ(std::u16string(session->upperSearch), u"SS");
  EXPECT_EQ(FWFindWord(session, u"Ssangyong Motors"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"Weiß"), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(LongerUpperCase, AFieldWithSharpSIsFoundByItsSpellings) {
  EXPECT_TRUE(Finds(u"Straße", u"Straßenbahn Depot"));
  EXPECT_TRUE(Finds(u"STRASSE", u"Straße 5"));
  EXPECT_TRUE(Finds(u"strasse", u"Straße 5"));
  EXPECT_TRUE(Finds(u"weiß", u"Weiss GmbH"));
  EXPECT_TRUE(Finds(u"weiss", u"Weiß GmbH"));
}

TEST_F(LongerUpperCase, WordsAfterASharpSAreFoundAtTheirShiftedPlace) {
  EXPECT_TRUE(Finds(u"haupt", u"Hauptstraße 5"));
  EXPECT_TRUE(Finds(u"5", u"Hauptstraße 5"));
  EXPECT_TRUE(Finds(u"müller", u"Großmann Müller"));
  EXPECT_TRUE(Finds(u"straße 5", u"Straße 5"));
  EXPECT_TRUE(Misses(u"straße", u"Hauptstraße 5")) << "not the start of a word";
  EXPECT_TRUE(Misses(u"e 5", u"Hauptstraße 5"));
}

TEST_F(LongerUpperCase, ASearchRunningPastTheEndOfTheUpperCasedFieldIsNotFound) {
  EXPECT_TRUE(Finds(u"strasse", u"Straße"));
  EXPECT_TRUE(Misses(u"strassen", u"Straße"));
  EXPECT_TRUE(Misses(u"straßen", u"Straße"));
  EXPECT_TRUE(Misses(u"ßs", u"ß"));
}

TEST_F(LongerUpperCase, LigaturesComeApart) {
  EXPECT_TRUE(Finds(u"fin", u"\uFB01nance Department"));  // ﬁnance
  EXPECT_TRUE(Finds(u"\uFB01", u"Fiona Walsh"));
  EXPECT_TRUE(Finds(u"\uFB00", u"Ffion Jones"));  // ﬀ
  EXPECT_TRUE(Misses(u"\uFB00", u"Effie Moss"));
}

TEST_F(LongerUpperCase, NApostropheBecomesTwoCharacters) {
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"\u0149", &session), TBMWBR_SUCCESS);  // ŉ
  EXPECT_EQ(session->searchLength, 2);
  EXPECT_EQ(std::u16string(session->upperSearch), u"\u02BCN");
  EXPECT_EQ(FWFindWord(session, u"\u02BCn"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"Hans \u0149"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"N"), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(LongerUpperCase, ManyExpandingCharactersInOneField) {
  std::u16string field;
  for (int i = 0; i < 500; ++i) field += u"ßﬁ ";
  field += u"Ziel";
  EXPECT_TRUE(Finds(u"ziel", field));
  EXPECT_TRUE(Finds(u"ssfi ssfi", field));
  EXPECT_TRUE(Misses(u"fi", field));
}

}  // namespace
}  // namespace tbm::wordbreak::testing
