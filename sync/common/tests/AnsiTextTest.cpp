// Text between UTF-16 and the ANSI code pages, line breaks, and the
// refusals: no character is ever silently replaced.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "AnsiText.h"
#include "TestSupport.h"

namespace tbm::sync {
namespace {

using tbm::testing::ScopedEnvironment;

std::unique_ptr<AnsiCodePage> OpenPage(const char* name) {
  std::unique_ptr<AnsiCodePage> page;
  const Status status = AnsiCodePage::Open(name, &page);
  EXPECT_TRUE(status.ok()) << status.message();
  return page;
}

std::string ToAnsi(AnsiCodePage& page, std::u16string_view text) {
  std::string bytes;
  const Status status = page.ToExchangeText(text, &bytes);
  EXPECT_TRUE(status.ok()) << status.message();
  return bytes;
}

std::u16string FromAnsi(AnsiCodePage& page, std::string_view bytes) {
  std::u16string text;
  const Status status = page.FromExchangeText(bytes, &text);
  EXPECT_TRUE(status.ok()) << status.message();
  return text;
}

TEST(AnsiCodePage, MachineCodePageIsWindows1252UnlessSetOtherwise) {
  ScopedEnvironment unset(AnsiCodePage::kEnvironmentVariable, nullptr);
  std::unique_ptr<AnsiCodePage> page;
  ASSERT_TRUE(AnsiCodePage::OpenSystem(&page).ok());
  EXPECT_EQ(page->name(), "windows-1252");
  EXPECT_EQ(page->windowsNumber(), 1252u);
  EXPECT_EQ(ToAnsi(*page, u"Caf\u00e9 \u20ac5"),
            "Caf\xe9 \x80"
            "5");
}

TEST(AnsiCodePage, SettingTakesWindowsNumbersAndConverterNames) {
  {
    ScopedEnvironment japanese(AnsiCodePage::kEnvironmentVariable, "932");
    std::unique_ptr<AnsiCodePage> page;
    ASSERT_TRUE(AnsiCodePage::OpenSystem(&page).ok());
    EXPECT_EQ(page->windowsNumber(), 932u);
    EXPECT_EQ(ToAnsi(*page, u"\u65e5\u672c"), "\x93\xfa\x96\x7b");
  }
  {
    ScopedEnvironment named(AnsiCodePage::kEnvironmentVariable, "Shift_JIS");
    std::unique_ptr<AnsiCodePage> page;
    ASSERT_TRUE(AnsiCodePage::OpenSystem(&page).ok());
    EXPECT_EQ(page->name(), "windows-932");
    EXPECT_EQ(page->windowsNumber(), 932u);
  }
  {
    ScopedEnvironment cyrillic(AnsiCodePage::kEnvironmentVariable, "windows-1251");
    std::unique_ptr<AnsiCodePage> page;
    ASSERT_TRUE(AnsiCodePage::OpenSystem(&page).ok());
    EXPECT_EQ(page->windowsNumber(), 1251u);
    EXPECT_EQ(ToAnsi(*page, u"\u041c\u0438\u0440"), "\xcc\xe8\xf0");
  }
}

TEST(AnsiCodePage, UnknownSettingIsAnErrorThatNamesIt) {
  ScopedEnvironment bogus(AnsiCodePage::kEnvironmentVariable, "klingon-7");
  std::unique_ptr<AnsiCodePage> page;
  const Status status = AnsiCodePage::OpenSystem(&page);
  EXPECT_EQ(status.code(), StatusCode::kUnknownCodePage);
  EXPECT_NE(status.message().find("TBM_ANSI_CODE_PAGE"), std::string::npos) << status.message();
  EXPECT_NE(status.message().find("\"klingon-7\" is not known"), std::string::npos)
      << status.message();
  EXPECT_EQ(page, nullptr);
}

TEST(AnsiCodePage, CodePagesThatCannotCarryExchangeTextAreRefused) {
  for (const char* name : {"UTF-16", "UTF-32", "ISO-2022-JP", "ibm-037", "UTF-7"}) {
    std::unique_ptr<AnsiCodePage> page;
    const Status status = AnsiCodePage::Open(name, &page);
    EXPECT_EQ(status.code(), StatusCode::kUnknownCodePage) << name;
    EXPECT_NE(status.message().find("cannot carry exchange files"), std::string::npos)
        << status.message();
    EXPECT_EQ(page, nullptr);
  }
}

TEST(AnsiCodePage, EastAsianCodePagesConvertBothWays) {
  struct Case {
    const char* page;
    std::u16string text;
    std::string bytes;
  };
  const Case cases[] = {
      {"932", u"\u65e5\u672c", "\x93\xfa\x96\x7b"},  // 日本
      {"936", u"\u4e2d\u6587", "\xd6\xd0\xce\xc4"},  // 中文, simplified
      {"949", u"\ud55c\uad6d", "\xc7\xd1\xb1\xb9"},  // 한국
      {"950", u"\u4e2d\u6587", "\xa4\xa4\xa4\xe5"},  // 中文, traditional
      {"932", u"\uff71\uff72 A", "\xb1\xb2 A"},      // half-width kana
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    std::unique_ptr<AnsiCodePage> page = OpenPage(c.page);
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(ToAnsi(*page, c.text), c.bytes);
    EXPECT_EQ(FromAnsi(*page, c.bytes), c.text);
  }
}

TEST(AnsiCodePage, LineBreaksTravelAsSingleLineFeeds) {
  std::unique_ptr<AnsiCodePage> page = OpenPage("windows-1252");
  EXPECT_EQ(ToAnsi(*page, u"12 Main St\r\nSpringfield\r\n"), "12 Main St\nSpringfield\n");
  EXPECT_EQ(ToAnsi(*page, u"old\rstyle"), "old\nstyle");
  EXPECT_EQ(ToAnsi(*page, u"bare\nfeed"), "bare\nfeed");
  EXPECT_EQ(ToAnsi(*page, u"\r\r\n\n"), "\n\n\n");
}

TEST(AnsiCodePage, LineFeedsFromTheFileBecomeCarriageReturnLineFeed) {
  std::unique_ptr<AnsiCodePage> page = OpenPage("windows-1252");
  EXPECT_EQ(FromAnsi(*page, "12 Main St\nSpringfield"), u"12 Main St\r\nSpringfield");
  EXPECT_EQ(FromAnsi(*page, "already\r\nwindows"), u"already\r\nwindows");
  EXPECT_EQ(FromAnsi(*page, "mac\rline"), u"mac\r\nline");
  EXPECT_EQ(FromAnsi(*page, "\n\n"), u"\r\n\r\n");
}

TEST(AnsiCodePage, PlainConversionLeavesLineBreaksAlone) {
  std::unique_ptr<AnsiCodePage> page = OpenPage("windows-1252");
  std::string bytes;
  ASSERT_TRUE(page->ToAnsi(u"a\r\nb", &bytes).ok());
  EXPECT_EQ(bytes, "a\r\nb");
  std::u16string text;
  ASSERT_TRUE(page->ToUtf16("a\nb", &text).ok());
  EXPECT_EQ(text, u"a\nb");
}

TEST(AnsiCodePage, CharacterOutsideTheCodePageIsNamedNotReplaced) {
  std::unique_ptr<AnsiCodePage> page = OpenPage("windows-1252");
  std::string bytes = "stale";
  const Status status = page->ToExchangeText(u"Tokyo \u6771\u4eac", &bytes);
  EXPECT_EQ(status.code(), StatusCode::kUnconvertibleText);
  EXPECT_EQ(status.message(),
            "the character U+6771 at character 7 cannot be written in code page windows-1252");
  EXPECT_TRUE(bytes.empty());
}

TEST(AnsiCodePage, PlaceOfABadCharacterCountsLinesAndCharacters) {
  std::unique_ptr<AnsiCodePage> page = OpenPage("windows-1252");
  std::string bytes;
  const Status status = page->ToExchangeText(u"first line\r\n\U0001F600 smile\r\nthird", &bytes);
  EXPECT_EQ(status.code(), StatusCode::kUnconvertibleText);
  EXPECT_NE(status.message().find("U+1F600 at line 2, character 1"), std::string::npos)
      << status.message();
}

TEST(AnsiCodePage, AccentedLettersMissingFromAnEastAsianPageAreRefused) {
  std::unique_ptr<AnsiCodePage> page = OpenPage("932");
  std::string bytes;
  const Status status = page->ToExchangeText(u"Zo\u00eb", &bytes);
  EXPECT_EQ(status.code(), StatusCode::kUnconvertibleText);
  EXPECT_NE(status.message().find("U+00EB at character 3"), std::string::npos) << status.message();
  EXPECT_NE(status.message().find("windows-932"), std::string::npos);
}

TEST(AnsiCodePage, LoneSurrogateIsABrokenCharacter) {
  std::unique_ptr<AnsiCodePage> page = OpenPage("windows-1252");
  std::string bytes;
  const std::u16string broken = {u'a', u'b', char16_t(0xD800), u'c'};
  const Status status = page->ToExchangeText(broken, &bytes);
  EXPECT_EQ(status.code(), StatusCode::kUnconvertibleText);
  EXPECT_NE(status.message().find("lone surrogate U+D800"), std::string::npos) << status.message();
}

TEST(AnsiCodePage, BytesNotValidInTheCodePageAreNamed) {
  std::unique_ptr<AnsiCodePage> page = OpenPage("932");
  std::u16string text = u"stale";
  const Status status = page->FromExchangeText("ab\x82\xff", &text);
  EXPECT_EQ(status.code(), StatusCode::kInvalidText);
  EXPECT_NE(status.message().find("0x82"), std::string::npos) << status.message();
  EXPECT_NE(status.message().find("at byte 3"), std::string::npos) << status.message();
  EXPECT_NE(status.message().find("windows-932"), std::string::npos) << status.message();
  EXPECT_TRUE(text.empty());
}

TEST(AnsiCodePage, TextEndingInsideACharacterIsRefused) {
  std::unique_ptr<AnsiCodePage> page = OpenPage("936");
  std::u16string text;
  const Status status = page->FromExchangeText("\xd6\xd0\xce", &text);
  EXPECT_EQ(status.code(), StatusCode::kInvalidText);
  EXPECT_NE(status.message().find("ends inside a character (0xCE at byte 3)"), std::string::npos)
      << status.message();
}

TEST(AnsiCodePage, FittingLengthStopsAtCharacterBoundaries) {
  std::unique_ptr<AnsiCodePage> japanese = OpenPage("932");
  const std::string nihongo = "\x93\xfa\x96\x7b\x8c\xea";  // 日本語
  EXPECT_EQ(japanese->FittingLength(nihongo, 6), 6u);
  EXPECT_EQ(japanese->FittingLength(nihongo, 5), 4u);
  EXPECT_EQ(japanese->FittingLength(nihongo, 1), 0u);
  EXPECT_EQ(japanese->FittingLength("a\x93\xfa"
                                    "b",
                                    2),
            1u);
  EXPECT_EQ(japanese->FittingLength("\xb1\xb2\xb3", 2), 2u);  // half-width kana: one byte each
  std::unique_ptr<AnsiCodePage> western = OpenPage("windows-1252");
  EXPECT_EQ(western->FittingLength("abcdef", 3), 3u);
  EXPECT_EQ(western->FittingLength("ab", 3), 2u);
}

TEST(AnsiCodePage, EmptyTextConvertsToEmptyText) {
  std::unique_ptr<AnsiCodePage> page = OpenPage("949");
  EXPECT_EQ(ToAnsi(*page, u""), "");
  EXPECT_EQ(FromAnsi(*page, ""), u"");
}

}  // namespace
}  // namespace tbm::sync
