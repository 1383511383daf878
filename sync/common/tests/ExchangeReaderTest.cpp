// The reader on hand-built files: good ones read back field by field, and
// every kind of damage ends in its own error with a sentence saying where.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ExchangeBytes.h"
#include "ExchangeFile.h"

namespace tbm::sync {
namespace {

using testing::ExchangeBytes;

// The desktop's copy of a small customer list: formats filled in, one value
// list, three records of which the second carries no values.
ExchangeBytes DesktopCopy() {
  ExchangeBytes b;
  b.Counted("Customers", 256).I32(3).I32(3).I32(4);
  b.I16('/').Raw({2, 1, 1, 0}).I16(':');
  b.Counted("am", 6).Counted("pm", 6).Counted("h", 10).Raw({0, 1});
  b.I16(1);
  b.Descriptor(1, "Name", "NAME-KEY");
  b.Descriptor(3, "Since", "SINCE", 0, 0);
  b.Descriptor(1, "Status", "STATUS", 1, 1, 0);
  b.Zeros(20).Text("Active\nDormant\n-\nClosed");
  b.RecordHeader(1, "R001", 0x02, 0x00).Text("Zo\xeb Adams").Text("3/14/2001").Text("Active");
  b.RecordHeader(0, "R002", 0x05, 0x00, true);
  b.RecordHeader(1, "R003", 0x01, 0x01).Text("M\xfcller GmbH").Text("").Text("Dormant");
  return b;
}

Status ReadEverything(const std::vector<std::uint8_t>& bytes, ExchangeReadLimits limits = {}) {
  MemoryByteSource source(bytes);
  ExchangeReader reader(source, limits);
  ExchangeLayout layout;
  Status status = reader.ReadLayout(&layout);
  if (!status.ok()) return status;
  if (layout.valueListCount > 0) {
    std::vector<std::string> lists;
    status = reader.ReadValueLists(&lists);
    if (!status.ok()) return status;
  }
  while (reader.recordsLeft() > 0) {
    ExchangeRecord record;
    status = reader.ReadRecord(&record);
    if (!status.ok()) return status;
  }
  return status;
}

void ExpectFailure(const std::vector<std::uint8_t>& bytes, StatusCode error,
                   const std::string& words, ExchangeReadLimits limits = {}) {
  const Status status = ReadEverything(bytes, limits);
  EXPECT_EQ(status.code(), error) << status.message();
  EXPECT_NE(status.message().find(words), std::string::npos)
      << "expected \"" << words << "\" in \"" << status.message() << "\"";
}

TEST(ExchangeReader, ReadsEveryPartOfADesktopCopy) {
  const ExchangeBytes file = DesktopCopy();
  MemoryByteSource source(file.bytes());
  ExchangeReader reader(source);

  ExchangeLayout layout;
  ASSERT_TRUE(reader.ReadLayout(&layout).ok());
  const ExchangeHeader& h = layout.header;
  EXPECT_EQ(h.name, "Customers");
  EXPECT_EQ(h.fieldCount, 3);
  EXPECT_EQ(h.recordCount, 3);
  EXPECT_EQ(h.fullRecordCount, 4);
  EXPECT_EQ(h.dateSeparator, '/');
  EXPECT_EQ(h.dateOrder, 2);
  EXPECT_TRUE(h.twoDigitMonth);
  EXPECT_TRUE(h.twoDigitDay);
  EXPECT_FALSE(h.preferTypedSeparator);
  EXPECT_EQ(h.timeSeparator, ':');
  EXPECT_EQ(h.morningSuffix, "am");
  EXPECT_EQ(h.afternoonSuffix, "pm");
  EXPECT_EQ(h.twentyFourSuffix, "h");
  EXPECT_FALSE(h.leadingZero);
  EXPECT_TRUE(h.twelveHourClock);
  EXPECT_EQ(layout.valueListCount, 1);
  ASSERT_EQ(layout.fields.size(), 3u);
  EXPECT_EQ(layout.fields[1].type, 3);
  EXPECT_EQ(layout.fields[1].name, "Since");
  EXPECT_EQ(layout.fields[0].key, "NAME-KEY");
  EXPECT_EQ(layout.fields[0].valueListIndex, -1);
  EXPECT_EQ(layout.fields[2].optionWord1, 1);
  EXPECT_EQ(layout.fields[2].optionWord2, 1);
  EXPECT_EQ(layout.fields[2].valueListIndex, 0);

  std::vector<std::string> lists;
  ASSERT_TRUE(reader.ReadValueLists(&lists).ok());
  EXPECT_EQ(lists, std::vector<std::string>{"Active\nDormant\n-\nClosed"});

  ExchangeRecord record;
  ASSERT_TRUE(reader.ReadRecord(&record).ok());
  EXPECT_EQ(record.header.changeCode, kChangeNew);
  EXPECT_EQ(record.header.identity,
            (std::array<std::uint8_t, 10>{4, 'R', '0', '0', '1', 0, 0, 0, 2, 0}));
  EXPECT_EQ(record.values, (std::vector<std::string>{"Zo\xeb Adams", "3/14/2001", "Active"}));

  ASSERT_TRUE(reader.ReadRecord(&record).ok());
  EXPECT_EQ(record.header.changeCode, kChangeUnchanged);
  EXPECT_TRUE(record.header.noValues);
  EXPECT_TRUE(record.values.empty());

  ASSERT_TRUE(reader.ReadRecord(&record).ok());
  EXPECT_EQ(record.header.identity,
            (std::array<std::uint8_t, 10>{4, 'R', '0', '0', '3', 0, 0, 0, 1, 1}));
  EXPECT_EQ(record.values, (std::vector<std::string>{"M\xfcller GmbH", "", "Dormant"}));
  EXPECT_EQ(reader.recordsLeft(), 0);
  EXPECT_EQ(source.remaining(), 0u);
}

TEST(ExchangeReader, NeverReadsPastTheEndOfTheFile) {
  ExchangeBytes file = DesktopCopy();
  file.Raw("the stream goes on");
  MemoryByteSource source(file.bytes());
  ExchangeReader reader(source);
  ExchangeLayout layout;
  ASSERT_TRUE(reader.ReadLayout(&layout).ok());
  std::vector<std::string> lists;
  ASSERT_TRUE(reader.ReadValueLists(&lists).ok());
  ExchangeRecord record;
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(reader.ReadRecord(&record).ok());
  EXPECT_EQ(source.remaining(), std::string("the stream goes on").size());

  const Status more = reader.ReadRecord(&record);
  EXPECT_EQ(more.code(), StatusCode::kInvalidArgument);
  EXPECT_NE(more.message().find("all 3 records"), std::string::npos) << more.message();
}

// A source that hands out one byte per call, as a slow stream might.
class OneByteAtATime : public ByteSource {
 public:
  explicit OneByteAtATime(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
  std::size_t Read(void* buffer, std::size_t bytes) override {
    if (bytes == 0 || next_ >= bytes_.size()) return 0;
    *static_cast<std::uint8_t*>(buffer) = bytes_[next_++];
    return 1;
  }

 private:
  const std::vector<std::uint8_t>& bytes_;
  std::size_t next_ = 0;
};

TEST(ExchangeReader, SourceThatDeliversInPiecesReadsTheSame) {
  const ExchangeBytes file = DesktopCopy();
  OneByteAtATime source(file.bytes());
  ExchangeReader reader(source);
  ExchangeLayout layout;
  ASSERT_TRUE(reader.ReadLayout(&layout).ok());
  std::vector<std::string> lists;
  ASSERT_TRUE(reader.ReadValueLists(&lists).ok());
  ExchangeRecord record;
  ASSERT_TRUE(reader.ReadRecord(&record).ok());
  EXPECT_EQ(record.values[0], "Zo\xeb Adams");
}

TEST(ExchangeReader, HandheldFileWithoutRecordsOrFormatsReads) {
  ExchangeBytes file;
  file.Header("Empty", 0, 0).I16(0);
  MemoryByteSource source(file.bytes());
  ExchangeReader reader(source);
  ExchangeLayout layout;
  ASSERT_TRUE(reader.ReadLayout(&layout).ok());
  EXPECT_EQ(layout.header.name, "Empty");
  EXPECT_TRUE(layout.fields.empty());
  EXPECT_EQ(reader.recordsLeft(), 0);
  EXPECT_EQ(layout.header.dateOrder, 0);
  EXPECT_TRUE(layout.header.morningSuffix.empty());
}

TEST(ExchangeReader, UnknownTypesAndOrdersReadAsZero) {
  ExchangeBytes file;
  file.Counted("Odd", 256).I32(1).I32(0).I32(0).I16('-').U8(7).Zeros(29).I16(0);
  file.Descriptor(12, "Picture", "PIC");
  MemoryByteSource source(file.bytes());
  ExchangeReader reader(source);
  ExchangeLayout layout;
  ASSERT_TRUE(reader.ReadLayout(&layout).ok());
  EXPECT_EQ(layout.header.dateOrder, 0);
  EXPECT_EQ(layout.fields[0].type, 0);
}

TEST(ExchangeReader, ShortHeaderIsTruncation) {
  ExpectFailure(DesktopCopy().Cut(120), StatusCode::kTruncated,
                "ends inside its header (120 of 300 bytes)");
  ExpectFailure({}, StatusCode::kTruncated, "(0 of 300 bytes)");
}

TEST(ExchangeReader, EveryCutInsideTheFileIsTruncation) {
  const ExchangeBytes file = DesktopCopy();
  struct Cut {
    std::size_t at;
    const char* words;
  };
  // The value-list text is 23 bytes (24 with its zero); the first record
  // starts after it.
  const std::size_t records = 302 + 3 * 88 + 20 + 4 + 24;
  const Cut cuts[] = {
      {301, "the value-list count"},
      {302 + 88 + 10, "field 2: the exchange file ends inside its descriptor (10 of 88"},
      {302 + 3 * 88 + 5, "the value lists: the exchange file ends inside its record header"},
      {302 + 3 * 88 + 22, "value list 1: the exchange file ends inside the length of its text"},
      {302 + 3 * 88 + 30, "value list 1: the exchange file ends inside its text (6 of 24"},
      {records + 19, "record 1: the exchange file ends inside its record header (19 of 20"},
      {records + 20 + 14 + 1,
       "record 1, field 2: the exchange file ends inside the length of its text (1 of 4"},
      {file.size() - 1, "record 3, field 3: the exchange file ends inside its text (7 of 8"},
  };
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.at);
    ExpectFailure(file.Cut(cut.at), StatusCode::kTruncated, cut.words);
  }
}

TEST(ExchangeReader, FieldCountOutsideZeroToFiftyIsRefused) {
  ExchangeBytes negative = DesktopCopy();
  negative.Patch(256, {0xFF, 0xFF, 0xFF, 0xFF});
  ExpectFailure(negative.bytes(), StatusCode::kBadCount, "field count of -1");
  ExchangeBytes tooMany = DesktopCopy();
  tooMany.Patch(256, {51, 0, 0, 0});
  ExpectFailure(tooMany.bytes(), StatusCode::kBadCount, "field count of 51; it must be 0 to 50");
}

TEST(ExchangeReader, NegativeRecordCountIsRefused) {
  ExchangeBytes file = DesktopCopy();
  file.Patch(260, {0xFE, 0xFF, 0xFF, 0xFF});
  ExpectFailure(file.bytes(), StatusCode::kBadCount, "negative record count (-2)");
}

TEST(ExchangeReader, RecordCountLargerThanTheDataIsTruncation) {
  ExchangeBytes file = DesktopCopy();
  file.Patch(260, {0x10, 0x27, 0, 0});  // 10000 records announced, 3 present
  ExpectFailure(file.bytes(), StatusCode::kTruncated, "record 4: the exchange file ends");
}

TEST(ExchangeReader, ValueListCountOutsideItsRangeIsRefused) {
  ExchangeBytes negative = DesktopCopy();
  negative.Patch(300, {0xFF, 0xFF});
  ExpectFailure(negative.bytes(), StatusCode::kBadCount, "value-list count is -1");
  ExchangeBytes tooMany = DesktopCopy();
  tooMany.Patch(300, {0x00, 0x10});
  ExpectFailure(tooMany.bytes(), StatusCode::kBadCount, "value-list count is 4096");
}

TEST(ExchangeReader, CountedStringLongerThanItsSlotIsRefused) {
  struct Damage {
    std::size_t offset;
    int length;
    const char* words;
  };
  const Damage damages[] = {
      {276, 6, "the morning suffix: the length byte says 6 bytes, but the slot holds at most 5"},
      {282, 200, "the afternoon suffix: the length byte says 200"},
      {288, 10, "the 24-hour suffix: the length byte says 10 bytes, but the slot holds at most 9"},
      {302 + 88 + 2, 64, "field 2, the name: the length byte says 64 bytes"},
      {302 + 2 * 88 + 66, 16, "field 3, the key: the length byte says 16 bytes"},
  };
  for (const Damage& d : damages) {
    ExchangeBytes file = DesktopCopy();
    file.Patch(d.offset, {d.length});
    ExpectFailure(file.bytes(), StatusCode::kBadCountedString, d.words);
  }
}

TEST(ExchangeReader, IdentityLongerThanSevenBytesIsRefused) {
  ExchangeBytes file = DesktopCopy();
  // The first record (at 614) is a header and texts of 9, 9 and 6 bytes.
  const std::size_t secondRecord = 614 + 20 + (4 + 10) + (4 + 10) + (4 + 8);
  file.Patch(secondRecord + 12, {8});
  ExpectFailure(file.bytes(), StatusCode::kBadCountedString,
                "record 2: the record identity's length byte says 8 bytes, but at most 7");
}

TEST(ExchangeReader, ValueListIndexThatNamesNoListIsRefused) {
  ExchangeBytes file = DesktopCopy();
  file.Patch(302 + 2 * 88 + 86, {1, 0});
  ExpectFailure(file.bytes(), StatusCode::kCorrupt,
                "field 3: the value-list index 1 names none of the 1 value lists");
  ExchangeBytes below = DesktopCopy();
  below.Patch(302 + 86, {0xFE, 0xFF});
  ExpectFailure(below.bytes(), StatusCode::kCorrupt, "field 1: the value-list index -2");
}

// Twelve records of three fields; the third field of the twelfth claims
// 70000 bytes.
TEST(ExchangeReader, TextLengthAboveTheCallersLimitNamesRecordAndField) {
  ExchangeBytes file;
  file.Header("Log", 3, 12).I16(0);
  file.Descriptor(1, "When", "W").Descriptor(1, "Who", "O").Descriptor(1, "What", "A");
  for (int i = 0; i < 11; ++i) file.RecordHeader(1).Text("today").Text("me").Text("it");
  file.RecordHeader(1).Text("today").Text("me").I32(70000);
  ExchangeReadLimits limits;
  limits.maxFieldTextBytes = 2048;
  ExpectFailure(file.bytes(), StatusCode::kBadLength,
                "record 12, field 3: the text length 70000 is larger than the field allows "
                "(at most 2048 bytes)",
                limits);
}

TEST(ExchangeReader, HugeOrNegativeTextLengthIsRefusedBeforeAnyAllocation) {
  ExchangeBytes huge;
  huge.Header("Log", 1, 1).I16(0).Descriptor(1, "What", "A").RecordHeader(1).I32(0x7FFFFFFF);
  ExpectFailure(huge.bytes(), StatusCode::kBadLength,
                "record 1, field 1: the text length 2147483647 is larger than the field allows");
  ExchangeBytes negative;
  negative.Header("Log", 1, 1).I16(0).Descriptor(1, "What", "A").RecordHeader(1).I32(-5);
  ExpectFailure(negative.bytes(), StatusCode::kBadLength,
                "record 1, field 1: the text length -5 is negative");
}

TEST(ExchangeReader, ValueListAboveItsLimitIsRefused) {
  ExchangeReadLimits limits;
  limits.maxValueListTextBytes = 10;
  ExpectFailure(DesktopCopy().bytes(), StatusCode::kBadLength,
                "value list 1: the text length 23 is larger than a value list may be (at most 10",
                limits);
}

TEST(ExchangeReader, TextWithoutItsTerminatingZeroIsCorrupt) {
  ExchangeBytes file;
  file.Header("Log", 1, 1).I16(0).Descriptor(1, "What", "A").RecordHeader(1);
  file.I32(3).Raw("abcd");
  ExpectFailure(file.bytes(), StatusCode::kCorrupt,
                "record 1, field 1: the text of 3 bytes is not followed by its terminating zero");
}

TEST(ExchangeReader, ValueListBlockWithoutTextsGivesNoLists) {
  ExchangeBytes file;
  file.Header("Lists", 1, 1).I16(2).Descriptor(1, "Pick", "P", 0, 1, 1);
  file.RecordHeader(0, "", 0, 0, true);
  file.RecordHeader(1).Text("x");
  MemoryByteSource source(file.bytes());
  ExchangeReader reader(source);
  ExchangeLayout layout;
  ASSERT_TRUE(reader.ReadLayout(&layout).ok());
  std::vector<std::string> lists{"stale"};
  ASSERT_TRUE(reader.ReadValueLists(&lists).ok());
  EXPECT_TRUE(lists.empty());
  ExchangeRecord record;
  ASSERT_TRUE(reader.ReadRecord(&record).ok());
  EXPECT_EQ(record.values, std::vector<std::string>{"x"});
}

TEST(ExchangeReader, CallsOutOfOrderAreRefused) {
  const ExchangeBytes file = DesktopCopy();
  MemoryByteSource source(file.bytes());
  ExchangeReader reader(source);
  ExchangeRecord record;
  std::vector<std::string> lists;
  EXPECT_EQ(reader.ReadRecord(&record).code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(reader.ReadValueLists(&lists).code(), StatusCode::kInvalidArgument);
  ExchangeLayout layout;
  ASSERT_TRUE(reader.ReadLayout(&layout).ok());
  EXPECT_EQ(reader.ReadLayout(&layout).code(), StatusCode::kInvalidArgument);
  EXPECT_EQ(reader.ReadRecord(&record).code(), StatusCode::kInvalidArgument);
  EXPECT_TRUE(reader.ReadValueLists(&lists).ok());
  EXPECT_TRUE(reader.ReadRecord(&record).ok());
}

TEST(ExchangeReader, FirstFailureSticks) {
  const std::vector<std::uint8_t> cut = DesktopCopy().Cut(100);
  MemoryByteSource source(cut);
  ExchangeReader reader(source);
  ExchangeLayout layout;
  const Status first = reader.ReadLayout(&layout);
  ASSERT_EQ(first.code(), StatusCode::kTruncated);
  ExchangeRecord record;
  const Status later = reader.ReadRecord(&record);
  EXPECT_EQ(later.code(), StatusCode::kTruncated);
  EXPECT_EQ(later.message(), first.message());
}

TEST(ExchangeReader, ReadErrorOfTheSourceIsNamed) {
  // A folder opens for reading, but read() on it fails.
  HostFileSource source("/");
  ASSERT_TRUE(source.ok());
  ExchangeReader reader(source);
  ExchangeLayout layout;
  const Status status = reader.ReadLayout(&layout);
  EXPECT_EQ(status.code(), StatusCode::kTruncated);
  EXPECT_NE(status.message().find("read failed: Is a directory"), std::string::npos)
      << status.message();
}

}  // namespace
}  // namespace tbm::sync
