// The writer's bytes, compared with files built by hand from the layout.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ExchangeBytes.h"
#include "ExchangeFile.h"

namespace tbm::sync {
namespace {

using testing::ExchangeBytes;

class ExchangeWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(AnsiCodePage::Open("windows-1252", &western_).ok());
    ASSERT_TRUE(AnsiCodePage::Open("932", &japanese_).ok());
  }

  // The handheld's layout for a two-field database: a name and a city.
  static ExchangeLayout Contacts(std::int32_t records) {
    ExchangeLayout layout;
    layout.header.name = "Contacts";
    layout.header.fieldCount = 2;
    layout.header.recordCount = records;
    layout.fields = {{1, "Name", "K01"}, {1, "City", "K02"}};
    return layout;
  }

  static ExchangeBytes ContactsBytes(std::int32_t records) {
    ExchangeBytes b;
    b.Header("Contacts", 2, records).I16(0);
    b.Descriptor(1, "Name", "K01").Descriptor(1, "City", "K02");
    return b;
  }

  std::unique_ptr<AnsiCodePage> western_;
  std::unique_ptr<AnsiCodePage> japanese_;
  MemoryByteSink sink_;
};

TEST_F(ExchangeWriterTest, HandheldLayoutHasNameCountsZeroFormatsAndDescriptors) {
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(Contacts(0)).ok());
  ASSERT_TRUE(writer.Finish().ok());

  const std::vector<std::uint8_t>& out = sink_.bytes();
  ASSERT_EQ(out.size(), 300u + 2u + 2u * 88u);
  EXPECT_EQ(out[0], 8);
  EXPECT_EQ(std::string(out.begin() + 1, out.begin() + 9), "Contacts");
  EXPECT_EQ(out[256], 2);  // F
  for (std::size_t i = 268; i < 300; ++i) EXPECT_EQ(out[i], 0) << "header byte " << i;
  EXPECT_EQ(out[300], 0);  // V = 0, then the descriptors at once
  EXPECT_EQ(out[301], 0);
  EXPECT_EQ(out, ContactsBytes(0).bytes());
}

TEST_F(ExchangeWriterTest, RecordCountIsWrittenTwiceUnlessTheFullCountIsGiven) {
  ExchangeLayout layout = Contacts(3);
  {
    MemoryByteSink sink;
    ExchangeWriter writer(sink, *western_);
    ASSERT_TRUE(writer.WriteLayout(layout).ok());
    const auto& out = sink.bytes();
    EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 260, out.begin() + 268),
              (std::vector<std::uint8_t>{3, 0, 0, 0, 3, 0, 0, 0}));
  }
  layout.header.recordCount = 5000;
  layout.header.fullRecordCount = 6000;
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(layout).ok());
  const auto& out = sink_.bytes();
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin() + 260, out.begin() + 268),
            (std::vector<std::uint8_t>{0x88, 0x13, 0, 0, 0x70, 0x17, 0, 0}));
}

TEST_F(ExchangeWriterTest, DesktopDateAndTimeFormatsLandAtTheirOffsets) {
  ExchangeLayout layout = Contacts(0);
  ExchangeHeader& h = layout.header;
  h.dateSeparator = '.';
  h.dateOrder = 3;
  h.twoDigitMonth = true;
  h.twoDigitDay = false;
  h.preferTypedSeparator = true;
  h.timeSeparator = ':';
  h.morningSuffix = "AM";
  h.afternoonSuffix = "PM";
  h.twentyFourSuffix = "Uhr";
  h.leadingZero = true;
  h.twelveHourClock = false;
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(layout).ok());

  ExchangeBytes expected;
  expected.Counted("Contacts", 256).I32(2).I32(0).I32(0);
  expected.I16('.').Raw({3, 1, 0, 1}).I16(':');
  expected.Counted("AM", 6).Counted("PM", 6).Counted("Uhr", 10).Raw({1, 0});
  const auto& out = sink_.bytes();
  ASSERT_GE(out.size(), 300u);
  EXPECT_EQ(std::vector<std::uint8_t>(out.begin(), out.begin() + 300), expected.bytes());
}

TEST_F(ExchangeWriterTest, UnknownFieldTypesAndDateOrdersAreWrittenAsZero) {
  ExchangeLayout layout = Contacts(0);
  layout.header.dateOrder = 6;
  layout.fields[0].type = 9;
  layout.fields[1].type = 4;
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(layout).ok());
  const auto& out = sink_.bytes();
  EXPECT_EQ(out[270], 0);
  EXPECT_EQ(out[302], 0);  // first descriptor's type
  EXPECT_EQ(out[303], 0);
  EXPECT_EQ(out[390], 4);  // second descriptor's type
}

