// Text beyond letters: emoji and other characters outside the basic plane,
// lone surrogates, control characters and long fields. None may crash a
// find, and none may put a boundary inside a character.

#include "WordBreakTesting.h"

namespace tbm::wordbreak::testing {
namespace {

using OddText = WordBreak;

TEST_F(OddText, AnEmojiIsAUnitOfItsOwn) {
  EXPECT_TRUE(Finds(u"🎉", u"Anna🎉"));
  EXPECT_TRUE(Finds(u"anna", u"🎉Anna"));
  EXPECT_TRUE(Finds(u"🎉 party", u"Anna 🎉 Party"));
  EXPECT_TRUE(Misses(u"\xDF89", u"Anna🎉")) << "no boundary inside the surrogate pair";
}

TEST_F(OddText, ASkinToneStaysWithItsEmoji) {
  EXPECT_TRUE(Finds(u"👍🏽", u"ok 👍🏽"));
  EXPECT_TRUE(Finds(u"👍", u"ok 👍🏽"));
  EXPECT_TRUE(Misses(u"🏽", u"ok 👍🏽"));
}

TEST_F(OddText, AJoinedEmojiSequenceIsOneUnit) {
  const std::u16string text = u"Dev 👩\u200D💻";
  EXPECT_TRUE(Finds(u"👩\u200D💻", text));
  EXPECT_TRUE(Misses(u"💻", text));
}

TEST_F(OddText, FlagsPairTheirRegionalIndicators) {
  const std::u16string flags = u"🇩🇪🇫🇷";
  EXPECT_TRUE(Finds(u"🇫🇷", flags));
  EXPECT_TRUE(Misses(u"🇪🇫", flags)) << "the E belongs to Germany's flag";
}

TEST_F(OddText, HanOutsideTheBasicPlaneIsFoundWhole) {
  const std::u16string name = u"王𠀋明";  // U+2000B, a surrogate pair
  EXPECT_TRUE(Finds(u"𠀋", name));
  EXPECT_TRUE(Finds(u"𠀋明", name));
  EXPECT_TRUE(Finds(u"明", name));
  EXPECT_TRUE(Misses(u"\xDC0B", name)) << "no boundary inside the surrogate pair";
}

TEST_F(OddText, LoneSurrogatesInAFieldAreUnitsOfTheirOwn) {
  EXPECT_TRUE(Finds(u"abc",
                    u"\xD800"
                    u"abc"));
  EXPECT_TRUE(Finds(u"def", u"abc\xDC00 def"));
  EXPECT_TRUE(Finds(u"abc", u"abc\xD800"));
  EXPECT_TRUE(Misses(u"x", u"\xDC00\xD800"));
  EXPECT_TRUE(Misses(u"bc",
                     u"\xDC00"
                     u"abc"));
}

TEST_F(OddText, ALoneSurrogateMayBeSearchedFor) {
  FWSession* session = nullptr;
  ASSERT_EQ(FWOpenSession(u"\xD800", &session), TBMWBR_SUCCESS);
  EXPECT_EQ(session->searchLength, 1);
  EXPECT_EQ(FWFindWord(session, u"x \xD800 y"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWFindWord(session, u"x y"), FW_WORD_NOT_FOUND);
  EXPECT_EQ(FWFindWord(session, u"\xD800"), TBMWBR_SUCCESS);
  EXPECT_EQ(FWCloseSession(session), TBMWBR_SUCCESS);
}

TEST_F(OddText, ControlCharactersSeparateWords) {
  EXPECT_TRUE(Finds(u"smith", u"John\tSmith"));
  EXPECT_TRUE(Finds(u"anna",
                    u"\x01\x02"
                    u"Anna\x7F"));
  EXPECT_TRUE(Finds(u"line2", u"Line1\r\nLine2"));
  EXPECT_TRUE(Finds(u"line2", u"Line1\rLine2"));
  EXPECT_TRUE(Finds(u"\t", u"a\tb"));
  EXPECT_TRUE(Misses(u"x", u"\x01\x02\x1F\x7F"));
}

TEST_F(OddText, ALineEndDoesNotCarryAMark) {
  EXPECT_TRUE(Finds(u"\u0301", u"a\n\u0301")) << "the mark after a line end stands alone";
  EXPECT_TRUE(Misses(u"\u0301", u"a\u0301"));
}

TEST_F(OddText, ATextOfSpacesHoldsOnlySpaces) {
  EXPECT_TRUE(Misses(u"a", u"     "));
  EXPECT_TRUE(Finds(u" ", u"     "));
}

TEST_F(OddText, ALongFieldIsSearchedToItsEnd) {
  std::u16string field;
  for (int i = 0; i < 20000; ++i) field += u"abc def ";
  EXPECT_TRUE(Misses(u"needle", field));
  field += u"Needle";
  EXPECT_TRUE(Finds(u"needle", field));
  EXPECT_TRUE(Misses(u"needles", field));
}

}  // namespace
}  // namespace tbm::wordbreak::testing
