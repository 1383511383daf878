// Reading CSV files as people write them, and writing values so that they
// read back unchanged.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "CsvFile.h"

namespace tbm::tools {
namespace {

// Reads all of text as a file would be read; the rows, or the error.
struct ReadResult {
  std::vector<std::vector<CsvValue>> rows;
  std::vector<CsvPosition> rowStarts;
  bool failed = false;
  std::string error;
  CsvPosition errorAt;
};

ReadResult Read(const std::string& text) {
  ReadResult result;
  std::FILE* file = ::fmemopen(const_cast<char*>(text.data()), text.size(), "rb");
  if (text.empty()) file = std::tmpfile();
  CsvReader reader(file, text.size());
  std::vector<CsvValue> row;
  while (reader.Next(&row)) {
    result.rows.push_back(row);
    result.rowStarts.push_back(reader.rowStart());
  }
  result.failed = reader.failed();
  result.error = reader.error();
  result.errorAt = reader.errorAt();
  std::fclose(file);
  return result;
}

std::vector<std::u16string> Texts(const std::vector<CsvValue>& row) {
  std::vector<std::u16string> texts;
  for (const CsvValue& v : row) texts.push_back(v.text);
  return texts;
}

TEST(CsvReaderTest, ReadsQuotedCommasQuotesAndLineBreaks) {
  const ReadResult r = Read(
      "Name,Company,Notes\n"
      "Zo\xC3\xAB M\xC3\xBCller,\"Smith, Jones & Co\",\"She said \"\"yes\"\"\"\n"
      "\xE5\xB1\xB1\xE7\x94\xB0,\"The \"\"Blue\"\" Door\",\"first line\nsecond line\"\n");
  ASSERT_FALSE(r.failed) << r.error;
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(Texts(r.rows[1]), (std::vector<std::u16string>{u"Zoë Müller", u"Smith, Jones & Co",
                                                           u"She said \"yes\""}));
  EXPECT_EQ(Texts(r.rows[2]), (std::vector<std::u16string>{u"山田", u"The \"Blue\" Door",
                                                           u"first line\nsecond line"}));
}

TEST(CsvReaderTest, KeepsSpacesAndEmptyValues) {
  const ReadResult r = Read("a,b,c\n  padded ,,\n");
  ASSERT_FALSE(r.failed);
  ASSERT_EQ(r.rows.size(), 2u);
  EXPECT_EQ(Texts(r.rows[1]), (std::vector<std::u16string>{u"  padded ", u"", u""}));
}

TEST(CsvReaderTest, AcceptsCrLfEndingsAByteOrderMarkAndNoFinalLineBreak) {
  const ReadResult r = Read("\xEF\xBB\xBFName,Qty\r\nPen,3\r\n\r\nInk,4");
  ASSERT_FALSE(r.failed);
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(Texts(r.rows[0])[0], u"Name");
  EXPECT_EQ(Texts(r.rows[2]), (std::vector<std::u16string>{u"Ink", u"4"}));
  EXPECT_EQ(r.rowStarts[2].line, 4u);
}

TEST(CsvReaderTest, PlacesEveryValueByLineAndCharacterColumn) {
  // The column counts characters: "é" and "山" are one column each.
  const ReadResult r = Read("h1,h2\n\xC3\xA9t\xC3\xA9,\"two\nlines\",x\n\xE5\xB1\xB1,z\n");
  ASSERT_FALSE(r.failed);
  ASSERT_EQ(r.rows.size(), 3u);
  EXPECT_EQ(r.rows[1][0].where.line, 2u);
  EXPECT_EQ(r.rows[1][0].where.column, 1u);
  EXPECT_EQ(r.rows[1][1].where.column, 5u);
  EXPECT_EQ(r.rows[1][2].where.line, 3u);
  EXPECT_EQ(r.rows[1][2].where.column, 8u);
  EXPECT_EQ(r.rows[2][1].where.line, 4u);
  EXPECT_EQ(r.rows[2][1].where.column, 3u);
  EXPECT_EQ(r.rowStarts[2].line, 4u);
}

TEST(CsvReaderTest, AnUnclosedQuoteIsReportedWhereItOpens) {
  const ReadResult r = Read("a,b\n1,2\n3,\"never closed\n4,5\n");
  EXPECT_TRUE(r.failed);
  EXPECT_EQ(r.errorAt.line, 3u);
  EXPECT_EQ(r.errorAt.column, 3u);
  EXPECT_NE(r.error.find("never closed"), std::string::npos);
}

TEST(CsvReaderTest, AStrayQuoteIsReportedWhereItStands) {
  const ReadResult inside = Read("a,b\nab\"c,d\n");
  EXPECT_TRUE(inside.failed);
  EXPECT_EQ(inside.errorAt.line, 2u);
  EXPECT_EQ(inside.errorAt.column, 3u);

  const ReadResult after = Read("a,b\n\"ab\"c,d\n");
  EXPECT_TRUE(after.failed);
  EXPECT_EQ(after.errorAt.line, 2u);
  EXPECT_EQ(after.errorAt.column, 5u);
}

TEST(CsvReaderTest, RowsBeforeAnErrorAreStillHandedOut) {
  const ReadResult r = Read("a\n1\n2\n\"3\n");
  EXPECT_TRUE(r.failed);
  EXPECT_EQ(r.rows.size(), 3u);
}

TEST(CsvReaderTest, RefusesTextThatIsNotUtf8) {
  const ReadResult r = Read("a,b\nok,\xFF\xFE\n");
  EXPECT_TRUE(r.failed);
  EXPECT_EQ(r.errorAt.line, 2u);
  EXPECT_EQ(r.errorAt.column, 4u);
  EXPECT_NE(r.error.find("UTF-8"), std::string::npos);
}

TEST(CsvReaderTest, RefusesANulCharacterWhereItStands) {
  // Quoted or not, a zero byte would cut the value where it is stored.
  for (const std::string& text :
       {std::string("Name,Note\nAnn,\"x\0y\"\n", 20), std::string("Name,Note\nAnn,xy\0\n", 18)}) {
    const ReadResult r = Read(text);
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.errorAt.line, 2u);
    EXPECT_EQ(r.errorAt.column, 7u);
    EXPECT_NE(r.error.find("NUL"), std::string::npos) << r.error;
  }
}

TEST(CsvReaderTest, RefusesUtf16TextWithOrWithoutItsByteOrderMark) {
  const std::string header = "Name:text,Born:date\nAnn,3/4/2002\n";
  std::string little;
  std::string big;
  for (const char c : header) {
    little += std::string{c, '\0'};
    big += std::string{'\0', c};
  }
  for (const std::string& text : {little, big, "\xFF\xFE" + little, "\xFE\xFF" + big}) {
    const ReadResult r = Read(text);
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.errorAt.line, 1u);
    EXPECT_EQ(r.errorAt.column, 1u);
    EXPECT_NE(r.error.find("UTF-16"), std::string::npos) << r.error;
    EXPECT_TRUE(r.rows.empty());
  }
  // Text in scripts far from Latin is not taken for UTF-16.
  const ReadResult cyrillic = Read("\xD0\x98\xD0\xBC\xD1\x8F\n\xD0\x98\xD0\xB2\n");
  EXPECT_FALSE(cyrillic.failed) << cyrillic.error;
}

