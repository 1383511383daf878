// Tables on the terminal line up however wide the characters are.
#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "TextTable.h"

namespace tbm::tools {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(TextTableTest, WideCharactersCountTwoColumnsAndMarksNone) {
  EXPECT_EQ(DisplayWidth("abc"), 3u);
  EXPECT_EQ(DisplayWidth("\xE5\xB1\xB1\xE7\x94\xB0"), 4u);  // 山田
  EXPECT_EQ(DisplayWidth("e\xCC\x81"), 1u);                 // e and a combining acute
  EXPECT_EQ(DisplayWidth("Zo\xC3\xAB"), 3u);
}

TEST(TextTableTest, ColumnsLineUpAfterWideText) {
  TextTable table({"Name", "City"});
  table.AddRow({"\xE5\xB1\xB1\xE7\x94\xB0 \xE5\xA4\xAA\xE9\x83\x8E", "Tokyo"});  // 山田 太郎
  table.AddRow({"Ann", "Lyon"});
  const std::vector<std::string> lines = Lines(table.Render());
  ASSERT_EQ(lines.size(), 4u);
  // "City" starts at the same screen column on every line.
  const std::size_t column = DisplayWidth(lines[0].substr(0, lines[0].find("City")));
  EXPECT_EQ(DisplayWidth(lines[2].substr(0, lines[2].find("Tokyo"))), column);
  EXPECT_EQ(DisplayWidth(lines[3].substr(0, lines[3].find("Lyon"))), column);
}

TEST(TextTableTest, LongAndMultiLineCellsAreCut) {
  TextTable table({"Notes"}, 10);
  table.AddRow({"a rather long note indeed"});
  table.AddRow({"first\nsecond"});
  const std::vector<std::string> lines = Lines(table.Render());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[2], "a rather \xE2\x80\xA6");
  EXPECT_EQ(DisplayWidth(lines[2]), 10u);
  EXPECT_EQ(lines[3], "first\xE2\x80\xA6");
}

TEST(TextTableTest, ControlCharactersShowEscapedAndTakeTheirWidth) {
  TextTable table({"Name", "Note"});
  table.AddRow({"\x1b[31mred\x1b[0m", "bell\a\ttab"});
  table.AddRow(
      {"\xE2\x80\xAE"
       "reversed",
       "nel\xC2\x85\xE2\x80\xA8"
       "end \xFF"});
  table.AddRow({"plain", "C:\\Temp"});
  const std::vector<std::string> lines = Lines(table.Render());
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[2], "\\x1b[31mred\\x1b[0m  bell\\x07\\ttab");
  EXPECT_EQ(lines[3], "\\u202ereversed      nel\\u0085\\u2028end \\xff");
  EXPECT_EQ(lines[4], "plain               C:\\Temp");
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find_first_of("\x07\x1b\t"), std::string::npos) << line;
  }
  EXPECT_EQ(EscapeControls("Zo\xC3\xAB \xE5\xB1\xB1"), "Zo\xC3\xAB \xE5\xB1\xB1");
}

TEST(TextTableTest, RightAlignedColumnsPadOnTheLeft) {
  TextTable table({"#", "Name"});
  table.AlignRight(0);
  table.AddRow({"9", "a"});
  table.AddRow({"10", "b"});
  const std::vector<std::string> lines = Lines(table.Render());
  EXPECT_EQ(lines[2], " 9  a");
  EXPECT_EQ(lines[3], "10  b");
}

}  // namespace
}  // namespace tbm::tools