TEST_F(ExchangeWriterTest, DescriptorCarriesOptionsAndValueListIndex) {
  ExchangeLayout layout;
  layout.header.name = "Stock";
  layout.header.fieldCount = 1;
  layout.valueListCount = 1;
  layout.fields = {{2, "Quantity", "Q1", 0x0003, 0x0001, 0}};
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(layout).ok());

  ExchangeBytes expected;
  expected.Header("Stock", 1, 0).I16(1).Descriptor(2, "Quantity", "Q1", 3, 1, 0);
  EXPECT_EQ(sink_.bytes(), expected.bytes());
}

TEST_F(ExchangeWriterTest, TextOfEvenLengthOccupiesLengthTextZeroAndPad) {
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(Contacts(1)).ok());
  const std::size_t start = sink_.bytes().size();
  const std::vector<std::string> values = {"Oslo", "Ada"};
  ASSERT_TRUE(writer.WriteRecord({kChangeNew, {}, false}, values).ok());
  ASSERT_TRUE(writer.Finish().ok());

  const std::vector<std::uint8_t> record(sink_.bytes().begin() + static_cast<long>(start),
                                         sink_.bytes().end());
  ASSERT_EQ(record.size(), 20u + (4 + 4 + 2) + (4 + 4));
  // "Oslo": 4 + 4 + 2 bytes.
  EXPECT_EQ(std::vector<std::uint8_t>(record.begin() + 20, record.begin() + 30),
            (std::vector<std::uint8_t>{4, 0, 0, 0, 'O', 's', 'l', 'o', 0, 0}));
  // "Ada": 4 + 4 bytes, no pad.
  EXPECT_EQ(std::vector<std::uint8_t>(record.begin() + 30, record.end()),
            (std::vector<std::uint8_t>{3, 0, 0, 0, 'A', 'd', 'a', 0}));
}

TEST_F(ExchangeWriterTest, MissingValueIsAnEmptyTextOfTwoZeroBytes) {
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(Contacts(1)).ok());
  const std::vector<std::string> values = {"", "Rome"};
  ASSERT_TRUE(writer.WriteRecord({kChangeModified, {}, false}, values).ok());

  ExchangeBytes expected = ContactsBytes(1);
  expected.RecordHeader(3).Raw({0, 0, 0, 0, 0, 0}).Text("Rome");
  EXPECT_EQ(sink_.bytes(), expected.bytes());
}

TEST_F(ExchangeWriterTest, RecordWithoutValuesIsFollowedDirectlyByTheNextHeader) {
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(Contacts(2)).ok());
  ASSERT_TRUE(writer.WriteRecord({kChangeUnchanged, {}, true}, {}).ok());
  const std::vector<std::string> values = {"Lee", "Leeds"};
  ASSERT_TRUE(writer.WriteRecord({kChangeNew, {}, false}, values).ok());
  ASSERT_TRUE(writer.Finish().ok());

  ExchangeBytes expected = ContactsBytes(2);
  expected.RecordHeader(0, "", 0, 0, true);
  expected.RecordHeader(1).Text("Lee").Text("Leeds");
  EXPECT_EQ(sink_.bytes(), expected.bytes());
  EXPECT_EQ(sink_.bytes()[478 + 8], 1);  // the flag byte of the first header
}

TEST_F(ExchangeWriterTest, IdentityTravelsAsCountedStringAndTwoTrailingBytes) {
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(Contacts(1)).ok());
  RecordHeader header;
  header.changeCode = kChangeDeleted;
  // Three identity bytes, then leftovers that are not part of the string.
  header.identity = {3, 'R', '4', '2', 0x55, 0x66, 0x77, 0x88, 0x12, 0x34};
  ASSERT_TRUE(writer.WriteRecord(header, std::vector<std::string>{"a", "b"}).ok());

  const std::vector<std::uint8_t> h(sink_.bytes().begin() + 478, sink_.bytes().begin() + 498);
  EXPECT_EQ(h, (std::vector<std::uint8_t>{2, 0,   0x12, 0x34, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                          3, 'R', '4',  '2',  0, 0, 0, 0}));
}

TEST_F(ExchangeWriterTest, IdentityLengthAboveSevenIsCutToSeven) {
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(Contacts(1)).ok());
  RecordHeader header;
  header.changeCode = kChangeModified;
  header.identity = {9, '1', '2', '3', '4', '5', '6', '7', 0, 1};
  ASSERT_TRUE(writer.WriteRecord(header, std::vector<std::string>{"a", "b"}).ok());
  const std::vector<std::uint8_t> head(sink_.bytes().begin() + 478 + 12,
                                       sink_.bytes().begin() + 478 + 20);
  EXPECT_EQ(head, (std::vector<std::uint8_t>{7, '1', '2', '3', '4', '5', '6', '7'}));
}

