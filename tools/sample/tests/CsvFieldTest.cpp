// Writing contacts as CSV rows: every awkward value read back unchanged by a
// reader written apart.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "CsvReading.h"
#include "SampleContacts.h"

namespace tbm::sample::testing {
namespace {

TEST(WriteCsvRowTest, RowHoldsTenFieldsAndEndsWithALineFeed) {
  Contact contact;
  contact.name = "Zoë Müller";
  contact.company = "Smith, Jones & Co";
  contact.city = "Zürich";
  contact.born = "2/29/1988";
  contact.category = "Press";
  std::string out;
  WriteCsvRow(out, contact);
  EXPECT_EQ(out, "Zoë Müller,\"Smith, Jones & Co\",Zürich,,2/29/1988,,,Press,,\n");
}

TEST(WriteCsvRowTest, AwkwardValuesReadBackUnchanged) {
  const std::vector<std::string> awkward = {
      "",
      ",",
      "\"",
      "\"\"",
      "  leading and trailing spaces  ",
      "ends with a comma,",
      "\"quoted at both ends\"",
      "Windows line end\r\nsecond line",
      "two lines\nthe second with \"quotes\", and a comma",
      "\n",
      "山田 太郎",
  };
  std::string csv;
  std::vector<CsvRow> written;
  for (const std::string& value : awkward) {
    Contact contact;
    contact.name = value;
    contact.company = value;
    contact.notes = value;
    WriteCsvRow(csv, contact);
    CsvRow row;
    for (const std::string* field : contact.Fields()) row.push_back(*field);
    written.push_back(row);
  }
  const std::optional<std::vector<CsvRow>> read = ReadCsv(csv);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ(*read, written);
}

}  // namespace
}  // namespace tbm::sample::testing
