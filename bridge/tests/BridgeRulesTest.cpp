// The plug-in's pure rules through their interfaces: the two text tables,
// the set-aside file's lines and names, the merge decision table and the
// export's limits.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "AnsiText.h"
#include "ExportRules.h"
#include "HostExchangeText.h"
#include "MergeRules.h"
#include "SetAsideFile.h"

namespace tbm::bridge {
namespace {

TEST(HostTextTest, MacRomanAndWindowsTextsCrossBothWaysWithTheirLineEnds) {
  const HostTextForm form(1252);
  EXPECT_FALSE(form.lineEndsOnly());
  // "Müller & Söhne" with a line break and curly quotes, as the host keeps
  // it (Mac OS Roman, CR), and as the exchange file carries it (1252, LF).
  const std::string host = "M\x9Fller & S\x9Ahne\r\xD2Gr\xA7\x8A\xD3 \xDB 5";
  const std::string exchange = "M\xFCller & S\xF6hne\n\x93Gr\xDF\xE4\x94 \x80 5";
  EXPECT_EQ(form.ToExchange(host), exchange);
  EXPECT_EQ(form.ToHost(exchange), host);

  // Every upper byte goes there and back; ASCII stays but for line ends.
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<std::uint8_t>(b);
    if (b == 10 || b == 13) continue;
    EXPECT_EQ(form.ToHost(form.ToExchange(byte)), byte) << b;
    if (b < 128) {
      EXPECT_EQ(form.ToExchange(byte), byte) << b;
    }
  }
  EXPECT_EQ(form.ToExchange(std::string("a\rb\nc")), "a\nb\nc");
  EXPECT_EQ(form.ToHost(std::string("a\rb\nc")), "a\rb\rc");

  // A double-byte code page: the host already speaks it.
  for (const std::uint32_t codePage : {932u, 936u, 949u, 950u}) {
    const HostTextForm cjk(codePage);
    EXPECT_TRUE(cjk.lineEndsOnly());
    const std::string shiftJis = "\x93\xFA\x96\x7B\r\x8C\xEA";
    EXPECT_EQ(cjk.ToExchange(shiftJis), "\x93\xFA\x96\x7B\n\x8C\xEA");
    EXPECT_EQ(cjk.ToHost(cjk.ToExchange(shiftJis)), shiftJis);
  }
  EXPECT_FALSE(HostTextForm(1250).lineEndsOnly());
}

TEST(SetAsideTest, LinesQuoteEveryValueAndNamesStayInsideTheFolder) {
  const std::vector<std::string> values = {"Anna \"Nan\" Smith", "", "12,5",
                                           "line one\nline two\rend"};
  EXPECT_EQ(SetAsideLine(values),
            "\"Anna \"\"Nan\"\" Smith\",\"\",\"12,5\",\"line one\nline two\x0B"
            "end\"\r\n");
  EXPECT_EQ(SetAsideLine(std::vector<std::string>{}), "\r\n");

  std::unique_ptr<sync::AnsiCodePage> codePage;
  ASSERT_TRUE(sync::AnsiCodePage::Open("windows-1252", &codePage).ok());
  struct Case {
    std::string handheld;
    std::string file;
  };
  for (const Case& c : std::vector<Case>{{"Sales", "Sales.csv"},
                                         {"Sales.old", "Sales.csv"},
                                         {"V1.2 Kunden.tbm", "V1.2 Kunden.csv"},
                                         {"M\xFCller", "M\xC3\xBCller.csv"},
                                         {"../../etc/passwd.db", ".._.._etc_passwd.csv"},
                                         {"..\\..\\x.y", ".._.._x.csv"},
                                         {"/abs", "_abs.csv"},
                                         {"tab\there", "tab_here.csv"}}) {
    std::string file;
    ASSERT_TRUE(SetAsideFileName(c.handheld, *codePage, &file).ok()) << c.handheld;
    EXPECT_EQ(file, c.file);
  }
  for (const std::string refused : {"", ".", "..", "...", ".hidden"}) {
    std::string file = "untouched";
    const Status status = SetAsideFileName(refused, *codePage, &file);
    EXPECT_EQ(status.code(), StatusCode::kInvalidArgument) << refused;
    EXPECT_EQ(file, "untouched");
  }
}

TEST(MergeRulesTest, EachChangeCodeMeetsTheHostRecordAsTheTableSays) {
  struct Row {
    std::int16_t change;
    bool found;
    bool countEqual;
    bool textsEqual;
    std::int32_t rule;
    MergeAction action;
    std::uint16_t flags;
  };
  const std::vector<Row> rows = {
      {1, false, false, false, 1, MergeAction::kCreate, 0},
      {2, false, false, false, 1, MergeAction::kNothing, 0},
      {2, true, true, false, 1, MergeAction::kDelete, 0},
      {2, true, false, false, 1, MergeAction::kNothing, kFlagHostChangedOrGone},
      {3, false, false, false, 1, MergeAction::kCreate, kFlagHostChangedOrGone},
      {3, true, true, false, 1, MergeAction::kWriteInto, 0},
      {3, true, false, true, 1, MergeAction::kNothing, 0},
      {3, true, false, false, 1, MergeAction::kDuplicateAndWrite, kFlagChangedOnBoth},
      {3, true, false, false, 7, MergeAction::kDuplicateAndWrite, kFlagChangedOnBoth},
      {3, true, false, false, 2, MergeAction::kWriteInto, kFlagChangedOnBoth},
      {3, true, false, false, 3, MergeAction::kNothing, kFlagChangedOnBoth},
      {0, true, true, false, 1, MergeAction::kNothing, 0},
      {9, true, false, false, 1, MergeAction::kNothing, 0},
  };
  for (const Row& row : rows) {
    MergeSituation situation{row.change, row.found, row.countEqual, row.textsEqual, row.rule};
    const MergeDecision decision = DecideMerge(situation);
    EXPECT_EQ(decision.action, row.action) << row.change << row.found << row.countEqual;
    EXPECT_EQ(decision.flags, row.flags) << row.change << row.found << row.countEqual;
    EXPECT_EQ(MergeNeedsTextComparison(situation), row.change == 3 && row.found && !row.countEqual);
  }
}

TEST(ExportRulesTest, TextLimitsFollowTheFieldCountAndValueListsShareOneBudget) {
  EXPECT_EQ(TextLimitFor(1), 2048u);
  EXPECT_EQ(TextLimitFor(20), 2048u);
  EXPECT_EQ(TextLimitFor(21), 1536u);
  EXPECT_EQ(TextLimitFor(30), 1536u);
  EXPECT_EQ(TextLimitFor(31), 1024u);
  EXPECT_EQ(TextLimitFor(50), 1024u);

  // Each text counts with its terminator: 3 x 10,239 + 3 = 30,720 fits.
  const std::vector<std::size_t> exact = {10239, 10239, 10239};
  EXPECT_EQ(FirstValueListLeftEmpty(exact), 3u);
  const std::vector<std::size_t> over = {10239, 10239, 10240, 5};
  EXPECT_EQ(FirstValueListLeftEmpty(over), 2u);
  const std::vector<std::size_t> firstTooLong = {40000, 1};
  EXPECT_EQ(FirstValueListLeftEmpty(firstTooLong), 0u);
  EXPECT_EQ(FirstValueListLeftEmpty({}), 0u);
}

}  // namespace
}  // namespace tbm::bridge