TEST_F(ExchangeWriterTest, ValueListBlockFollowsTheDescriptors) {
  ExchangeLayout layout;
  layout.header.name = "Orders";
  layout.header.fieldCount = 2;
  layout.valueListCount = 2;
  layout.fields = {{1, "Colour", "C", 0, 1, 1}, {1, "Size", "S", 0, 1, 0}};
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(layout).ok());
  const std::vector<std::string> lists = {"S\nM\nL", "Red\nGreen"};
  ASSERT_TRUE(writer.WriteValueLists(lists).ok());
  ASSERT_TRUE(writer.Finish().ok());

  ExchangeBytes expected;
  expected.Header("Orders", 2, 0).I16(2);
  expected.Descriptor(1, "Colour", "C", 0, 1, 1).Descriptor(1, "Size", "S", 0, 1, 0);
  expected.Zeros(20).Text("S\nM\nL").Text("Red\nGreen");
  EXPECT_EQ(sink_.bytes(), expected.bytes());
}

TEST_F(ExchangeWriterTest, LongNamesAreCutToTheirSlots) {
  ExchangeLayout layout = Contacts(0);
  layout.header.name = std::string(300, 'n');
  layout.fields[0].name = std::string(70, 'f');
  layout.header.morningSuffix = "morning";
  layout.header.twentyFourSuffix = "o'clock hours";
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(layout).ok());

  ExchangeBytes expected;
  expected.Counted(std::string(255, 'n'), 256).I32(2).I32(0).I32(0).Zeros(8);
  expected.Counted("morni", 6).Counted("", 6).Counted("o'clock h", 10).Zeros(2).I16(0);
  expected.Descriptor(1, std::string(63, 'f'), "K01").Descriptor(1, "City", "K02");
  EXPECT_EQ(sink_.bytes(), expected.bytes());
}

TEST_F(ExchangeWriterTest, CuttingNeverSplitsADoubleByteCharacter) {
  ExchangeLayout layout = Contacts(0);
  // 128 double-byte characters (256 bytes) in code page 932: only 127 fit.
  std::string name;
  for (int i = 0; i < 128; ++i) name += "\x93\xfa";  // 日
  layout.header.name = name;
  // "a" and 32 double-byte characters: 65 bytes; 63 would split the 32nd.
  std::string fieldName = "a";
  for (int i = 0; i < 32; ++i) fieldName += "\x96\x7b";  // 本
  layout.fields[0].name = fieldName;
  layout.header.morningSuffix = "\x8c\xdf\x91\x4f";  // 午前, 4 bytes: fits 5
  // 午後 and two bytes that are no character: each counts as one.
  layout.header.afternoonSuffix = "\x8c\xdf\x8c\xe3\x82\xff";
  layout.header.twentyFourSuffix = "\x8e\x9e\x8e\x9e\x8e\x9e\x8e\x9e\x8e\x9e";  // 時 x5
  ExchangeWriter writer(sink_, *japanese_);
  ASSERT_TRUE(writer.WriteLayout(layout).ok());

  const auto& out = sink_.bytes();
  EXPECT_EQ(out[0], 254);
  EXPECT_EQ(out[276], 4);
  EXPECT_EQ(out[282], 5);
  EXPECT_EQ(out[288], 8);
  EXPECT_EQ(out[302 + 2], 63);  // "a" and 31 characters
  EXPECT_EQ(out[302 + 2 + 63], 0x7b);
}

TEST_F(ExchangeWriterTest, BrokenContractsAreRefusedAndWriteNothing) {
  struct Case {
    const char* what;
    void (*damage)(ExchangeLayout*);
  };
  const Case cases[] = {
      {"field count", [](ExchangeLayout* l) { l->header.fieldCount = 3; }},
      {"record count", [](ExchangeLayout* l) { l->header.recordCount = -1; }},
      {"value-list count", [](ExchangeLayout* l) { l->valueListCount = 51; }},
      {"key", [](ExchangeLayout* l) { l->fields[1].key = "0123456789abcdef"; }},
      {"value-list index", [](ExchangeLayout* l) { l->fields[0].valueListIndex = 0; }},
      {"51 fields",
       [](ExchangeLayout* l) {
         l->fields.resize(51);
         l->header.fieldCount = 51;
       }},
  };
  for (const Case& c : cases) {
    MemoryByteSink sink;
    ExchangeWriter writer(sink, *western_);
    ExchangeLayout layout = Contacts(1);
    c.damage(&layout);
    const Status status = writer.WriteLayout(layout);
    EXPECT_EQ(status.code(), StatusCode::kInvalidArgument) << c.what;
    EXPECT_FALSE(status.message().empty()) << c.what;
    EXPECT_TRUE(sink.bytes().empty()) << c.what;
  }
}

