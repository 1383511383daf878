// The engine's blocks read and written against bytes laid out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "MDbBlocks.h"

namespace {

template <typename Block, typename Decode, typename Encode>
std::vector<std::uint8_t> RoundTrip(const std::vector<std::uint8_t>& bytes, Decode decode,
                                    Encode encode, Block* decoded) {
  *decoded = decode(bytes.data());
  std::vector<std::uint8_t> out(bytes.size(), 0xEE);
  encode(*decoded, out.data());
  return out;
}

TEST(BlocksTest, FieldInformationHoldsTheTypeAndTheCountedKey) {
  const std::vector<std::uint8_t> bytes = {3, 0, 4, 'B', 'o', 'r', 'n', 0, 0,
                                           0, 0, 0, 0,   0,   0,   0,   0, 0};
  ASSERT_EQ(bytes.size(), MDbFieldInfoBytes);
  MDbFieldInfo info;
  EXPECT_EQ(RoundTrip(bytes, MDbDecodeFieldInfo, MDbEncodeFieldInfo, &info), bytes);
  EXPECT_EQ(info.type, MDbFieldDate);
  EXPECT_EQ(info.key[0], 4);
  EXPECT_EQ(std::string(info.key.begin() + 1, info.key.begin() + 5), "Born");
}

TEST(BlocksTest, FieldOptionIsThreeLittleEndianWords) {
  // Locked and capitalised, a drop-down list, value list 2; then what
  // synchronisation writes for a field without a list.
  const std::vector<std::uint8_t> bytes = {0x03, 0x00, 0x01, 0x00, 0x02, 0x00};
  ASSERT_EQ(bytes.size(), MDbOptionBytes);
  MDbFieldOption option;
  EXPECT_EQ(RoundTrip(bytes, MDbDecodeFieldOption, MDbEncodeFieldOption, &option), bytes);
  EXPECT_EQ(option.flags, MDbFieldLocked | MDbFieldCapitalise);
  EXPECT_EQ(option.displayStyle(), 1);
  EXPECT_EQ(option.valueListNumber(), 2);
  const std::vector<std::uint8_t> none = {0x00, 0x00, 0x05, 0x00, 0xFF, 0xFF};
  EXPECT_EQ(RoundTrip(none, MDbDecodeFieldOption, MDbEncodeFieldOption, &option), none);
  EXPECT_EQ(option.valueListNumber(), MDbNoValueList);
  EXPECT_EQ(option.valueList, 0xFFFF);
}

TEST(BlocksTest, ExtendedOptionHoldsWidthAlignmentColourAndOrder) {
  const std::vector<std::uint8_t> bytes = {75, 3, 0x33, 0x22, 0x11, 0x00, 7, 0xA5, 0x5A};
  ASSERT_EQ(bytes.size(), MDbOptionExBytes);
  MDbFieldOptionEx ex;
  EXPECT_EQ(RoundTrip(bytes, MDbDecodeFieldOptionEx, MDbEncodeFieldOptionEx, &ex), bytes);
  EXPECT_EQ(ex.width, 75);
  EXPECT_EQ(ex.alignment, 3);
  EXPECT_EQ(ex.colour, 0x00112233u);  // 0x00BBGGRR
  EXPECT_EQ(ex.displayOrder, 7);
  EXPECT_EQ(ex.kept[0], 0xA5);  // bytes no one reads stay as written
  EXPECT_EQ(ex.kept[1], 0x5A);
}

TEST(BlocksTest, AttributesHoldTheWordsAndBothFormatsAtTheirPlaces) {
  std::vector<std::uint8_t> bytes(MDbAttrBytes, 0);
  bytes[4] = 1;
  const std::uint8_t words[] = {0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x0E, 0, 0, 0x01, 0, 0x03, 0};
  std::copy(std::begin(words), std::end(words), bytes.begin() + 8);
  const std::uint8_t date[] = {'/', 0, 2, 1, 0, 1};
  std::copy(std::begin(date), std::end(date), bytes.begin() + 24);
  bytes[30] = ':';
  bytes[30 + 2] = ' ';
  bytes[30 + 4] = 'A';
  bytes[77] = 1;
  MDbAttributes attrs;
  EXPECT_EQ(RoundTrip(bytes, MDbDecodeAttributes, MDbEncodeAttributes, &attrs), bytes);
  EXPECT_EQ(attrs.lead[4], 1);
  EXPECT_EQ(attrs.words[2], 3584u);
  EXPECT_EQ(attrs.words[3], 0x00030001u);
  EXPECT_EQ(attrs.dateFormat[2], 2);  // year/month/day
  EXPECT_EQ(attrs.timeFormat[0], ':');
  EXPECT_EQ(attrs.timeFormat[4], 'A');
  EXPECT_EQ(attrs.timeFormat[47], 1);  // the 12-hour clock
}

TEST(BlocksTest, IdentityIsTheDesktopsCountedIdAndModificationCount) {
  const std::vector<std::uint8_t> bytes = {4, 'A', '0', '0', '1', 0, 0, 0, 0x03, 0x01};
  ASSERT_EQ(bytes.size(), MDbIdentityBytes);
  MDbIdentity identity;
  EXPECT_EQ(RoundTrip(bytes, MDbDecodeIdentity, MDbEncodeIdentity, &identity), bytes);
  EXPECT_EQ(std::string(identity.desktopId.begin() + 1, identity.desktopId.begin() + 5), "A001");
  EXPECT_EQ(identity.modificationCount, 0x0103);
  EXPECT_FALSE(identity.empty());
  const std::vector<std::uint8_t> handheld(MDbIdentityBytes, 0);
  RoundTrip(handheld, MDbDecodeIdentity, MDbEncodeIdentity, &identity);
  EXPECT_TRUE(identity.empty());
}

}  // namespace

