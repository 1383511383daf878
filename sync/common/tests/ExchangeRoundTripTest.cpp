// Whole files written and read back as the two sides use them: the
// handheld's UTF-16 texts converted, written, read and converted back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ExchangeFile.h"
#include "TestSupport.h"

namespace tbm::sync {
namespace {

using tbm::testing::ScratchFolder;

struct Contact {
  std::int16_t change;
  std::array<std::uint8_t, 10> identity;
  std::vector<std::u16string> values;  // Name, Address, Notes
};

// What the handheld's database holds: CR LF line breaks, accented names.
std::vector<Contact> WesternContacts() {
  return {
      {kChangeNew, {}, {u"Zo\u00eb Fran\u00e7ois", u"12 Rue de l'\u00c9glise\r\n75004 Paris", u""}},
      {kChangeModified,
       {4, 'D', '0', '1', '7', 0, 0, 0, 0x03, 0x00},
       {u"J\u00fcrgen M\u00fcller", u"Stra\u00dfe 5\r\nBerlin", u"Prefers calls\r\nafter 5 pm"}},
      {kChangeDeleted, {5, 'D', '0', '2', '0', '1', 0, 0, 0x11, 0x01}, {u"", u"", u""}},
      {kChangeModified,
       {2, 'X', '9', 0, 0, 0, 0, 0, 0xFF, 0xFF},
       {u"Se\u00f1or Pe\u00f1a", u"", u"Price \u20ac40\r\n\r\nPaid: yes"}},
  };
}

class ExchangeRoundTrip : public ::testing::Test {
 protected:
  static std::unique_ptr<AnsiCodePage> Open(const char* name) {
    std::unique_ptr<AnsiCodePage> page;
    EXPECT_TRUE(AnsiCodePage::Open(name, &page).ok()) << name;
    return page;
  }

  // Writes the contacts as the agent does: header with name and counts, no
  // formats, no value lists, every text converted.
  static void WriteContacts(ByteSink& sink, AnsiCodePage& page, std::u16string_view name,
                            const std::vector<Contact>& contacts,
                            const std::vector<std::u16string>& fieldNames) {
    ExchangeLayout layout;
    ASSERT_TRUE(page.ToAnsi(name, &layout.header.name).ok());
    layout.header.fieldCount = static_cast<std::int32_t>(fieldNames.size());
    layout.header.recordCount = static_cast<std::int32_t>(contacts.size());
    for (std::size_t i = 0; i < fieldNames.size(); ++i) {
      FieldDescriptor field;
      field.type = 1;
      ASSERT_TRUE(page.ToAnsi(fieldNames[i], &field.name).ok());
      field.key = "F" + std::to_string(i);
      layout.fields.push_back(field);
    }
    ExchangeWriter writer(sink, page);
    ASSERT_TRUE(writer.WriteLayout(layout).ok());
    for (const Contact& contact : contacts) {
      std::vector<std::string> texts(contact.values.size());
      for (std::size_t i = 0; i < texts.size(); ++i) {
        ASSERT_TRUE(page.ToExchangeText(contact.values[i], &texts[i]).ok());
      }
      ASSERT_TRUE(writer.WriteRecord({contact.change, contact.identity, false}, texts).ok());
    }
    ASSERT_TRUE(writer.Finish().ok());
  }