TEST_F(ExchangeWriterTest, RecordsMustMatchTheLayout) {
  ExchangeWriter writer(sink_, *western_);
  const std::vector<std::string> two = {"Ann", "Bonn"};
  EXPECT_EQ(writer.WriteRecord({kChangeNew, {}, false}, two).code(), StatusCode::kInvalidArgument);
  ASSERT_TRUE(writer.WriteLayout(Contacts(1)).ok());
  const std::size_t afterLayout = sink_.bytes().size();

  const Status three =
      writer.WriteRecord({kChangeNew, {}, false}, std::vector<std::string>{"a", "b", "c"});
  EXPECT_EQ(three.code(), StatusCode::kInvalidArgument);
  EXPECT_NE(three.message().find("needs 2 values"), std::string::npos) << three.message();
  EXPECT_EQ(sink_.bytes().size(), afterLayout);

  EXPECT_EQ(writer.Finish().code(), StatusCode::kInvalidArgument);  // one record missing
  ASSERT_TRUE(writer.WriteRecord({kChangeNew, {}, false}, two).ok());
  EXPECT_EQ(writer.WriteRecord({kChangeNew, {}, false}, two).code(), StatusCode::kInvalidArgument);
  EXPECT_TRUE(writer.Finish().ok());
}

TEST_F(ExchangeWriterTest, ValueListsMustBeWrittenBeforeRecords) {
  ExchangeLayout layout = Contacts(1);
  layout.valueListCount = 1;
  ExchangeWriter writer(sink_, *western_);
  ASSERT_TRUE(writer.WriteLayout(layout).ok());
  EXPECT_EQ(writer.WriteRecord({kChangeNew, {}, false}, std::vector<std::string>{"a", "b"}).code(),
            StatusCode::kInvalidArgument);
  EXPECT_EQ(writer.WriteValueLists(std::vector<std::string>{"x", "y"}).code(),
            StatusCode::kInvalidArgument);
  EXPECT_TRUE(writer.WriteValueLists(std::vector<std::string>{"x"}).ok());
}

// A sink that takes at most a few bytes per call, as a stream may.
class TrickleSink : public ByteSink {
 public:
  std::size_t Write(const void* data, std::size_t bytes) override {
    const std::size_t n = bytes < 7 ? bytes : 7;
    const auto* p = static_cast<const std::uint8_t*>(data);
    taken.insert(taken.end(), p, p + n);
    return n;
  }
  std::vector<std::uint8_t> taken;
};

TEST_F(ExchangeWriterTest, SinkThatTakesBytesInPiecesGetsThemAll) {
  TrickleSink sink;
  ExchangeWriter writer(sink, *western_);
  ASSERT_TRUE(writer.WriteLayout(Contacts(1)).ok());
  ASSERT_TRUE(
      writer.WriteRecord({kChangeNew, {}, false}, std::vector<std::string>{"Lee", ""}).ok());
  ASSERT_TRUE(writer.Finish().ok());
  ExchangeBytes expected = ContactsBytes(1);
  expected.RecordHeader(1).Text("Lee").Text("");
  EXPECT_EQ(sink.taken, expected.bytes());
}

TEST_F(ExchangeWriterTest, FullDiskFailsTheFileAndEveryCallAfter) {
  HostFileSink sink("/dev/full");
  ASSERT_TRUE(sink.ok()) << sink.FailureReason();
  ExchangeWriter writer(sink, *western_);
  ASSERT_TRUE(writer.WriteLayout(Contacts(1)).ok());  // still in the sink's buffer
  ASSERT_TRUE(writer.WriteRecord({kChangeNew, {}, false}, std::vector<std::string>{"a", "b"}).ok());
  const Status status = writer.Finish();
  EXPECT_EQ(status.code(), StatusCode::kWriteFailed);
  EXPECT_NE(status.message().find("could not be written"), std::string::npos) << status.message();
  EXPECT_NE(status.message().find("No space left"), std::string::npos) << status.message();
  EXPECT_EQ(writer.Finish().code(), StatusCode::kWriteFailed);
}

TEST_F(ExchangeWriterTest, RefusingSinkFailsTheWriteAtOnce) {
  class RefusingSink : public ByteSink {
   public:
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::string FailureReason() const override { return "the stream was closed"; }
  } sink;
  ExchangeWriter writer(sink, *western_);
  const Status status = writer.WriteLayout(Contacts(0));
  EXPECT_EQ(status.code(), StatusCode::kWriteFailed);
  EXPECT_NE(status.message().find("the stream was closed"), std::string::npos);
  EXPECT_EQ(writer.Finish().code(), StatusCode::kWriteFailed);
}

}  // namespace
}  // namespace tbm::sync
