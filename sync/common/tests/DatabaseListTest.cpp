// The database list the handheld sends the desktop, byte by byte.
#include <gtest/gtest.h>

#include "DatabaseList.h"

namespace tbm::sync {
namespace {

TEST(DatabaseListTest, EntriesSitInTheirFixedSlots) {
  const std::vector<DatabaseListEntry> entries = {
      {kDatabaseExisting, "Sales", u"\\My Documents\\Tabulon\\Sales.tbm"},
      {kDatabaseBeingCreated, "", u""}};
  const auto bytes = EncodeDatabaseList(entries);
  ASSERT_TRUE(bytes);
  ASSERT_EQ(bytes->size(), 39102u);
  EXPECT_EQ((*bytes)[0], 2);
  EXPECT_EQ((*bytes)[1], 0);
  const std::uint8_t* first = bytes->data() + 2;
  EXPECT_EQ(first[0], 0);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(first + 1), 6), std::string("Sales\0", 6));
  // The path starts after the 260-byte name slot and a padding byte.
  EXPECT_EQ(first[262], '\\');
  EXPECT_EQ(first[263], 0);
  EXPECT_EQ(first[264], 'M');
  const std::uint8_t* second = first + 782;
  EXPECT_EQ(second[0], 1);
  EXPECT_EQ(second[1], 0);
}

TEST(DatabaseListTest, AnEmptyListIsACountOfZeroAndTheWholeTable) {
  const auto bytes = EncodeDatabaseList({});
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->size(), 2u + 50 * 782);
  EXPECT_EQ((*bytes)[0], 0);
}

TEST(DatabaseListTest, WhatIsWrittenReadsBack) {
  std::vector<DatabaseListEntry> entries;
  for (int i = 0; i < 50; ++i) {
    entries.push_back(
        {kDatabaseExisting, "Db \xE9" + std::to_string(i),
         u"\\My Documents\\Tabulon\\Db" + std::u16string(1, u'A' + i % 26) + u".tbm"});
  }
  entries.back().name = std::string(259, 'n');
  entries.back().path = std::u16string(259, u'p');
  const auto bytes = EncodeDatabaseList(entries);
  ASSERT_TRUE(bytes);
  const auto read = DecodeDatabaseList(bytes->data(), bytes->size());
  ASSERT_TRUE(read);
  ASSERT_EQ(read->size(), 50u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ((*read)[i].name, entries[i].name);
    EXPECT_EQ((*read)[i].path, entries[i].path);
  }
}

TEST(DatabaseListTest, ListsThatCannotBeWrittenOrReadAreRefused) {
  EXPECT_FALSE(EncodeDatabaseList(std::vector<DatabaseListEntry>(51)));
  EXPECT_FALSE(EncodeDatabaseList({{kDatabaseExisting, std::string(260, 'n'), u""}}));
  EXPECT_FALSE(EncodeDatabaseList({{kDatabaseExisting, "", std::u16string(260, u'p')}}));
  std::vector<std::uint8_t> bytes(kDatabaseListBytes, 0);
  EXPECT_FALSE(DecodeDatabaseList(bytes.data(), bytes.size() - 1));
  bytes[0] = 51;
  EXPECT_FALSE(DecodeDatabaseList(bytes.data(), bytes.size()));
  bytes[0] = 0xFF;
  bytes[1] = 0xFF;  // -1
  EXPECT_FALSE(DecodeDatabaseList(bytes.data(), bytes.size()));
  // A name filling its whole slot without a terminator ends at the slot.
  bytes.assign(kDatabaseListBytes, 'x');
  bytes[0] = 1;
  bytes[1] = 0;
  const auto read = DecodeDatabaseList(bytes.data(), bytes.size());
  ASSERT_TRUE(read);
  EXPECT_EQ((*read)[0].name.size(), 260u);
  EXPECT_EQ((*read)[0].path.size(), 260u);
}

}  // namespace
}  // namespace tbm::sync
