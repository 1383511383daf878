// The four date and time exports over a database whose attribute entry
// holds the date and time formats of its desktop database: the formats are
// read through the environment's open attribute table, copied out when
// asked, and the typed digits handed back in their three slots.
#include <algorithm>
#include <array>
#include <limits>

#include "DateTime.h"
#include "DescriptionFixture.h"

namespace tbm::engine::testing {
namespace {

constexpr std::size_t kDateAt = 24;
constexpr std::size_t kTimeAt = 30;

void PutUnits(std::uint8_t* at, std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    at[2 * i] = static_cast<std::uint8_t>(text[i]);
    at[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
  }
}

// The contact database's attributes with a date format of month/day/year
// that prefers the separator the user typed, and a time format on the
// 12-hour clock with " AM" and " PM".
std::array<std::uint8_t, MDbAttrBytes> UsAttrs() {
  auto attrs = ContactAttrs();
  std::fill(attrs.begin() + kDateAt, attrs.end(), 0);
  PutUnits(&attrs[kDateAt], u"/");
  attrs[kDateAt + 2] = 0;  // month-day-year
  attrs[kDateAt + 5] = 1;  // the typed separator
  PutUnits(&attrs[kTimeAt], u":");
  PutUnits(&attrs[kTimeAt + 2], u" AM");
  PutUnits(&attrs[kTimeAt + 14], u" PM");
  attrs[kTimeAt + 47] = 1;
  return attrs;
}

// The same database moved to day.month.year with two-digit months and
// days, and the 24-hour clock with hours below 10 written "07".
std::array<std::uint8_t, MDbAttrBytes> GermanAttrs() {
  auto attrs = ContactAttrs();
  std::fill(attrs.begin() + kDateAt, attrs.end(), 0);
  PutUnits(&attrs[kDateAt], u".");
  attrs[kDateAt + 2] = 1;
  attrs[kDateAt + 3] = 1;
  attrs[kDateAt + 4] = 1;
  PutUnits(&attrs[kTimeAt], u":");
  PutUnits(&attrs[kTimeAt + 26], u" Uhr");
  attrs[kTimeAt + 46] = 1;
  return attrs;
}

class DateTimeTextTest : public DescriptionTest {
 protected:
  void SetUp() override {
    DescriptionTest::SetUp();
    const auto attrs = UsAttrs();
    ASSERT_EQ(MDbAttrTblCreateEx(&env_, &env_.ref, attrs.data(), ContactDbName()), MDbErrNone);
    ASSERT_EQ(MDbAttrTblOpen(&env_, &env_.ref, &env_.attributes), MDbErrNone);
  }
  void TearDown() override {
    SetCurrentYearForTesting(0);
    DescriptionTest::TearDown();
  }

  void UseAttrs(const std::array<std::uint8_t, MDbAttrBytes>& attrs) {
    ASSERT_EQ(StoreBehindTheBack(MDbObjAttributes, 0, kAttrProp, {attrs.begin(), attrs.end()}),
              MDbErrNone);
  }

  // A date record as the caller's memory might hold it before a call.
  static MDbDateRec Garbage() {
    MDbDateRec rec;
    std::memset(&rec, 0x5A, sizeof rec);
    return rec;
  }
  static MDbTimeRec GarbageTime() {
    MDbTimeRec rec;
    std::memset(&rec, 0x5A, sizeof rec);
    return rec;
  }

