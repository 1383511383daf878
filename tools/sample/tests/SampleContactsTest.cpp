// The sample records: the same for the same seed, values in their ranges and
// forms, and a default file that holds the awkward values real data has.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "AnsiText.h"
#include "CsvReading.h"
#include "SampleContacts.h"
#include "Utf16.h"

namespace tbm::sample::testing {
namespace {

constexpr std::uint64_t kSeeds[] = {0, 1, kDefaultSeed, 987654321,
                                    std::numeric_limits<std::uint64_t>::max()};

std::vector<CsvRow> RowsOf(const Contact& contact) {
  CsvRow row;
  for (const std::string* field : contact.Fields()) row.push_back(*field);
  return {row};
}

// Every record of the largest file for each of a few seeds.
std::vector<Contact> ManyContacts() {
  std::vector<Contact> contacts;
  for (const std::uint64_t seed : kSeeds) {
    for (std::uint32_t index = 0; index < kMostRecords; ++index) {
      contacts.push_back(SampleContact(seed, index));
    }
  }
  return contacts;
}

const std::vector<Contact>& Contacts() {
  static const std::vector<Contact> contacts = ManyContacts();
  return contacts;
}

// Whether text is well-formed UTF-8: no stray continuation bytes, no
// truncated or overlong sequences, no surrogates, nothing past U+10FFFF.
bool IsUtf8(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const auto lead = static_cast<unsigned char>(text[at]);
    int length;
    char32_t code;
    if (lead < 0x80) {
      ++at;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (at + length > text.size()) return false;
    for (int i = 1; i < length; ++i) {
      const auto next = static_cast<unsigned char>(text[at + i]);
      if ((next & 0xC0) != 0x80) return false;
      code = (code << 6) | (next & 0x3F);
    }
    constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    at += length;
  }
  return true;
}

struct Date {
  int month;
  int day;
  int year;
};

// month/day/year with no leading zeros, or nothing.
std::optional<Date> ParseDate(const std::string& text) {
  static const std::regex kForm("([1-9][0-9]?)/([1-9][0-9]?)/([1-9][0-9]{3})");
  std::smatch parts;
  if (!std::regex_match(text, parts, kForm)) return std::nullopt;
  return Date{std::stoi(parts[1]), std::stoi(parts[2]), std::stoi(parts[3])};
}

int DaysIn(int month, int year) {
  if (month == 2) return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0 ? 29 : 28;
  return month == 4 || month == 6 || month == 9 || month == 11 ? 30 : 31;
}

TEST(SampleContactTest, SameSeedAndIndexGiveTheSameRecord) {
  for (const std::uint64_t seed : kSeeds) {
    for (const std::uint32_t index : {0u, 1u, 299u, 4999u}) {
      EXPECT_EQ(RowsOf(SampleContact(seed, index)), RowsOf(SampleContact(seed, index)));
    }
  }
}

TEST(SampleContactTest, NeighbouringRecordsDiffer) {
  const Contact first = SampleContact(kDefaultSeed, 0);
  const Contact second = SampleContact(kDefaultSeed, 1);
  EXPECT_NE(RowsOf(first), RowsOf(second));
}

TEST(SampleContactsCsvTest, SameSeedGivesIdenticalBytes) {
  const std::string once = SampleContactsCsv(kDefaultSeed, kDefaultRecordCount);
  const std::string again = SampleContactsCsv(kDefaultSeed, kDefaultRecordCount);
  EXPECT_EQ(once, again);
}

TEST(SampleContactsCsvTest, AnotherSeedGivesOtherRecords) {
  const std::optional<std::vector<CsvRow>> ours = ReadCsv(SampleContactsCsv(1, 300));
  const std::optional<std::vector<CsvRow>> theirs = ReadCsv(SampleContactsCsv(2, 300));
  ASSERT_TRUE(ours && theirs);
  ASSERT_EQ(ours->size(), theirs->size());
  int same = 0;
  for (std::size_t row = 1; row < ours->size(); ++row) same += (*ours)[row] == (*theirs)[row];
  EXPECT_EQ(same, 0);
}

TEST(SampleContactsCsvTest, FileStartsWithTheTypedHeaderRow) {
  const std::string csv = SampleContactsCsv(kDefaultSeed, 3);
  const std::string header =
      "Name:text,Company:text,City:text,Phone:text,Born:date,Orders:number,Call at:time,"
      "Category:text,Active:text,Notes:text\n";
  EXPECT_EQ(csv.substr(0, header.size()), header);
}

TEST(SampleContactsCsvTest, EveryRowReadsBackAsItsRecord) {
  const std::optional<std::vector<CsvRow>> rows = ReadCsv(SampleContactsCsv(kDefaultSeed, 1000));
  ASSERT_TRUE(rows.has_value());
  ASSERT_EQ(rows->size(), 1001u);
  for (std::uint32_t index = 0; index < 1000; ++index) {
    ASSERT_EQ((*rows)[index + 1], RowsOf(SampleContact(kDefaultSeed, index))[0]) << index;
  }
}

TEST(SampleContactsCsvTest, TextIsUtf8WithoutAByteOrderMark) {
  const std::string csv = SampleContactsCsv(kDefaultSeed, kMostRecords);
  EXPECT_TRUE(IsUtf8(csv));
  EXPECT_NE(csv.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(csv.find('\r'), std::string::npos);
}

TEST(SampleContactTest, BirthDatesAreRealDatesFrom1940To2005) {
  int leapDays = 0;
  for (const Contact& contact : Contacts()) {
    const std::optional<Date> date = ParseDate(contact.born);
    ASSERT_TRUE(date.has_value()) << contact.born;
    EXPECT_GE(date->year, 1940) << contact.born;
    EXPECT_LE(date->year, 2005) << contact.born;
    EXPECT_LE(date->month, 12) << contact.born;
    EXPECT_LE(date->day, DaysIn(date->month, date->year)) << contact.born;
    leapDays += date->month == 2 && date->day == 29;
  }
  // The draw reaches the last day of February in leap years.
  EXPECT_GT(leapDays, 0);
}

TEST(SampleContactTest, CallTimesAreQuarterHoursOnTheTwelveHourClock) {
  const std::regex form("(1[0-2]|[1-9]):(00|15|30|45) (AM|PM)");
  int empty = 0;
  int morning = 0;
  for (const Contact& contact : Contacts()) {
    if (contact.callAt.empty()) {
      ++empty;
      continue;
    }
    EXPECT_TRUE(std::regex_match(contact.callAt, form)) << contact.callAt;
    morning += contact.callAt.ends_with("AM");
  }
  EXPECT_GT(empty, 0);
  EXPECT_LT(empty, static_cast<int>(Contacts().size()) / 10);
  EXPECT_GT(morning, 0);
  EXPECT_LT(morning, static_cast<int>(Contacts().size()) - empty);
}

TEST(SampleContactTest, OrdersAreWholeNumbersUpTo500OrEmpty) {
  const std::regex form("0|[1-9][0-9]{0,2}");
  int empty = 0;
  for (const Contact& contact : Contacts()) {
    if (contact.orders.empty()) {
      ++empty;
      continue;
    }
    ASSERT_TRUE(std::regex_match(contact.orders, form)) << contact.orders;
    EXPECT_LE(std::stoi(contact.orders), 500);
  }
  EXPECT_GT(empty, 0);
  EXPECT_LT(empty, static_cast<int>(Contacts().size()) / 10);
}

TEST(SampleContactTest, CategoryAndActiveKeepToTheirValues) {
  std::map<std::string, int> categories;
  std::map<std::string, int> active;
  for (const Contact& contact : Contacts()) {
    ++categories[contact.category];
    ++active[contact.active];
  }
  EXPECT_EQ(categories.size(), 4u);
  for (const char* category : {"Customer", "Supplier", "Partner", "Press"}) {
    EXPECT_GT(categories[category], 0) << category;
  }
  EXPECT_EQ(active.size(), 2u);
  EXPECT_GT(active["Yes"], 0);
  EXPECT_GT(active[""], 0);
}

TEST(SampleContactTest, PhonesAreInInternationalForm) {
  const std::regex form(R"(\+[1-9][0-9]{0,2}( [0-9]+)+(-[0-9]+)?)");
  for (const Contact& contact : Contacts()) {
    EXPECT_TRUE(std::regex_match(contact.phone, form)) << contact.phone;
  }
}

class DefaultSampleTest : public ::testing::Test {
 protected:
  DefaultSampleTest() {
    for (std::uint32_t index = 0; index < kDefaultRecordCount; ++index) {
      contacts_.push_back(SampleContact(kDefaultSeed, index));
    }
  }

  template <typename Test>
  int CountWhere(Test test) const {
    int count = 0;
    for (const Contact& contact : contacts_) count += test(contact) ? 1 : 0;
    return count;
  }

  std::vector<Contact> contacts_;
};

TEST_F(DefaultSampleTest, EachCityIsSharedBySeveralRecords) {
  std::map<std::string, int> cities;
  for (const Contact& contact : contacts_) ++cities[contact.city];
  EXPECT_GE(cities.size(), 20u);
  for (const auto& [city, count] : cities) EXPECT_GE(count, 3) << city;
  for (const char* city : {"Lyon", "Zürich", "São Paulo", "Kraków", "Reykjavík"}) {
    EXPECT_GT(cities[city], 1) << city;
  }
}

TEST_F(DefaultSampleTest, NamesComeInSeveralScripts) {
  const auto firstByte = [](const Contact& contact) {
    return static_cast<unsigned char>(contact.name[0]);
  };
  // Latin names with accents: a multi-byte character after an ASCII start.
  EXPECT_GT(CountWhere([&](const Contact& contact) {
              return firstByte(contact) < 0x80 &&
                     std::any_of(contact.name.begin(), contact.name.end(),
                                 [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
            }),
            10);
  // Whole names in another script start outside ASCII and Latin-1 letters.
  EXPECT_GT(CountWhere([&](const Contact& contact) { return firstByte(contact) >= 0xD0; }), 3);
  EXPECT_EQ(CountWhere(
                [](const Contact& contact) { return contact.name.find(' ') == std::string::npos; }),
            0);
}

TEST_F(DefaultSampleTest, CompaniesAndNotesNeedQuotingInPlaces) {
  EXPECT_GT(CountWhere([](const Contact& c) { return c.company.find(',') != std::string::npos; }),
            0);
  EXPECT_GT(CountWhere([](const Contact& c) { return c.company.find('"') != std::string::npos; }),
            0);
  EXPECT_GT(CountWhere([](const Contact& c) { return c.notes.find('\n') != std::string::npos; }),
            0);
  const int emptyNotes = CountWhere([](const Contact& c) { return c.notes.empty(); });
  EXPECT_GT(emptyNotes, kDefaultRecordCount / 2);
  EXPECT_LT(emptyNotes, kDefaultRecordCount);
}

TEST(WesternSampleTest, EveryTextTravelsInWindows1252AndMacOsRomanAndTheRestStaysTheSame) {
  std::unique_ptr<sync::AnsiCodePage> windows;
  std::unique_ptr<sync::AnsiCodePage> mac;
  ASSERT_TRUE(sync::AnsiCodePage::Open("windows-1252", &windows).ok());
  ASSERT_TRUE(sync::AnsiCodePage::Open("macintosh", &mac).ok());
  int accented = 0;
  for (std::uint32_t index = 0; index < kMostRecords; ++index) {
    const Contact western = SampleContact(kDefaultSeed, index, NameLetters::kWestern);
    for (const std::string* field : western.Fields()) {
      std::string bytes;
      ASSERT_TRUE(windows->ToAnsi(Utf8ToUtf16(*field), &bytes).ok()) << *field;
      ASSERT_TRUE(mac->ToAnsi(Utf8ToUtf16(*field), &bytes).ok()) << *field;
    }
    accented += std::any_of(western.name.begin(), western.name.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
    // Only the names are drawn differently.
    Contact any = SampleContact(kDefaultSeed, index);
    any.name = western.name;
    EXPECT_EQ(RowsOf(any), RowsOf(western));
  }
  EXPECT_GT(accented, kMostRecords / 10);
}

}  // namespace
}  // namespace tbm::sample::testing