  static void ExpectContacts(ByteSource& source, AnsiCodePage& page, std::u16string_view name,
                             const std::vector<Contact>& contacts) {
    ExchangeReader reader(source);
    ExchangeLayout layout;
    ASSERT_TRUE(reader.ReadLayout(&layout).ok());
    std::u16string readName;
    ASSERT_TRUE(page.ToUtf16(layout.header.name, &readName).ok());
    EXPECT_EQ(readName, name);
    ASSERT_EQ(reader.recordsLeft(), static_cast<std::int32_t>(contacts.size()));
    for (const Contact& contact : contacts) {
      ExchangeRecord record;
      const Status status = reader.ReadRecord(&record);
      ASSERT_TRUE(status.ok()) << status.message();
      EXPECT_EQ(record.header.changeCode, contact.change);
      EXPECT_EQ(record.header.identity, contact.identity);
      ASSERT_EQ(record.values.size(), contact.values.size());
      for (std::size_t i = 0; i < contact.values.size(); ++i) {
        std::u16string text;
        ASSERT_TRUE(page.FromExchangeText(record.values[i], &text).ok());
        EXPECT_EQ(text, contact.values[i]);
      }
    }
  }
};

TEST_F(ExchangeRoundTrip, AccentedMultiLineContactsSurviveInWindows1252) {
  std::unique_ptr<AnsiCodePage> page = Open("windows-1252");
  MemoryByteSink sink;
  WriteContacts(sink, *page, u"Kontakte M\u00fcnchen", WesternContacts(),
                {u"Name", u"Adresse", u"Notizen f\u00fcr Anrufe"});
  // Line breaks are single LFs in the file.
  const std::string all(sink.bytes().begin(), sink.bytes().end());
  EXPECT_NE(all.find("Stra\xdf"
                     "e 5\nBerlin"),
            std::string::npos);
  {
    MemoryByteSource source(sink.bytes());
    ExchangeReader reader(source);
    ExchangeLayout layout;
    ASSERT_TRUE(reader.ReadLayout(&layout).ok());
    ExchangeRecord record;
    while (reader.recordsLeft() > 0) {
      ASSERT_TRUE(reader.ReadRecord(&record).ok());
      for (const std::string& value : record.values) {
        EXPECT_EQ(value.find('\r'), std::string::npos) << value;
      }
    }
  }

  MemoryByteSource source(sink.bytes());
  ExpectContacts(source, *page, u"Kontakte M\u00fcnchen", WesternContacts());
}

TEST_F(ExchangeRoundTrip, JapaneseContactsSurviveInCodePage932) {
  std::unique_ptr<AnsiCodePage> page = Open("932");
  const std::vector<Contact> contacts = {
      {kChangeNew, {}, {u"\u5c71\u7530\u592a\u90ce", u"\u6771\u4eac\u90fd\r\n\u65b0\u5bbf\u533a"}},
      {kChangeModified,
       {3, 'J', 'P', '1', 0, 0, 0, 0, 0, 7},
       {u"\uff94\uff8f\uff80\uff9e", u"\u5927\u962a\u5e9c 1-2-3"}},
  };
  MemoryByteSink sink;
  WriteContacts(sink, *page, u"\u9867\u5ba2\u540d\u7c3f", contacts,
                {u"\u540d\u524d", u"\u4f4f\u6240"});
  MemoryByteSource source(sink.bytes());
  ExpectContacts(source, *page, u"\u9867\u5ba2\u540d\u7c3f", contacts);
}

TEST_F(ExchangeRoundTrip, KoreanAndChineseContactsSurviveInTheirCodePages) {
  struct Case {
    const char* page;
    std::u16string name;
    std::u16string value;
  };
  const Case cases[] = {
      {"949", u"\uace0\uac1d", u"\uae40\ucca0\uc218\r\n\uc11c\uc6b8"},
      {"936", u"\u5ba2\u6237", u"\u5f20\u4f1f\r\n\u5317\u4eac\u5e02"},
      {"950", u"\u5ba2\u6236", u"\u9673\u5927\u6587\r\n\u53f0\u5317\u5e02"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    std::unique_ptr<AnsiCodePage> page = Open(c.page);
    const std::vector<Contact> contacts = {{kChangeNew, {}, {c.value}}};
    MemoryByteSink sink;
    WriteContacts(sink, *page, c.name, contacts, {u"Name"});
    MemoryByteSource source(sink.bytes());
    ExpectContacts(source, *page, c.name, contacts);
  }
}

TEST_F(ExchangeRoundTrip, FiveThousandRecordsThroughAHostFile) {
  std::unique_ptr<AnsiCodePage> page = Open("windows-1252");
  std::vector<Contact> contacts;
  for (int i = 0; i < 5000; ++i) {
    const std::u16string n = [](int k) {
      std::u16string s;
      for (char c : std::to_string(k)) s += static_cast<char16_t>(c);
      return s;
    }(i);
    contacts.push_back(
        {kChangeModified,
         {4, 'R', static_cast<std::uint8_t>('0' + i % 10), 'x', 'y', 0, 0, 0,
          static_cast<std::uint8_t>(i & 0xFF), static_cast<std::uint8_t>(i >> 8)},
         {u"Customer " + n, u"Line one\r\nLine " + n, std::u16string(i % 7, u'\u00e9')}});
  }
  ScratchFolder folder("tbm-exchange");
  ASSERT_TRUE(folder.ok());
  const std::string path = (folder.path() / "TBSC.sdb").string();
  {
    HostFileSink sink(path);
    ASSERT_TRUE(sink.ok());
    WriteContacts(sink, *page, u"Big", contacts, {u"Name", u"Address", u"Notes"});
    ASSERT_TRUE(sink.Close()) << sink.FailureReason();
  }
  HostFileSource source(path);
  ASSERT_TRUE(source.ok());
  ExpectContacts(source, *page, u"Big", contacts);
  char extra;
  EXPECT_EQ(source.Read(&extra, 1), 0u);
}

TEST_F(ExchangeRoundTrip, DesktopCopyWithFormatsAndValueListsReadsAsWritten) {
  std::unique_ptr<AnsiCodePage> page = Open("windows-1252");
  ExchangeLayout layout;
  ExchangeHeader& h = layout.header;
  h.name = "Inventory";
  h.fieldCount = 3;
  h.recordCount = 2;
  h.fullRecordCount = 2;
  h.dateSeparator = '.';
  h.dateOrder = 4;
  h.twoDigitDay = true;
  h.timeSeparator = ':';
  h.morningSuffix = "vorm";
  h.afternoonSuffix = "nachm";
  h.twentyFourSuffix = "Uhr";
  h.leadingZero = true;
  layout.valueListCount = 2;
  layout.fields = {{1, "Artikel", "ART", 0, 0, -1},
                   {1, "Farbe", "FAR", 2, 1, 1},
                   {4, "Geliefert", "GEL", 1, 0, 0}};
  const std::vector<std::string> lists = {"08:00\n12:00\n-\n18:00", "Rot\nGr\xfcn\nBlau"};
  const std::vector<std::vector<std::string>> records = {{"Schraube M4", "Rot", "08:00"},
                                                         {"Mutter\nverzinkt", "Gr\xfcn", ""}};
  MemoryByteSink sink;
  ExchangeWriter writer(sink, *page);
  ASSERT_TRUE(writer.WriteLayout(layout).ok());
  ASSERT_TRUE(writer.WriteValueLists(lists).ok());
  for (const auto& values : records) {
    ASSERT_TRUE(
        writer.WriteRecord({kChangeNew, {1, 'A', 0, 0, 0, 0, 0, 0, 0, 1}, false}, values).ok());
  }
  ASSERT_TRUE(writer.Finish().ok());

  MemoryByteSource source(sink.bytes());
  ExchangeReader reader(source);
  ExchangeLayout back;
  ASSERT_TRUE(reader.ReadLayout(&back).ok());
  EXPECT_EQ(back.header.name, h.name);
  EXPECT_EQ(back.header.dateSeparator, h.dateSeparator);
  EXPECT_EQ(back.header.dateOrder, h.dateOrder);
  EXPECT_EQ(back.header.twoDigitDay, h.twoDigitDay);
  EXPECT_EQ(back.header.twoDigitMonth, h.twoDigitMonth);
  EXPECT_EQ(back.header.morningSuffix, h.morningSuffix);
  EXPECT_EQ(back.header.afternoonSuffix, h.afternoonSuffix);
  EXPECT_EQ(back.header.twentyFourSuffix, h.twentyFourSuffix);
  EXPECT_EQ(back.header.leadingZero, h.leadingZero);
  ASSERT_EQ(back.fields.size(), 3u);
  EXPECT_EQ(back.fields[2].type, 4);
  EXPECT_EQ(back.fields[1].optionWord1, 2);
  EXPECT_EQ(back.fields[1].valueListIndex, 1);
  std::vector<std::string> listsBack;
  ASSERT_TRUE(reader.ReadValueLists(&listsBack).ok());
  EXPECT_EQ(listsBack, lists);
  for (const auto& values : records) {
    ExchangeRecord record;
    ASSERT_TRUE(reader.ReadRecord(&record).ok());
    EXPECT_EQ(record.values, values);
  }
  std::u16string text;
  ASSERT_TRUE(page->FromExchangeText(listsBack[1], &text).ok());
  EXPECT_EQ(text, u"Rot\r\nGr\u00fcn\r\nBlau");
}

}  // namespace
}  // namespace tbm::sync