  std::u16string WriteDate(const MDbDateRec& rec, std::int32_t expected = MDbErrNone) {
    char16_t out[MDbDateTimeTextChars];
    std::fill(std::begin(out), std::end(out), u'#');
    EXPECT_EQ(MDbRecsetDRecToDateStr(&env_, &rec, out), expected);
    return std::u16string(out, std::find(std::begin(out), std::end(out), 0));
  }
  std::u16string WriteTime(const MDbTimeRec& rec, std::int32_t expected = MDbErrNone) {
    char16_t out[MDbDateTimeTextChars];
    std::fill(std::begin(out), std::end(out), u'#');
    EXPECT_EQ(MDbRecsetTRecToTimeStr(&env_, &rec, out), expected);
    return std::u16string(out, std::find(std::begin(out), std::end(out), 0));
  }
};

TEST_F(DateTimeTextTest, ADateIsReadInTheDatabasesFormat) {
  MDbDateRec rec = Garbage();
  std::uint8_t format[MDbDateFormatBytes] = {};
  ASSERT_EQ(MDbRecsetDateStrToDateRec(&env_, u"3-4-2002", &rec, 0, format), MDbErrNone);
  EXPECT_EQ(rec.month, 3);
  EXPECT_EQ(rec.day, 4);
  EXPECT_EQ(rec.year, 2002);
  EXPECT_EQ(rec.status, MDbDateValid);
  EXPECT_EQ(rec.fourDigitYear, 1u);
  EXPECT_EQ(rec.separator, u'-');
  const auto attrs = UsAttrs();
  EXPECT_TRUE(std::equal(std::begin(format), std::end(format), attrs.begin() + kDateAt));
  EXPECT_EQ(WriteDate(rec), u"3-4-2002") << "the format prefers the typed separator";
}

TEST_F(DateTimeTextTest, AnImpossibleDateGivesBadDateWithItsStatus) {
  MDbDateRec rec = Garbage();
  EXPECT_EQ(MDbRecsetDateStrToDateRec(&env_, u"2/30/2003", &rec, 0, nullptr), MDbErrBadDate);
  EXPECT_EQ(rec.status, MDbDateInvalid);
  EXPECT_EQ(rec.month, 0);
  EXPECT_EQ(WriteDate(rec), u"?");
  EXPECT_EQ(MDbRecsetDateStrToDateRec(&env_, u"  ", &rec, 0, nullptr), MDbErrBadDate);
  EXPECT_EQ(rec.status, MDbDateBlank);
  EXPECT_EQ(WriteDate(rec), u"");
}

TEST_F(DateTimeTextTest, ALeftOutYearIsTheCurrentOne) {
  SetCurrentYearForTesting(2002);
  MDbDateRec rec = Garbage();
  EXPECT_EQ(MDbRecsetDateStrToDateRec(&env_, u"3/4", &rec, 0, nullptr), MDbErrNone);
  EXPECT_EQ(rec.status, MDbDateValidThisYear);
  EXPECT_EQ(rec.year, 2002);
  EXPECT_EQ(WriteDate(rec), u"3/4/2002");
}

TEST_F(DateTimeTextTest, TheCallerChoosesTheCenturyOfShortYears) {
  SetCurrentYearForTesting(2095);
  MDbDateRec rec = Garbage();
  ASSERT_EQ(MDbRecsetDateStrToDateRec(&env_, u"1/5/05", &rec, 1, nullptr), MDbErrNone);
  EXPECT_EQ(rec.year, 1905);
  ASSERT_EQ(MDbRecsetDateStrToDateRec(&env_, u"1/5/05", &rec, 0, nullptr), MDbErrNone);
  EXPECT_EQ(rec.year, 2105);
}

TEST_F(DateTimeTextTest, ChangedFormatsTakeEffectAtTheNextCall) {
  UseAttrs(GermanAttrs());
  MDbDateRec rec = Garbage();
  ASSERT_EQ(MDbRecsetDateStrToDateRec(&env_, u"4.3.2002", &rec, 0, nullptr), MDbErrNone);
  EXPECT_EQ(rec.month, 3);
  EXPECT_EQ(rec.day, 4);
  EXPECT_EQ(WriteDate(rec), u"04.03.2002");
  MDbTimeRec time = GarbageTime();
  ASSERT_EQ(MDbRecsetTimeStrToTRec(&env_, u"7:05 uhr", &time, 1, nullptr, nullptr), MDbErrNone);
  EXPECT_EQ(time.kind, MDbTimeTwentyFour);
  EXPECT_EQ(WriteTime(time), u"07:05 Uhr");
}

TEST_F(DateTimeTextTest, ATimeIsReadWithItsFormatAndTypedDigits) {
  MDbTimeRec rec = GarbageTime();
  std::uint8_t format[MDbTimeFormatBytes] = {};
  std::uint16_t digits[768];
  std::fill(std::begin(digits), std::end(digits), 0xFFFF);
  ASSERT_EQ(MDbRecsetTimeStrToTRec(&env_, u"09:05:07 pm", &rec, 1, format, digits), MDbErrNone);
  EXPECT_EQ(rec.hours, 21);
  EXPECT_EQ(rec.minutes, 5);
  EXPECT_EQ(rec.seconds, 7);
  EXPECT_EQ(rec.kind, MDbTimeTwelve);
  EXPECT_EQ(rec.components, 2u);
  const auto attrs = UsAttrs();
  EXPECT_TRUE(std::equal(std::begin(format), std::end(format), attrs.begin() + kTimeAt));
  const std::uint16_t hours[] = {u'0', u'9', 0};
  const std::uint16_t minutes[] = {u'0', u'5', 0};
  const std::uint16_t seconds[] = {u'0', u'7', 0};
  EXPECT_TRUE(std::equal(std::begin(hours), std::end(hours), digits));
  EXPECT_TRUE(std::equal(std::begin(minutes), std::end(minutes), digits + 256));
  EXPECT_TRUE(std::equal(std::begin(seconds), std::end(seconds), digits + 512));
  EXPECT_EQ(digits[3], 0xFFFF) << "nothing written past a run's terminator";
  EXPECT_EQ(WriteTime(rec), u"9:05:07 PM");
}

TEST_F(DateTimeTextTest, WithoutNormalisingTheNumbersComeAsTyped) {
  MDbTimeRec rec = GarbageTime();
  ASSERT_EQ(MDbRecsetTimeStrToTRec(&env_, u"1:75", &rec, 0, nullptr, nullptr), MDbErrNone);
  EXPECT_EQ(rec.hours, 1);
  EXPECT_EQ(rec.minutes, 75);
  EXPECT_EQ(WriteTime(rec), u"2:15");
  ASSERT_EQ(MDbRecsetTimeStrToTRec(&env_, u"1:75", &rec, 1, nullptr, nullptr), MDbErrNone);
  EXPECT_EQ(rec.hours, 2);
  EXPECT_EQ(rec.minutes, 15);
}

TEST_F(DateTimeTextTest, AnInvalidTimeGivesBadTime) {
  MDbTimeRec rec = GarbageTime();
  EXPECT_EQ(MDbRecsetTimeStrToTRec(&env_, u"13:00 AM", &rec, 1, nullptr, nullptr), MDbErrBadTime);
  EXPECT_EQ(rec.kind, MDbTimeInvalid);
  EXPECT_EQ(rec.hours, -32767);
  EXPECT_EQ(rec.components, 2u);
  EXPECT_EQ(WriteTime(rec), u"?");
  EXPECT_EQ(MDbRecsetTimeStrToTRec(&env_, u"   ", &rec, 1, nullptr, nullptr), MDbErrBadTime);
  EXPECT_EQ(rec.kind, MDbTimeBlank);
  EXPECT_EQ(WriteTime(rec), u"");
}

TEST_F(DateTimeTextTest, TypedDigitsAreCutToTheirSlot) {
  MDbTimeRec rec = GarbageTime();
  std::uint16_t digits[768];
  std::fill(std::begin(digits), std::end(digits), 0xFFFF);
  const std::u16string text = std::u16string(400, u'0') + u"7:" + std::u16string(300, u'3');
  ASSERT_EQ(MDbRecsetTimeStrToTRec(&env_, text.c_str(), &rec, 1, nullptr, digits), MDbErrBadTime)
      << "the minutes are beyond a record";
  EXPECT_TRUE(std::all_of(digits, digits + 255, [](std::uint16_t c) { return c == u'0'; }));
  EXPECT_EQ(digits[255], 0);
  EXPECT_TRUE(std::all_of(digits + 256, digits + 511, [](std::uint16_t c) { return c == u'3'; }));
  EXPECT_EQ(digits[511], 0);
  EXPECT_EQ(digits[512], 0) << "no seconds typed";
  EXPECT_EQ(digits[513], 0xFFFF);
}

TEST_F(DateTimeTextTest, AnUninitialisedEnvironmentIsRefusedWithEachCallsCode) {
  MDbEnv fresh;
  MDbEnvInitialize(&fresh);
  MDbDateRec date = Garbage();
  MDbTimeRec time = GarbageTime();
  std::uint8_t format[MDbTimeFormatBytes];
  std::fill(std::begin(format), std::end(format), 0xEE);
  char16_t out[MDbDateTimeTextChars] = {u'#', 0};
  EXPECT_EQ(MDbRecsetDateStrToDateRec(&fresh, u"3/4/2002", &date, 0, format), MDbErrBadDate);
  EXPECT_EQ(MDbRecsetDRecToDateStr(&fresh, &date, out), MDbErrFailed);
  EXPECT_EQ(MDbRecsetTimeStrToTRec(&fresh, u"1:30", &time, 1, format, nullptr), MDbErrBadTime);
  EXPECT_EQ(MDbRecsetTRecToTimeStr(&fresh, &time, out), MDbErrFailed);
  EXPECT_EQ(MDbRecsetDateStrToDateRec(nullptr, u"3/4/2002", &date, 0, nullptr), MDbErrBadDate);
  EXPECT_EQ(MDbRecsetTRecToTimeStr(nullptr, &time, out), MDbErrFailed);
  EXPECT_EQ(date.status, Garbage().status);
  EXPECT_EQ(time.kind, GarbageTime().kind);
  EXPECT_EQ(format[0], 0xEE);
  EXPECT_EQ(out[0], u'#');
}

TEST_F(DateTimeTextTest, AClosedAttributeTableStopsEveryCallBeforeParsing) {
  ASSERT_EQ(MDbAttrTblClose(&env_, &env_.ref, &env_.attributes), MDbErrNone);
  MDbDateRec date = Garbage();
  MDbTimeRec time = GarbageTime();
  std::uint8_t format[MDbTimeFormatBytes];
  std::fill(std::begin(format), std::end(format), 0xEE);
  char16_t out[MDbDateTimeTextChars] = {u'#', 0};
  EXPECT_EQ(MDbRecsetDateStrToDateRec(&env_, u"3/4/2002", &date, 0, format), MDbErrFailed);
  EXPECT_EQ(MDbRecsetTimeStrToTRec(&env_, u"1:30", &time, 1, format, nullptr), MDbErrFailed);
  EXPECT_EQ(date.status, Garbage().status);
  EXPECT_EQ(time.kind, GarbageTime().kind);
  EXPECT_EQ(format[0], 0xEE);
  const MDbDateRec valid{3, 4, 2002, MDbDateValid, 1, 0};
  EXPECT_EQ(MDbRecsetDRecToDateStr(&env_, &valid, out), MDbErrFailed);
  const MDbTimeRec noon{12, 0, 0, MDbTimeTwelve, 1};
  EXPECT_EQ(MDbRecsetTRecToTimeStr(&env_, &noon, out), MDbErrFailed);
  EXPECT_EQ(out[0], u'#');
}

TEST_F(DateTimeTextTest, AMissingOrDamagedAttributeBlockFailsTheCall) {
  DamageBlock(MDbObjAttributes, 0, kAttrProp, 30);
  MDbDateRec date = Garbage();
  EXPECT_EQ(MDbRecsetDateStrToDateRec(&env_, u"3/4/2002", &date, 0, nullptr), MDbErrFailed);
  EXPECT_EQ(date.status, Garbage().status);
  Damage(MDbObjAttributes, 0, nullptr);
  MDbTimeRec time = GarbageTime();
  EXPECT_EQ(MDbRecsetTimeStrToTRec(&env_, u"1:30", &time, 1, nullptr, nullptr), MDbErrFailed);
  EXPECT_EQ(time.kind, GarbageTime().kind);
}

TEST_F(DateTimeTextTest, NullArgumentsAreRefused) {
  MDbDateRec date = Garbage();
  MDbTimeRec time = GarbageTime();
  EXPECT_EQ(MDbRecsetDateStrToDateRec(&env_, nullptr, &date, 0, nullptr), MDbErrBadDate);
  EXPECT_EQ(MDbRecsetDateStrToDateRec(&env_, u"3/4/2002", nullptr, 0, nullptr), MDbErrBadDate);
  EXPECT_EQ(MDbRecsetTimeStrToTRec(&env_, nullptr, &time, 1, nullptr, nullptr), MDbErrBadTime);
  EXPECT_EQ(MDbRecsetTimeStrToTRec(&env_, u"1:30", nullptr, 1, nullptr, nullptr), MDbErrBadTime);
  EXPECT_EQ(date.status, Garbage().status);
  EXPECT_EQ(MDbRecsetDRecToDateStr(&env_, &date, nullptr), MDbErrFailed);
  EXPECT_EQ(MDbRecsetDRecToDateStr(&env_, nullptr, nullptr), MDbErrFailed);
  EXPECT_EQ(MDbRecsetTRecToTimeStr(&env_, &time, nullptr), MDbErrFailed);
}

TEST_F(DateTimeTextTest, ARecordOfNoKnownStatusOrKindIsWrittenEmptyAndFails) {
  MDbDateRec date{3, 4, 2002, 9, 1, 0};
  EXPECT_EQ(WriteDate(date, MDbErrFailed), u"");
  MDbTimeRec time{1, 30, 0, 7, 1};
  EXPECT_EQ(WriteTime(time, MDbErrFailed), u"");
}

TEST_F(DateTimeTextTest, WritingStaysInsideTheCallersBufferWhateverTheRecordHolds) {
  // A 24-hour suffix filling its slot, no terminator in it.
  auto attrs = GermanAttrs();
  PutUnits(&attrs[kTimeAt + 26], u"0123456789");
  UseAttrs(attrs);
  constexpr auto kMin = std::numeric_limits<std::int16_t>::min();
  constexpr std::size_t kGuard = 16;
  char16_t out[MDbDateTimeTextChars + kGuard];
  for (const std::uint32_t kind : {MDbTimePlain, MDbTimeTwelve, MDbTimeTwentyFour}) {
    std::fill(std::begin(out), std::end(out), u'#');
    const MDbTimeRec rec{kMin, kMin, kMin, kind, 0xFFFFFFFF};
    ASSERT_EQ(MDbRecsetTRecToTimeStr(&env_, &rec, out), MDbErrNone);
    const auto end = std::find(out, out + MDbDateTimeTextChars, 0);
    ASSERT_NE(end, out + MDbDateTimeTextChars) << "terminated inside the buffer";
    EXPECT_TRUE(std::all_of(out + MDbDateTimeTextChars, std::end(out),
                            [](char16_t c) { return c == u'#'; }));
  }
  std::fill(std::begin(out), std::end(out), u'#');
  const MDbDateRec date{kMin, kMin, kMin, MDbDateValid, 0xFFFFFFFF, u'\xD800'};
  ASSERT_EQ(MDbRecsetDRecToDateStr(&env_, &date, out), MDbErrNone);
  EXPECT_EQ(std::u16string(out), u"-32768.-32768.-32768");
  EXPECT_TRUE(
      std::all_of(out + MDbDateTimeTextChars, std::end(out), [](char16_t c) { return c == u'#'; }));
}

}  // namespace
}  // namespace tbm::engine::testing