TEST(BlocksTest, DateAndTimeFormatsAreReadAsTheEngineReadsThem) {
  // Day-month-year with '.', two-digit day and month.
  const std::vector<std::uint8_t> date = {'.', 0, 1, 1, 1, 0};
  ASSERT_EQ(date.size(), MDbDateFormatBytes);
  MDbDateFormat dateFormat;
  EXPECT_EQ(RoundTrip(date, MDbDecodeDateFormat, MDbEncodeDateFormat, &dateFormat), date);
  EXPECT_EQ(dateFormat.separator, u'.');
  EXPECT_EQ(dateFormat.order, 1);
  EXPECT_TRUE(dateFormat.monthTwoDigits && dateFormat.dayTwoDigits);
  EXPECT_FALSE(dateFormat.preferTypedSeparator);
  // An order the engine does not know reads as month-day-year; a flag byte
  // other than 1 reads as set and is written back as 1.
  const std::uint8_t odd[] = {'/', 0, 9, 7, 0, 0};
  dateFormat = MDbDecodeDateFormat(odd);
  EXPECT_EQ(dateFormat.order, 0);
  EXPECT_TRUE(dateFormat.monthTwoDigits);

  // "AM" and "PM", a 24-hour suffix that fills its whole slot of ten units
  // without a terminator, the 12-hour clock.
  std::vector<std::uint8_t> time(MDbTimeFormatBytes, 0);
  time[0] = ':';
  time[2] = 'A', time[4] = 'M';
  time[14] = 'P', time[16] = 'M';
  for (int i = 0; i < 10; ++i) time[26 + 2 * i] = static_cast<std::uint8_t>('a' + i);
  time[47] = 1;
  const MDbTimeFormat timeFormat = MDbDecodeTimeFormat(time.data());
  EXPECT_EQ(timeFormat.separator, u':');
  EXPECT_EQ(timeFormat.morning, u"AM");
  EXPECT_EQ(timeFormat.afternoon, u"PM");
  EXPECT_EQ(timeFormat.twentyFour, u"abcdefghij");
  EXPECT_FALSE(timeFormat.hoursLeadingZero);
  EXPECT_TRUE(timeFormat.twelveHourClock);
  // Written back, the full slot keeps nine units and its terminator.
  std::vector<std::uint8_t> written(MDbTimeFormatBytes, 0xEE);
  MDbEncodeTimeFormat(timeFormat, written.data());
  std::vector<std::uint8_t> expected = time;
  expected[26 + 2 * 9] = 0;
  EXPECT_EQ(written, expected);
}
