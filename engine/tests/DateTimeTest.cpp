// Date and time text as the handheld reads and writes it: the six component
// orders, separators, the century of short years, impossible days, the
// suffixes of 12- and 24-hour times, carries, negative times, day numbers
// over years 1 to 3000, and text no person would type.
#include <gtest/gtest.h>

#include <array>
#include <ctime>
#include <limits>
#include <string>

#include "DateTime.h"
#include "Utf16.h"

namespace tbm::engine::testing {
namespace {

using DateBlock = std::array<std::uint8_t, MDbDateFormatBytes>;
using TimeBlock = std::array<std::uint8_t, MDbTimeFormatBytes>;

DateBlock DateFormatBlock(char16_t separator, std::uint8_t order, bool monthTwoDigits = false,
                          bool dayTwoDigits = false, bool preferTyped = false) {
  return {static_cast<std::uint8_t>(separator),
          static_cast<std::uint8_t>(separator >> 8),
          order,
          monthTwoDigits,
          dayTwoDigits,
          preferTyped};
}

void PutSlot(TimeBlock* block, std::size_t offset, std::size_t units, std::u16string_view text) {
  for (std::size_t i = 0; i < units && i < text.size(); ++i) {
    (*block)[offset + 2 * i] = static_cast<std::uint8_t>(text[i]);
    (*block)[offset + 2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
}

TimeBlock TimeFormatBlock(char16_t separator, std::u16string_view morning,
                          std::u16string_view afternoon, std::u16string_view twentyFour,
                          bool leadingZero, bool twelveHourClock) {
  TimeBlock block{};
  PutSlot(&block, 0, 1, std::u16string(1, separator));
  PutSlot(&block, 2, 6, morning);
  PutSlot(&block, 14, 6, afternoon);
  PutSlot(&block, 26, 10, twentyFour);
  block[46] = leadingZero;
  block[47] = twelveHourClock;
  return block;
}

// The formats of a desktop database set up in the United States, in
// Germany and in Japan.
DateFormat UsDates() { return DecodeDateFormat(DateFormatBlock(u'/', 0).data()); }
TimeFormat UsTimes() {
  return DecodeTimeFormat(TimeFormatBlock(u':', u" AM", u" PM", u"", false, true).data());
}
TimeFormat GermanTimes() {
  return DecodeTimeFormat(TimeFormatBlock(u':', u"", u"", u" Uhr", true, false).data());
}

struct Ymd {
  int year, month, day;
  std::uint32_t status;
  bool operator==(const Ymd&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Ymd& d) {
  return os << d.year << '-' << d.month << '-' << d.day << " status " << d.status;
}

Ymd Read(std::u16string_view text, const DateFormat& format = UsDates(), bool century1900 = false) {
  const MDbDateRec rec = ParseDate(text, format, century1900);
  return {rec.year, rec.month, rec.day, rec.status};
}

Ymd Valid(int year, int month, int day) { return {year, month, day, MDbDateValid}; }
Ymd ThisYear(int year, int month, int day) { return {year, month, day, MDbDateValidThisYear}; }
const Ymd kInvalid{0, 0, 0, MDbDateInvalid};
const Ymd kBlank{0, 0, 0, MDbDateBlank};

struct Hms {
  int hours, minutes, seconds;
  std::uint32_t kind, components;
  bool operator==(const Hms&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Hms& t) {
  return os << t.hours << ':' << t.minutes << ':' << t.seconds << " kind " << t.kind << " count "
            << t.components;
}

Hms Read(std::u16string_view text, const TimeFormat& format, bool normalise = true) {
  const MDbTimeRec rec = ParseTime(text, format, normalise);
  return {rec.hours, rec.minutes, rec.seconds, rec.kind, rec.components};
}

const Hms kNoTime{-32767, 0, 0, MDbTimeInvalid, 2};
const Hms kBlankTime{-32767, 0, 0, MDbTimeBlank, 2};

// Tests that read two-digit or left-out years set the clock themselves.
class DateTimeTest : public ::testing::Test {
 protected:
  void TearDown() override { SetCurrentYearForTesting(0); }
};

// ---- reading dates ----

TEST_F(DateTimeTest, EachOrderReadsTheSameDateFromItsOwnText) {
  const char16_t* texts[6] = {u"3/4/2002", u"4/3/2002", u"2002/3/4",
                              u"3/2002/4", u"4/2002/3", u"2002/4/3"};
  for (std::uint8_t order = 0; order < 6; ++order) {
    const DateFormat format = DecodeDateFormat(DateFormatBlock(u'/', order).data());
    const MDbDateRec rec = ParseDate(texts[order], format, false);
    EXPECT_EQ(Read(texts[order], format), Valid(2002, 3, 4)) << "order " << int(order);
    EXPECT_EQ(rec.fourDigitYear, 1u);
    EXPECT_EQ(rec.separator, u'/');
  }
}

TEST_F(DateTimeTest, AYearLeftOutAtTheEndIsTheCurrentYear) {
  SetCurrentYearForTesting(2002);
  EXPECT_EQ(Read(u"3/4"), ThisYear(2002, 3, 4));
  EXPECT_EQ(Read(u"4/3", DecodeDateFormat(DateFormatBlock(u'/', 1).data())), ThisYear(2002, 3, 4));
  // Year first: a single separator means month and day.
  EXPECT_EQ(Read(u"3/4", DecodeDateFormat(DateFormatBlock(u'/', 2).data())), ThisYear(2002, 3, 4));
  EXPECT_EQ(Read(u"4/3", DecodeDateFormat(DateFormatBlock(u'/', 5).data())), ThisYear(2002, 3, 4));
  // Year in the middle: its place must be there, its digits may be left out.
  const DateFormat monthYearDay = DecodeDateFormat(DateFormatBlock(u'/', 3).data());
  EXPECT_EQ(Read(u"3/4", monthYearDay), kInvalid);
  EXPECT_EQ(Read(u"3//4", monthYearDay), ThisYear(2002, 3, 4));
  EXPECT_EQ(ParseDate(u"3/4", UsDates(), false).fourDigitYear, 0u);
}

TEST_F(DateTimeTest, TheThirtiethOfFebruaryIsNoDay) {
  SetCurrentYearForTesting(2003);
  EXPECT_EQ(Read(u"2/30/2003"), kInvalid);
  EXPECT_EQ(Read(u"2/29/2004"), Valid(2004, 2, 29));
  EXPECT_EQ(Read(u"2/29/1900"), kInvalid) << "1900 is not a leap year";
  EXPECT_EQ(Read(u"2/29/2000"), Valid(2000, 2, 29)) << "2000 is";
  EXPECT_EQ(Read(u"2/29"), kInvalid) << "not in the current year 2003";
  EXPECT_EQ(Read(u"4/31/2002"), kInvalid);
  EXPECT_EQ(Read(u"13/1/2002"), kInvalid);
  EXPECT_EQ(Read(u"12/32/2002"), kInvalid);
  EXPECT_EQ(Read(u"12/31/3000"), Valid(3000, 12, 31));
  EXPECT_EQ(Read(u"1/1/3001"), kInvalid) << "after the last year";
  EXPECT_EQ(Read(u"1/1/0001"), Valid(1, 1, 1));
}

TEST_F(DateTimeTest, ASeparatorAtTheEndIsInvalid) {
  EXPECT_EQ(Read(u"3/4/"), kInvalid);
  EXPECT_EQ(Read(u"3/"), kInvalid);
  EXPECT_EQ(Read(u"3/4/2002/"), kInvalid) << "a third separator is never taken";
}

TEST_F(DateTimeTest, TheSecondSeparatorMustMatchTheFirst) {
  EXPECT_EQ(Read(u"3-4/2002"), kInvalid);
  EXPECT_EQ(Read(u"3-4-2002"), Valid(2002, 3, 4));
  EXPECT_EQ(ParseDate(u"3-4-2002", UsDates(), false).separator, u'-');
  EXPECT_EQ(Read(u"3.4.2002"), Valid(2002, 3, 4)) << "any character but a digit separates";
}

TEST_F(DateTimeTest, ASpaceBetweenComponentsIsTheSeparator) {
  EXPECT_EQ(Read(u"3 4 2002"), Valid(2002, 3, 4));
  EXPECT_EQ(ParseDate(u"3 4 2002", UsDates(), false).separator, u' ');
  EXPECT_EQ(Read(u"   3/4/2002   "), Valid(2002, 3, 4)) << "spaces around the date are skipped";
  EXPECT_EQ(Read(u"3 / 4 / 2002"), kInvalid) << "but not around a separator";
  // Trailing spaces do not count as a second separator of a year-first
  // date.
  SetCurrentYearForTesting(2002);
  EXPECT_EQ(Read(u"3 4  ", DecodeDateFormat(DateFormatBlock(u'/', 2).data())),
            ThisYear(2002, 3, 4));
}

TEST_F(DateTimeTest, TextThatIsNoDateHasItsOwnStatus) {
  EXPECT_EQ(Read(u"abc"), kInvalid);
  EXPECT_EQ(Read(u"     "), kBlank);
  EXPECT_EQ(Read(u""), kInvalid);
  EXPECT_EQ(Read(u"/"), kInvalid);
  EXPECT_EQ(Read(u"//"), kInvalid);
  EXPECT_EQ(Read(u"3"), kInvalid) << "a month alone";
  EXPECT_EQ(Read(u"3/4/2002 noon"), kInvalid);
}

TEST_F(DateTimeTest, AMonthOrDayLeftEmptyIsInvalid) {
  EXPECT_EQ(Read(u"/5/2002"), kInvalid);
  EXPECT_EQ(Read(u"3//2002"), kInvalid);
  EXPECT_EQ(Read(u"//2002"), kInvalid) << "a typed year is not a blank date";
}

TEST_F(DateTimeTest, EveryComponentZeroIsTheZeroDate) {
  const MDbDateRec zero = ParseDate(u"0/0/0000", UsDates(), false);
  EXPECT_EQ(zero.status, MDbDateZero);
  EXPECT_EQ(zero.month, 0);
  EXPECT_EQ(zero.year, 0);
  EXPECT_EQ(Read(u"0/0/00", UsDates(), true), kInvalid) << "00 is 1900";
  EXPECT_EQ(Read(u"0/5/2002"), kInvalid);
  EXPECT_EQ(Read(u"0/0"), kInvalid) << "a left-out year is not zero";
}

TEST_F(DateTimeTest, ShortYearsInTheTwentiethCenturyWhenAsked) {
  SetCurrentYearForTesting(2002);
  EXPECT_EQ(Read(u"12/31/99", UsDates(), true), Valid(1999, 12, 31));
  EXPECT_EQ(Read(u"1/5/05", UsDates(), true), Valid(1905, 1, 5));
  EXPECT_EQ(Read(u"1/5/5", UsDates(), true), Valid(1905, 1, 5));
  EXPECT_EQ(ParseDate(u"1/5/05", UsDates(), true).fourDigitYear, 0u);
}

TEST_F(DateTimeTest, ShortYearsEarlyInACenturyMayMeanTheLastOne) {
  SetCurrentYearForTesting(2002);
  EXPECT_EQ(Read(u"12/31/99"), Valid(1999, 12, 31));
  EXPECT_EQ(Read(u"1/5/05"), Valid(2005, 1, 5));
  EXPECT_EQ(Read(u"1/5/89"), Valid(2089, 1, 5));
  SetCurrentYearForTesting(2009);
  EXPECT_EQ(Read(u"1/5/95"), Valid(1995, 1, 5));
  EXPECT_EQ(Read(u"1/5/90"), Valid(1990, 1, 5));
  EXPECT_EQ(Read(u"1/5/89"), Valid(2089, 1, 5));
  EXPECT_EQ(Read(u"1/5/09"), Valid(2009, 1, 5));
}

TEST_F(DateTimeTest, ShortYearsLateInACenturyMayMeanTheNextOne) {
  SetCurrentYearForTesting(2095);
  EXPECT_EQ(Read(u"1/5/05"), Valid(2105, 1, 5));
  EXPECT_EQ(Read(u"1/5/09"), Valid(2109, 1, 5));
  EXPECT_EQ(Read(u"1/5/10"), Valid(2010, 1, 5));
  EXPECT_EQ(Read(u"1/5/95"), Valid(2095, 1, 5));
  EXPECT_EQ(Read(u"1/5/2005"), Valid(2005, 1, 5)) << "four digits are the year itself";
}

TEST_F(DateTimeTest, ThreeDigitYearsAreTakenAsTheyAre) {
  SetCurrentYearForTesting(2002);
  const MDbDateRec three = ParseDate(u"1/5/999", UsDates(), false);
  EXPECT_EQ(three.year, 999);
  EXPECT_EQ(three.fourDigitYear, 0u);
  const MDbDateRec four = ParseDate(u"1/5/0999", UsDates(), false);
  EXPECT_EQ(four.year, 999);
  EXPECT_EQ(four.fourDigitYear, 1u);
  EXPECT_EQ(Read(u"1/5/000099"), Valid(99, 1, 5)) << "five or more digits too";
}

TEST_F(DateTimeTest, AComponentStopsAtItsLimit) {
  EXPECT_EQ(Read(u"1/1/30000"), kInvalid);
  EXPECT_EQ(Read(u"1/1/29999"), kInvalid) << "read whole, then past the last year";
  EXPECT_EQ(Read(u"30001/1/2002"), kInvalid);
  EXPECT_EQ(Read(u"0000000000000000000000012/1/2002"), Valid(2002, 12, 1))
      << "leading zeros keep the value below the limit";
}

TEST_F(DateTimeTest, AnUnknownOrderReadsAsMonthDayYear) {
  const DateFormat odd = DecodeDateFormat(DateFormatBlock(u'/', 200).data());
  EXPECT_EQ(odd.order, 0);
  EXPECT_EQ(Read(u"3/4/2002", odd), Valid(2002, 3, 4));
}

TEST_F(DateTimeTest, HostileDateTextIsInvalidAndHarmless) {
  EXPECT_EQ(Read(std::u16string(100000, u'9')), kInvalid);
  EXPECT_EQ(Read(std::u16string(100000, u'/')), kInvalid);
  EXPECT_EQ(Read(u"3/4/" + std::u16string(100000, u'0') + u"2002"), Valid(2002, 3, 4));
  EXPECT_EQ(Read(u"\x01\x02\x03"), kInvalid);
  EXPECT_EQ(Read(u"3\U0001F600"
                 u"4\U0001F600"
                 u"2002"),
            kInvalid)
      << "a pair is two units";
  const std::u16string lone =
      u"3\xD800"
      u"4\xD800"
      u"2002";
  EXPECT_EQ(Read(lone), Valid(2002, 3, 4)) << "a lone surrogate is a character like any other";
  EXPECT_EQ(ParseDate(lone, UsDates(), false).separator, u'\xD800');
  const std::u16string withZero(u"3/4\0/2002", 9);
  EXPECT_EQ(Read(withZero), kInvalid);
}

// ---- writing dates ----

MDbDateRec Date(int year, int month, int day, std::uint32_t status = MDbDateValid,
                char16_t separator = 0) {
  return MDbDateRec{static_cast<std::int16_t>(month),
                    static_cast<std::int16_t>(day),
                    static_cast<std::int16_t>(year),
                    status,
                    1,
                    separator};
}

std::u16string Write(const MDbDateRec& rec, const DateFormat& format = UsDates()) {
  return WriteDate(rec, format).value_or(u"<none>");
}

TEST_F(DateTimeTest, ADateIsWrittenInTheFormatsOrder) {
  const char16_t* expected[6] = {u"3/4/2002", u"4/3/2002", u"2002/3/4",
                                 u"3/2002/4", u"4/2002/3", u"2002/4/3"};
  for (std::uint8_t order = 0; order < 6; ++order) {
    EXPECT_EQ(Write(Date(2002, 3, 4), DecodeDateFormat(DateFormatBlock(u'/', order).data())),
              expected[order]);
  }
}

TEST_F(DateTimeTest, TwoDigitFlagsPadMonthAndDay) {
  const DateFormat german = DecodeDateFormat(DateFormatBlock(u'.', 1, true, true).data());
  EXPECT_EQ(Write(Date(2002, 3, 4), german), u"04.03.2002");
  EXPECT_EQ(Write(Date(2002, 12, 31), german), u"31.12.2002");
  EXPECT_EQ(Write(Date(2002, 3, 4), DecodeDateFormat(DateFormatBlock(u'.', 1, true).data())),
            u"4.03.2002");
  EXPECT_EQ(Write(Date(2002, 3, 4), DecodeDateFormat(DateFormatBlock(u'.', 1).data())),
            u"4.3.2002");
}

TEST_F(DateTimeTest, TheYearIsAlwaysWrittenWithFourDigits) {
  EXPECT_EQ(Write(Date(999, 3, 4)), u"3/4/0999");
  EXPECT_EQ(Write(Date(1, 1, 1)), u"1/1/0001");
  EXPECT_EQ(Write(Date(0, 0, 0, MDbDateZero)), u"0/0/0000");
}

TEST_F(DateTimeTest, TheTypedSeparatorIsWrittenWhenTheFormatPrefersIt) {
  const DateFormat prefers = DecodeDateFormat(DateFormatBlock(u'/', 0, false, false, true).data());
  EXPECT_EQ(Write(Date(2002, 3, 4, MDbDateValid, u'-'), prefers), u"3-4-2002");
  EXPECT_EQ(Write(Date(2002, 3, 4, MDbDateValid, 0), prefers), u"3/4/2002");
  EXPECT_EQ(Write(Date(2002, 3, 4, MDbDateValid, u'-')), u"3/4/2002");
}

TEST_F(DateTimeTest, BlankAndInvalidDatesHaveTheirOwnText) {
  EXPECT_EQ(Write(Date(0, 0, 0, MDbDateBlank)), u"");
  EXPECT_EQ(Write(Date(2002, 3, 4, MDbDateInvalid)), u"?");
  EXPECT_EQ(Write(Date(2002, 3, 4, MDbDateValidThisYear)), u"3/4/2002");
  EXPECT_FALSE(WriteDate(Date(2002, 3, 4, 5), UsDates()).has_value());
  EXPECT_FALSE(WriteDate(Date(2002, 3, 4, 0xFFFFFFFF), UsDates()).has_value());
}

TEST_F(DateTimeTest, AnyNumbersARecordHoldsAreWrittenInFull) {
  constexpr auto kMin = std::numeric_limits<std::int16_t>::min();
  constexpr auto kMax = std::numeric_limits<std::int16_t>::max();
  const MDbDateRec lowest{kMin, kMin, kMin, MDbDateValid, 0, 0};
  EXPECT_EQ(Write(lowest), u"-32768/-32768/-32768");
  const MDbDateRec highest{kMax, kMax, kMax, MDbDateValid, 0, 0};
  EXPECT_EQ(Write(highest), u"32767/32767/32767");
  EXPECT_EQ(Write(Date(-5, 3, 4)), u"3/4/-0005");
}

TEST_F(DateTimeTest, WrittenDatesReadBack) {
  SetCurrentYearForTesting(2002);
  for (std::uint8_t order = 0; order < 6; ++order) {
    for (const char16_t separator : {u'/', u'.', u'-', u' '}) {
      const DateFormat format =
          DecodeDateFormat(DateFormatBlock(separator, order, order % 2, order % 3).data());
      for (const Ymd& date : {Valid(2002, 3, 4), Valid(1, 1, 1), Valid(3000, 12, 31),
                              Valid(999, 10, 9), Valid(2004, 2, 29)}) {
        const std::u16string text = Write(Date(date.year, date.month, date.day), format);
        EXPECT_EQ(Read(text, format), date) << Utf16ToUtf8(text);
      }
    }
  }
}

// ---- reading times ----

TEST_F(DateTimeTest, AnAfternoonSuffixAddsTwelveHours) {
  EXPECT_EQ(Read(u"1:30 pm", UsTimes()), (Hms{13, 30, 0, MDbTimeTwelve, 1}));
  EXPECT_EQ(Read(u"1:30PM", UsTimes()), (Hms{13, 30, 0, MDbTimeTwelve, 1}));
  EXPECT_EQ(Read(u"12:00 PM", UsTimes()), (Hms{12, 0, 0, MDbTimeTwelve, 1})) << "noon";
  EXPECT_EQ(Read(u"0:30 PM", UsTimes()), (Hms{12, 30, 0, MDbTimeTwelve, 1}));
}

TEST_F(DateTimeTest, TwelveInTheMorningIsMidnight) {
  EXPECT_EQ(Read(u"12:00 AM", UsTimes()), (Hms{0, 0, 0, MDbTimeTwelve, 1}));
  EXPECT_EQ(Read(u"9:05 am", UsTimes()), (Hms{9, 5, 0, MDbTimeTwelve, 1}));
  EXPECT_EQ(Read(u"13:00 AM", UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"13:00 PM", UsTimes()), kNoTime);
}

TEST_F(DateTimeTest, TheTwentyFourHourSuffixAllowsHoursUpTo23) {
  EXPECT_EQ(Read(u"14:00 Uhr", GermanTimes()), (Hms{14, 0, 0, MDbTimeTwentyFour, 1}));
  EXPECT_EQ(Read(u"23:59:59 uhr", GermanTimes()), (Hms{23, 59, 59, MDbTimeTwentyFour, 2}));
  EXPECT_EQ(Read(u"24:00 Uhr", GermanTimes()), kNoTime);
  EXPECT_EQ(Read(u"14:00", GermanTimes()), (Hms{14, 0, 0, MDbTimePlain, 1}));
}

TEST_F(DateTimeTest, TheTwentyFourHourSuffixIsTriedFirst) {
  // A database whose 24-hour suffix reads like its afternoon suffix.
  const TimeFormat clash =
      DecodeTimeFormat(TimeFormatBlock(u':', u"am", u"pm", u"PM", false, true).data());
  EXPECT_EQ(Read(u"1 pm", clash), (Hms{1, 0, 0, MDbTimeTwentyFour, 0}));
  EXPECT_EQ(Read(u"1 am", clash), (Hms{1, 0, 0, MDbTimeTwelve, 0}));
}

TEST_F(DateTimeTest, SuffixesAreComparedWithoutTheirSurroundingSpaces) {
  const TimeFormat spaced =
      DecodeTimeFormat(TimeFormatBlock(u':', u"  AM", u"PM ", u"", false, true).data());
  EXPECT_EQ(Read(u"9 am", spaced), (Hms{9, 0, 0, MDbTimeTwelve, 0}));
  EXPECT_EQ(Read(u"9am", spaced), (Hms{9, 0, 0, MDbTimeTwelve, 0}));
  EXPECT_EQ(Read(u"9 pm  ", spaced), (Hms{21, 0, 0, MDbTimeTwelve, 0}));
  EXPECT_EQ(Read(u"9 p", spaced), kNoTime) << "no abbreviations";
  EXPECT_EQ(Read(u"9 PMX", spaced), kNoTime);
  EXPECT_EQ(Read(u"9 a m", spaced), kNoTime);
}

TEST_F(DateTimeTest, ASuffixFillingItsWholeSlotIsReadToTheSlotsEnd) {
  // No terminator in either slot: six and ten characters.
  TimeBlock block = TimeFormatBlock(u':', u"", u"abcdef", u"0123456789", false, true);
  const TimeFormat full = DecodeTimeFormat(block.data());
  EXPECT_EQ(full.afternoon, u"abcdef");
  EXPECT_EQ(full.twentyFour, u"0123456789");
  EXPECT_EQ(Read(u"1 ABCDEF", full), (Hms{13, 0, 0, MDbTimeTwelve, 0}));
  // The bytes after a slot belong to the next one and are never read as
  // part of it.
  block[26] = 'g';
  block[27] = 0;
  EXPECT_EQ(DecodeTimeFormat(block.data()).afternoon, u"abcdef");
}

TEST_F(DateTimeTest, HoursAloneMayExceedADay) {
  EXPECT_EQ(Read(u"90", UsTimes()), (Hms{90, 0, 0, MDbTimePlain, 0}));
  EXPECT_EQ(Read(u"32766", UsTimes()), (Hms{32766, 0, 0, MDbTimePlain, 0}));
  EXPECT_EQ(Read(u"32767", UsTimes()), kNoTime);
}

TEST_F(DateTimeTest, MinutesAndSecondsCarryWhenNormalised) {
  EXPECT_EQ(Read(u"1:75", UsTimes(), true), (Hms{2, 15, 0, MDbTimePlain, 1}));
  EXPECT_EQ(Read(u"1:75", UsTimes(), false), (Hms{1, 75, 0, MDbTimePlain, 1}));
  EXPECT_EQ(Read(u"1:59:90", UsTimes(), true), (Hms{2, 0, 30, MDbTimePlain, 2}));
  EXPECT_EQ(Read(u"1:59:90", UsTimes(), false), (Hms{1, 59, 90, MDbTimePlain, 2}));
  EXPECT_EQ(Read(u"11:75 pm", UsTimes(), true), (Hms{12, 15, 0, MDbTimeTwelve, 1}));
  EXPECT_EQ(Read(u"12:75 pm", UsTimes(), true), kNoTime) << "13:15 is past the suffix's 12";
  EXPECT_EQ(Read(u"32766:60", UsTimes(), true), kNoTime) << "carried into 32767 hours";
  EXPECT_EQ(Read(u"32766:60", UsTimes(), false), kNoTime) << "the kind is the same either way";
}

TEST_F(DateTimeTest, TheSuffixAdjustsHoursOnlyWhenNormalised) {
  EXPECT_EQ(Read(u"1:30 pm", UsTimes(), false), (Hms{1, 30, 0, MDbTimeTwelve, 1}));
  EXPECT_EQ(Read(u"12:00 am", UsTimes(), false), (Hms{12, 0, 0, MDbTimeTwelve, 1}));
}

TEST_F(DateTimeTest, AMinusSignMakesANegativeTime) {
  const MDbTimeRec rec = ParseTime(u"-1:30", UsTimes(), true);
  EXPECT_EQ(Read(u"-1:30", UsTimes()), (Hms{-1, -30, 0, MDbTimePlain, 1}));
  EXPECT_EQ(TimeRecSeconds(rec), -5400);
  EXPECT_EQ(Read(u"  -  1:30  ", UsTimes()), (Hms{-1, -30, 0, MDbTimePlain, 1}));
  EXPECT_EQ(Read(u"-0:90", UsTimes(), false), (Hms{0, -90, 0, MDbTimePlain, 1}));
  EXPECT_EQ(Read(u"-1:30 PM", UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"-1:30 Uhr", GermanTimes()), kNoTime);
}

TEST_F(DateTimeTest, TextThatIsNoTimeHasItsOwnKind) {
  EXPECT_EQ(Read(u"    ", UsTimes()), kBlankTime);
  EXPECT_EQ(Read(u"", UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"abc", UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"-", UsTimes()), kNoTime) << "a minus sign alone is not blank";
  EXPECT_EQ(Read(u"  -  ", UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"1:", UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"1::30", UsTimes()), kNoTime);
  EXPECT_EQ(Read(u":30", UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"1:30:00:00", UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"1.30", UsTimes()), kNoTime) << "not this format's separator";
  EXPECT_EQ(Read(u"1:30 xm", UsTimes()), kNoTime);
}

TEST_F(DateTimeTest, SpacesMayStandAroundEveryPartOfATime) {
  EXPECT_EQ(Read(u" 1 : 30 : 15  PM ", UsTimes()), (Hms{13, 30, 15, MDbTimeTwelve, 2}));
}

TEST_F(DateTimeTest, TheTypedDigitsAreKeptAsTyped) {
  TypedDigits digits;
  ParseTime(u"09:05:7 pm", UsTimes(), true, &digits);
  EXPECT_EQ(digits.hours, u"09");
  EXPECT_EQ(digits.minutes, u"05");
  EXPECT_EQ(digits.seconds, u"7");
  ParseTime(u"14", UsTimes(), true, &digits);
  EXPECT_EQ(digits.hours, u"14");
  EXPECT_EQ(digits.minutes, u"") << "the earlier parse leaves nothing behind";
  ParseTime(std::u16string(300, u'0') + u"1", UsTimes(), true, &digits);
  EXPECT_EQ(digits.hours, std::u16string(255, u'0'));
}

TEST_F(DateTimeTest, MinutesOrSecondsBeyondARecordAreInvalid) {
  EXPECT_EQ(Read(u"0:32766", UsTimes(), true), (Hms{546, 6, 0, MDbTimePlain, 1}));
  EXPECT_EQ(Read(u"0:32766", UsTimes(), false), (Hms{0, 32766, 0, MDbTimePlain, 1}));
  EXPECT_EQ(Read(u"0:32767", UsTimes(), true), kNoTime);
  EXPECT_EQ(Read(u"0:0:32767", UsTimes(), false), kNoTime);
}

TEST_F(DateTimeTest, HostileTimeTextIsInvalidAndHarmless) {
  EXPECT_EQ(Read(std::u16string(100000, u'9'), UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"1:" + std::u16string(100000, u'9'), UsTimes()), kNoTime);
  EXPECT_EQ(Read(std::u16string(100000, u'0') + u"7", UsTimes()), (Hms{7, 0, 0, 0, 0}));
  EXPECT_EQ(Read(std::u16string(100000, u':'), UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"1:30 " + std::u16string(100000, u'P'), UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"1:30 \xD800", UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"1:30 \U0001F600", UsTimes()), kNoTime);
  EXPECT_EQ(Read(u"\x07\x08", UsTimes()), kNoTime);
  // A separator no text can hold never matches the end of the text.
  const TimeFormat zero = DecodeTimeFormat(TimeFormatBlock(0, u"", u"", u"", false, false).data());
  EXPECT_EQ(Read(u"7", zero), (Hms{7, 0, 0, MDbTimePlain, 0}));
}

// ---- writing times ----

MDbTimeRec Time(int hours, int minutes, int seconds, std::uint32_t kind, std::uint32_t count) {
  return MDbTimeRec{static_cast<std::int16_t>(hours), static_cast<std::int16_t>(minutes),
                    static_cast<std::int16_t>(seconds), kind, count};
}

std::u16string Write(const MDbTimeRec& rec, const TimeFormat& format) {
  return WriteTime(rec, format).value_or(u"<none>");
}

TEST_F(DateTimeTest, APlainTimeShowsTheComponentsTyped) {
  EXPECT_EQ(Write(Time(1, 5, 9, MDbTimePlain, 2), UsTimes()), u"1:05:09");
  EXPECT_EQ(Write(Time(1, 5, 9, MDbTimePlain, 1), UsTimes()), u"1:05");
  EXPECT_EQ(Write(Time(90, 0, 0, MDbTimePlain, 0), UsTimes()), u"90");
  EXPECT_EQ(Write(Time(7, 0, 0, MDbTimePlain, 0), GermanTimes()), u"7")
      << "the leading zero is for times with a suffix";
}

TEST_F(DateTimeTest, ANegativeTimeIsWrittenWithAMinusSign) {
  EXPECT_EQ(Write(Time(-1, -30, 0, MDbTimePlain, 1), UsTimes()), u"-1:30");
  EXPECT_EQ(Write(Time(0, -30, 0, MDbTimePlain, 1), UsTimes()), u"-0:30");
  EXPECT_EQ(Write(Time(-1, 30, 0, MDbTimePlain, 1), UsTimes()), u"-1:30")
      << "components are taken by magnitude";
}

TEST_F(DateTimeTest, TwelveHourTimesCarryTheirSuffix) {
  EXPECT_EQ(Write(Time(13, 30, 0, MDbTimeTwelve, 1), UsTimes()), u"1:30 PM");
  EXPECT_EQ(Write(Time(0, 0, 0, MDbTimeTwelve, 1), UsTimes()), u"12:00 AM");
  EXPECT_EQ(Write(Time(12, 0, 0, MDbTimeTwelve, 1), UsTimes()), u"12:00 PM");
  EXPECT_EQ(Write(Time(11, 59, 59, MDbTimeTwelve, 2), UsTimes()), u"11:59:59 AM");
  EXPECT_EQ(Write(Time(21, 0, 0, MDbTimeTwentyFour, 0), UsTimes()), u"9 PM");
  const TimeFormat zeros =
      DecodeTimeFormat(TimeFormatBlock(u':', u" AM", u" PM", u"", true, true).data());
  EXPECT_EQ(Write(Time(13, 30, 0, MDbTimeTwelve, 1), zeros), u"01:30 PM");
  EXPECT_EQ(Write(Time(22, 30, 0, MDbTimeTwelve, 1), zeros), u"10:30 PM");
}

TEST_F(DateTimeTest, TwentyFourHourTimesCarryThatSuffix) {
  EXPECT_EQ(Write(Time(13, 30, 0, MDbTimeTwentyFour, 1), GermanTimes()), u"13:30 Uhr");
  EXPECT_EQ(Write(Time(7, 5, 0, MDbTimeTwelve, 1), GermanTimes()), u"07:05 Uhr");
  EXPECT_EQ(Write(Time(0, 0, 0, MDbTimeTwentyFour, 1), GermanTimes()), u"00:00 Uhr");
}

TEST_F(DateTimeTest, WritingCarriesFromSixtyOn) {
  EXPECT_EQ(Write(Time(1, 60, 0, MDbTimePlain, 1), UsTimes()), u"2:00");
  EXPECT_EQ(Write(Time(1, 0, 60, MDbTimePlain, 2), UsTimes()), u"1:01:00");
  EXPECT_EQ(Write(Time(1, 75, 0, MDbTimePlain, 1), UsTimes()), u"2:15");
  EXPECT_EQ(Write(Time(11, 75, 0, MDbTimeTwelve, 1), UsTimes()), u"12:15 PM");
}

TEST_F(DateTimeTest, BlankAndInvalidTimesHaveTheirOwnText) {
  EXPECT_EQ(Write(Time(-32767, 0, 0, MDbTimeBlank, 2), UsTimes()), u"");
  EXPECT_EQ(Write(Time(-32767, 0, 0, MDbTimeInvalid, 2), UsTimes()), u"?");
  EXPECT_FALSE(WriteTime(Time(1, 0, 0, 5, 0), UsTimes()).has_value());
}

TEST_F(DateTimeTest, AnyNumbersARecordHoldsKeepTheTimeShort) {
  constexpr auto kMin = std::numeric_limits<std::int16_t>::min();
  const MDbTimeRec lowest{kMin, kMin, kMin, MDbTimePlain, 0xFFFFFFFF};
  // 32768 s carry 546 min, 33314 min carry 555 h.
  EXPECT_EQ(Write(lowest, UsTimes()), u"-33323:14:08");
  const TimeFormat longSuffix =
      DecodeTimeFormat(TimeFormatBlock(u':', u"", u"", u"0123456789", false, false).data());
  const MDbTimeRec wide{kMin, kMin, kMin, MDbTimeTwentyFour, 2};
  const std::u16string text = Write(wide, longSuffix);
  EXPECT_EQ(text, u"33323:14:080123456789");
  EXPECT_LT(text.size(), MDbDateTimeTextChars);
}

TEST_F(DateTimeTest, WrittenTimesReadBackAsTheSameSeconds) {
  const TimeFormat formats[] = {
      UsTimes(), GermanTimes(),
      DecodeTimeFormat(TimeFormatBlock(u'.', u"", u"", u"", false, false).data())};
  const char16_t* texts[] = {u"1:30 pm", u"12:00 am", u"23:59:59", u"-1:30", u"90",
                             u"0:90:90", u"7 Uhr",    u"11:59 AM", u"1.15"};
  for (const TimeFormat& format : formats) {
    for (const char16_t* text : texts) {
      const MDbTimeRec rec = ParseTime(text, format, true);
      if (rec.kind >= MDbTimeBlank) continue;
      const std::u16string written = Write(rec, format);
      const MDbTimeRec again = ParseTime(written, format, true);
      ASSERT_LT(again.kind, MDbTimeBlank) << Utf16ToUtf8(written);
      EXPECT_EQ(TimeRecSeconds(again), TimeRecSeconds(rec)) << Utf16ToUtf8(written);
    }
  }
}

// ---- day numbers ----

TEST_F(DateTimeTest, DayNumbersCountFromTheFirstOfJanuaryOfYearOne) {
  EXPECT_EQ(DayNumber(1, 1, 1), 1);
  EXPECT_EQ(DayNumber(1, 12, 31), 365);
  EXPECT_EQ(DayNumber(2, 1, 1), 366);
  EXPECT_EQ(DayNumber(1999, 12, 31), 730119);
  EXPECT_EQ(DayNumber(2000, 1, 1), 730120);
  EXPECT_EQ(DayNumber(2000, 3, 1), 730180) << "2000 is a leap year";
  EXPECT_EQ(DayNumber(2004, 2, 29), 731640);
  EXPECT_EQ(DayNumber(1582, 10, 15), 577736);
  EXPECT_EQ(DayNumber(3000, 12, 31), 1095727);
}

TEST_F(DateTimeTest, EveryDayOfYearsOneTo3000ConvertsBothWays) {
  std::int32_t expected = 0;
  for (int year = kFirstYear; year <= kLastYear; ++year) {
    const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
    const int lengths[12] = {31, leap ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int month = 1; month <= 12; ++month) {
      for (int day = 1; day <= lengths[month - 1]; ++day) {
        ++expected;
        const std::int32_t n = DayNumber(year, month, day);
        ASSERT_EQ(n, expected) << year << '-' << month << '-' << day;
        int y = 0, m = 0, d = 0;
        ASSERT_TRUE(DateFromDayNumber(n, &y, &m, &d));
        ASSERT_EQ(y, year);
        ASSERT_EQ(m, month);
        ASSERT_EQ(d, day);
      }
    }
  }
}

TEST_F(DateTimeTest, DayNumbersOutsideYearsOneTo3000HaveNoDate) {
  int y = -1, m = -1, d = -1;
  EXPECT_FALSE(DateFromDayNumber(0, &y, &m, &d));
  EXPECT_FALSE(DateFromDayNumber(-1, &y, &m, &d));
  EXPECT_FALSE(DateFromDayNumber(std::numeric_limits<std::int32_t>::min(), &y, &m, &d));
  EXPECT_FALSE(DateFromDayNumber(1095728, &y, &m, &d));
  EXPECT_FALSE(DateFromDayNumber(std::numeric_limits<std::int32_t>::max(), &y, &m, &d));
  EXPECT_EQ(y, -1) << "outputs untouched";
  EXPECT_EQ(DayNumber(0, 1, 1), 0);
  EXPECT_EQ(DayNumber(3001, 1, 1), 0);
  EXPECT_EQ(DayNumber(2002, 0, 1), 0);
  EXPECT_EQ(DayNumber(2002, 13, 1), 0);
  EXPECT_EQ(DayNumber(2002, 1, 0), 0);
  EXPECT_EQ(DayNumber(2002, 1, 32), 0);
  EXPECT_EQ(DayNumber(2003, 2, 30), DayNumber(2003, 3, 2)) << "counts on into March";
}

// ---- sort and find ----

TEST_F(DateTimeTest, DatesConvertToDayNumbersForSortAndFind) {
  SetCurrentYearForTesting(2002);
  const DateBlock us = DateFormatBlock(u'/', 0);
  std::int32_t n = -1;
  EXPECT_EQ(DateDayNumber(u"1/1/2000", us.data(), &n), MDbErrNone);
  EXPECT_EQ(n, 730120);
  EXPECT_EQ(DateDayNumber(u"3/4", us.data(), &n), MDbErrNone);
  EXPECT_EQ(n, 730913);
  EXPECT_EQ(DateDayNumber(u"12/31/99", us.data(), &n), MDbErrNone) << "the current century";
  EXPECT_EQ(n, 730119);
  n = -1;
  EXPECT_EQ(DateDayNumber(u"0/0/0000", us.data(), &n), MDbErrBadDate);
  EXPECT_EQ(DateDayNumber(u"  ", us.data(), &n), MDbErrBadDate);
  EXPECT_EQ(DateDayNumber(u"2/30/2003", us.data(), &n), MDbErrBadDate);
  EXPECT_EQ(DateDayNumber(nullptr, us.data(), &n), MDbErrBadDate);
  EXPECT_EQ(n, -1);
  EXPECT_EQ(DateDayNumber(u"1/1/2000", us.data(), nullptr), MDbErrBadDate);
}

TEST_F(DateTimeTest, TimesConvertToSecondsForSortAndFind) {
  const TimeBlock us = TimeFormatBlock(u':', u" AM", u" PM", u"", false, true);
  std::int32_t s = 1;
  EXPECT_EQ(TimeSeconds(u"1:30 pm", us.data(), &s), MDbErrNone);
  EXPECT_EQ(s, 48600);
  EXPECT_EQ(TimeSeconds(u"1:75", us.data(), &s), MDbErrNone) << "normalised";
  EXPECT_EQ(s, 8100);
  EXPECT_EQ(TimeSeconds(u"-1:30", us.data(), &s), MDbErrNone);
  EXPECT_EQ(s, -5400);
  EXPECT_EQ(TimeSeconds(u"12:00 AM", us.data(), &s), MDbErrNone);
  EXPECT_EQ(s, 0);
  s = 1;
  EXPECT_EQ(TimeSeconds(u"   ", us.data(), &s), MDbErrBadTime);
  EXPECT_EQ(TimeSeconds(u"13:00 AM", us.data(), &s), MDbErrBadTime);
  EXPECT_EQ(TimeSeconds(nullptr, us.data(), &s), MDbErrBadTime);
  EXPECT_EQ(s, 1);
}

TEST_F(DateTimeTest, SecondsOfAnyRecordAreExact) {
  constexpr auto kMin = std::numeric_limits<std::int16_t>::min();
  EXPECT_EQ(TimeRecSeconds(Time(kMin, kMin, kMin, MDbTimePlain, 2)),
            -(32768 * 3600 + 32768 * 60 + 32768));
  EXPECT_EQ(TimeRecSeconds(Time(-1, 30, 0, MDbTimePlain, 1)), -5400);
  EXPECT_EQ(TimeRecSeconds(Time(1, 2, 3, MDbTimePlain, 2)), 3723);
}

TEST_F(DateTimeTest, TheCurrentYearComesFromTheClockUnlessSet) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  ASSERT_NE(gmtime_r(&now, &utc), nullptr);
  const int clock = CurrentYear();
  EXPECT_EQ(clock, utc.tm_year + 1900);
  SetCurrentYearForTesting(1985);
  EXPECT_EQ(CurrentYear(), 1985);
  SetCurrentYearForTesting(0);
  EXPECT_EQ(CurrentYear(), clock);
}

}  // namespace
}  // namespace tbm::engine::testing