TEST(CsvReaderTest, StopsAtAValueTooLongForAnyField) {
  std::string text = "a\n\"";
  text.append(kCsvMaxValueBytes + 10, 'x');
  text += "\"\n";
  const ReadResult r = Read(text);
  EXPECT_TRUE(r.failed);
  EXPECT_EQ(r.errorAt.line, 2u);
  EXPECT_EQ(r.rows.size(), 1u);
}

TEST(CsvReaderTest, AnEmptyFileHasNoRows) {
  const ReadResult r = Read("");
  EXPECT_FALSE(r.failed);
  EXPECT_TRUE(r.rows.empty());
}

std::string Value(std::string_view value) {
  std::string out;
  AppendCsvValue(&out, value);
  return out;
}

TEST(CsvWriterTest, PlainTextIsWrittenAsItIs) {
  EXPECT_EQ(Value("S\xC3\xA3o Paulo"), "S\xC3\xA3o Paulo");
  EXPECT_EQ(Value("O'Brien & Sons; est. 1921"), "O'Brien & Sons; est. 1921");
  EXPECT_EQ(Value(""), "");
}

TEST(CsvWriterTest, SeparatorsQuotesAndLineEndsAreQuoted) {
  EXPECT_EQ(Value("Smith, Jones & Co"), "\"Smith, Jones & Co\"");
  EXPECT_EQ(Value("The \"Blue\" Door"), "\"The \"\"Blue\"\" Door\"");
  EXPECT_EQ(Value("\""), "\"\"\"\"");
  EXPECT_EQ(Value("Call back.\nAsk for Anna."), "\"Call back.\nAsk for Anna.\"");
  EXPECT_EQ(Value("one\rtwo"), "\"one\rtwo\"");
  EXPECT_EQ(Value(" padded"), "\" padded\"");
}

TEST(CsvWriterTest, QuotesOnlyWhatNeedsQuotingAndReadsBackUnchanged) {
  const std::vector<std::string> values = {"plain",
                                           "with, comma",
                                           "say \"hi\"",
                                           "two\nlines",
                                           " padded ",
                                           "",
                                           "\xE6\x9D\xB1\xE4\xBA\xAC"};
  const std::string row = CsvRow(values);
  EXPECT_EQ(row.substr(0, 6), "plain,");
  EXPECT_NE(row.find("\"say \"\"hi\"\"\""), std::string::npos);
  const ReadResult back = Read(row);
  ASSERT_FALSE(back.failed) << back.error;
  ASSERT_EQ(back.rows.size(), 1u);
  EXPECT_EQ(Texts(back.rows[0]),
            (std::vector<std::u16string>{u"plain", u"with, comma", u"say \"hi\"", u"two\nlines",
                                         u" padded ", u"", u"東京"}));
}

}  // namespace
}  // namespace tbm::tools
