#include <gtest/gtest.h>

#include "Utf16.h"

namespace tbm {
namespace {

TEST(Utf16Conversion, RoundTripsEveryPlane) {
  const std::string text = "Zo\xC3\xAB M\xC3\xBCller \xE5\xB1\xB1\xE7\x94\xB0 \xF0\x9F\x93\x87";
  const std::u16string wide = Utf8ToUtf16(text);
  EXPECT_EQ(wide, u"Zo\u00EB M\u00FCller \u5C71\u7530 \U0001F4C7");
  EXPECT_EQ(Utf16ToUtf8(wide), text);
}

TEST(Utf16Conversion, IllFormedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xFF"
                        "b\xC3"),
            u"a\uFFFDb\uFFFD");
  const char16_t lone[] = {u'x', 0xD800, u'y'};
  EXPECT_EQ(Utf16ToUtf8(std::u16string_view(lone, 3)), "x\xEF\xBF\xBDy");
}

TEST(Utf16BufferRule, CutsToHalfTheBytesLessTheTerminator) {
  char16_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(CopyUtf16Cut(buffer, 8, u"Inventory"), 3u);
  EXPECT_EQ(std::u16string_view(buffer), u"Inv");
  EXPECT_EQ(buffer[4], u'#') << "nothing is written past the terminator";
}

TEST(Utf16BufferRule, OddSizesRoundDownAndTinyBuffersStayUntouched) {
  char16_t buffer[4] = {u'a', u'b', u'c', u'd'};
  EXPECT_EQ(CopyUtf16Cut(buffer, 7, u"Sales"), 2u);
  EXPECT_EQ(std::u16string_view(buffer), u"Sa");
  EXPECT_EQ(CopyUtf16Cut(buffer, 2, u"Sales"), 0u);
  EXPECT_EQ(buffer[0], 0);
  buffer[0] = u'z';
  EXPECT_EQ(CopyUtf16Cut(buffer, 1, u"Sales"), 0u);
  EXPECT_EQ(buffer[0], u'z');
  EXPECT_EQ(CopyUtf16Cut(nullptr, 100, u"Sales"), 0u);
}

TEST(Utf16CaseBlind, ComparesNamesTheWayTheHandheldDoes) {
  EXPECT_TRUE(EqualsIgnoreCase(u"My Documents", u"MY DOCUMENTS"));
  EXPECT_TRUE(EqualsIgnoreCase(u"\u00C9T\u00C9", u"\u00E9t\u00E9"));
  EXPECT_FALSE(EqualsIgnoreCase(u"Sales", u"Sale"));
  EXPECT_EQ(Utf16Length(u"Kontakte"), 8u);
  EXPECT_EQ(Utf16Length(nullptr), 0u);
  EXPECT_TRUE(Utf16View(nullptr).empty());
}

TEST(Utf16CaseBlind, OrdersNamesWithoutRegardToCase) {
  EXPECT_EQ(CompareIgnoreCase(u"Software", u"SOFTWARE"), 0);
  EXPECT_LT(CompareIgnoreCase(u"apple", u"Banana"), 0);
  EXPECT_GT(CompareIgnoreCase(u"Zebra", u"apple"), 0);
  EXPECT_LT(CompareIgnoreCase(u"Tab", u"tabulon"), 0);
  EXPECT_EQ(CompareIgnoreCase(u"", u""), 0);
}

}  // namespace
}  // namespace tbm
