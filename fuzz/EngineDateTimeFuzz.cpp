// Date and time text as it arrives in a field of a synchronised database,
// read and written in formats that come from the desktop: any bytes in
// either format block, any text, any record a caller may hold. Nothing may
// crash or overflow, every record the parsers make must be one the engine
// promises, and what the writers make of a parsed record must read back.
//
// Input: 6 bytes date format, 48 bytes time format, 1 flag byte (bit 0
// century1900), 2 bytes choosing the current year, 9 bytes of a date
// record, 9 bytes of a time record, then the text as UTF-16 LE. Short
// inputs are padded with zeros.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "DateTime.h"

namespace {

using namespace tbm::engine;

constexpr std::size_t kHeader = MDbDateFormatBytes + MDbTimeFormatBytes + 1 + 2 + 9 + 9;

void Check(bool condition) {
  if (!condition) std::abort();
}

std::int16_t Int16At(const std::uint8_t* p) {
  return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

std::uint32_t U32At(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool AllSpaces(const std::u16string& s) {
  return std::all_of(s.begin(), s.end(), [](char16_t c) { return c == u' '; });
}

// Small numbers are the interesting statuses and kinds; keep them common.
std::uint32_t SmallOrAny(std::uint8_t selector, std::uint32_t any) {
  return selector < 0xF0 ? selector % 6 : any;
}

void CheckDate(std::u16string_view text, const std::uint8_t* dateBlock, bool century1900) {
  const DateFormat format = DecodeDateFormat(dateBlock);
  const MDbDateRec rec = ParseDate(text, format, century1900);
  Check(rec.status <= MDbDateInvalid);
  if (rec.status >= MDbDateBlank) {
    Check(rec.month == 0 && rec.day == 0 && rec.year == 0);
  } else {
    Check(rec.year >= kFirstYear && rec.year <= kLastYear);
    Check(rec.month >= 1 && rec.month <= 12 && rec.day >= 1 && rec.day <= 31);
    int y = 0, m = 0, d = 0;
    Check(DateFromDayNumber(DayNumber(rec.year, rec.month, rec.day), &y, &m, &d));
    Check(y == rec.year && m == rec.month && d == rec.day);
    if (rec.status == MDbDateValidThisYear) Check(rec.year == CurrentYear());
  }
  // A valid date has its components apart; only a typed zero unit is a
  // separator that reads as none.
  Check(rec.status >= MDbDateBlank || rec.separator != 0 || text.find(u'\0') != text.npos);

  const auto written = WriteDate(rec, format);
  Check(written.has_value() && written->size() < MDbDateTimeTextChars);
  if (rec.status > MDbDateValidThisYear) return;
  // A date written in its own format reads back as the same day, as long
  // as the separator written is one a reader can take for a separator.
  const char16_t separator =
      format.preferTypedSeparator && rec.separator != 0 ? rec.separator : format.separator;
  if (separator == 0 || IsDigit(separator)) return;
  const MDbDateRec again = ParseDate(*written, format, century1900);
  Check(again.status == MDbDateValid);
  Check(again.year == rec.year && again.month == rec.month && again.day == rec.day);
}

// Which slot "1" followed by suffix reads as: 0 none or invalid, 1 the
// morning, 2 the afternoon, 3 the 24-hour suffix.
int SlotReadFrom(const std::u16string& suffix, const TimeFormat& format) {
  const MDbTimeRec probe = ParseTime(u"1" + suffix, format, true);
  if (probe.kind == MDbTimeTwentyFour) return 3;
  if (probe.kind == MDbTimeTwelve) return probe.hours == 13 ? 2 : 1;
  return 0;
}

void CheckTime(std::u16string_view text, const std::uint8_t* timeBlock) {
  const TimeFormat format = DecodeTimeFormat(timeBlock);
  TypedDigits digits;
  const MDbTimeRec rec = ParseTime(text, format, true, &digits);
  const MDbTimeRec typed = ParseTime(text, format, false);
  Check(rec.kind <= MDbTimeInvalid);
  Check(rec.kind == typed.kind && rec.components == typed.components);
  Check(digits.hours.size() <= kTypedDigitsMax && digits.minutes.size() <= kTypedDigitsMax &&
        digits.seconds.size() <= kTypedDigitsMax);
  if (rec.kind >= MDbTimeBlank) {
    Check(rec.hours == -32767 && rec.minutes == 0 && rec.seconds == 0 && rec.components == 2);
    Check(typed.hours == -32767 && typed.minutes == 0 && typed.seconds == 0);
  } else {
    Check(rec.components <= 2);
    Check(rec.minutes > -60 && rec.minutes < 60 && rec.seconds > -60 && rec.seconds < 60);
    const bool anyNegative = rec.hours < 0 || rec.minutes < 0 || rec.seconds < 0;
    const bool anyPositive = rec.hours > 0 || rec.minutes > 0 || rec.seconds > 0;
    Check(!(anyNegative && anyPositive));
    if (rec.kind != MDbTimePlain) Check(rec.hours >= 0 && rec.hours <= 23);
    Check(rec.hours != -32767);
  }

  const auto written = WriteTime(rec, format);
  Check(written.has_value() && written->size() < MDbDateTimeTextChars);
  if (rec.kind >= MDbTimeBlank) return;
  if (format.separator == 0 || format.separator == u' ' || IsDigit(format.separator)) return;
  // The suffix written must read back as its own slot; a format whose
  // suffixes shadow each other (or begin like a number) cannot promise
  // that, and neither can the writer.
  if (rec.kind != MDbTimePlain) {
    const std::u16string* suffix = &format.twentyFour;
    int slot = 3;
    if (format.twelveHourClock) {
      suffix = rec.hours < 12 ? &format.morning : &format.afternoon;
      slot = rec.hours < 12 ? 1 : 2;
    }
    if (AllSpaces(*suffix)) {
      // Without a suffix the 12-hour clock cannot tell 1:00 from 13:00.
      if (format.twelveHourClock) return;
    } else {
      const char16_t first =
          *std::find_if(suffix->begin(), suffix->end(), [](char16_t c) { return c != u' '; });
      if (IsDigit(first) || first == format.separator) return;
      if (SlotReadFrom(*suffix, format) != slot) return;
    }
  }
  const MDbTimeRec again = ParseTime(*written, format, true);
  Check(again.kind < MDbTimeBlank);
  Check(TimeRecSeconds(again) == TimeRecSeconds(rec));
}

// Records as a caller may hold them: whatever numbers, the writers stay
// within the caller's buffer and know every status and kind they accept.
void CheckWriters(const std::uint8_t* dateRec, const std::uint8_t* timeRec,
                  const std::uint8_t* dateBlock, const std::uint8_t* timeBlock) {
  MDbDateRec date{};
  date.month = Int16At(dateRec);
  date.day = Int16At(dateRec + 2);
  date.year = Int16At(dateRec + 4);
  date.status = SmallOrAny(dateRec[6], U32At(dateRec + 5));
  date.separator = static_cast<char16_t>(Int16At(dateRec + 7));
  const auto dateText = WriteDate(date, DecodeDateFormat(dateBlock));
  Check(dateText.has_value() == (date.status <= MDbDateInvalid));
  if (dateText) Check(dateText->size() < MDbDateTimeTextChars);

  MDbTimeRec time{};
  time.hours = Int16At(timeRec);
  time.minutes = Int16At(timeRec + 2);
  time.seconds = Int16At(timeRec + 4);
  time.kind = SmallOrAny(timeRec[6], U32At(timeRec + 5));
  time.components = SmallOrAny(timeRec[8], U32At(timeRec + 4));
  const auto timeText = WriteTime(time, DecodeTimeFormat(timeBlock));
  Check(timeText.has_value() == (time.kind <= MDbTimeInvalid));
  if (timeText) Check(timeText->size() < MDbDateTimeTextChars);
  (void)TimeRecSeconds(time);

  // Day numbers from the record's bytes: any int32 converts or is refused.
  int y = 0, m = 0, d = 0;
  const auto n = static_cast<std::int32_t>(U32At(dateRec));
  if (DateFromDayNumber(n, &y, &m, &d)) Check(DayNumber(y, m, d) == n);
  (void)DayNumber(date.year, date.month, date.day);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint8_t header[kHeader] = {};
  if (size > 0) std::memcpy(header, data, std::min(size, kHeader));  // data may be null
  const std::uint8_t* dateBlock = header;
  const std::uint8_t* timeBlock = dateBlock + MDbDateFormatBytes;
  const std::uint8_t flags = timeBlock[MDbTimeFormatBytes];
  const std::uint8_t* yearBytes = timeBlock + MDbTimeFormatBytes + 1;
  const std::uint8_t* dateRec = yearBytes + 2;
  const std::uint8_t* timeRec = dateRec + 9;

  // Current years from 1 to 3100: the turns of centuries and years past
  // the last valid one.
  SetCurrentYearForTesting(1 + (yearBytes[0] | (yearBytes[1] << 8)) % 3100);

  std::u16string text;
  for (std::size_t i = kHeader; i + 1 < size; i += 2) {
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  }
  CheckDate(text, dateBlock, (flags & 1) != 0);
  CheckTime(text, timeBlock);

  // The sort and find conversions see the text up to its terminator and
  // agree with the parsers.
  const std::u16string terminated(text.c_str());
  std::int32_t value = 0;
  const MDbDateRec date = ParseDate(terminated, DecodeDateFormat(dateBlock), false);
  if (DateDayNumber(terminated.c_str(), dateBlock, &value) == MDbErrNone) {
    Check(date.status <= MDbDateValidThisYear);
    Check(value == DayNumber(date.year, date.month, date.day));
  } else {
    Check(date.status > MDbDateValidThisYear);
  }
  const MDbTimeRec time = ParseTime(terminated, DecodeTimeFormat(timeBlock), true);
  if (TimeSeconds(terminated.c_str(), timeBlock, &value) == MDbErrNone) {
    Check(time.kind < MDbTimeBlank && value == TimeRecSeconds(time));
  } else {
    Check(time.kind >= MDbTimeBlank);
  }

  CheckWriters(dateRec, timeRec, dateBlock, timeBlock);
  SetCurrentYearForTesting(0);
  return 0;
}
