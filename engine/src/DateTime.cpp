// Date and time text, parsed and written in the database's own formats
// (they come from the desktop database, not from the handheld's regional
// settings), and the day numbers and seconds that sort and find compare.
//
// Reading a date. Spaces (U+0020) are skipped at both ends. The three
// components come in the format's order; after each, one separator may
// follow: any character that is not a digit, the first one fixing the
// character for the second (at most two are taken). A component is a run of
// digits taken while its value is below 3000; one more digit after that
// makes the text invalid. The year may be left out at the end: it is read
// only where a separator precedes its place, and when it comes first only
// when the first non-digit character appears at least twice (so "3/4" in a
// year-first order is month and day). One or two year digits are completed
// with a century, three or more are the year itself; exactly four set the
// four-digit flag. A left-out year is the current one (status 1). The date
// must be a real day of years 1 to 3000; every component zero is status 3;
// nothing but spaces is status 2; anything else is invalid (status 4).
//
// Reading a time. An optional minus sign, then hours, and for each further
// component the format's separator and its digits; spaces may stand around
// every part. Then optionally one of the three suffixes, compared without
// regard to case: the 24-hour suffix first, then the afternoon suffix, then
// the morning suffix. Seconds and minutes of 60 or more carry upwards; the
// morning suffix turns 12 into 0 and the afternoon suffix adds 12 below 12.
#include "DateTime.h"

#include <algorithm>
#include <atomic>
#include <ctime>

#include "Utf16.h"

namespace tbm::engine {
namespace {

constexpr char16_t kSpace = u' ';
constexpr char16_t kMinus = u'-';

// Digits of a date component are taken while its value is below this.
constexpr int kDateComponentLimit = 3000;

// A time component keeps growing past every limit a record can hold; its
// value stops here, far above the largest one a valid time has (32766), so
// digit runs of any length neither overflow nor turn valid.
constexpr std::int64_t kTimeComponentCap = 1'000'000'000;

// Hours of this many or more make a time invalid; -32767 (0x8001) marks a
// record that holds no time.
constexpr std::int64_t kHoursLimit = 32767;
constexpr std::int16_t kNoHours = -32767;

// Days of the months before month m (index m - 1) in a common year.
constexpr int kDaysBefore[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

std::atomic<int> testYear{0};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

std::size_t SkipSpaces(std::u16string_view text, std::size_t pos) {
  while (pos < text.size() && text[pos] == kSpace) ++pos;
  return pos;
}

std::u16string_view TrimSpaces(std::u16string_view text) {
  const std::size_t begin = SkipSpaces(text, 0);
  std::size_t end = text.size();
  while (end > begin && text[end - 1] == kSpace) --end;
  return text.substr(begin, end - begin);
}

// Appends the decimal digits of magnitude (not negative), zeros in front up
// to `width` digits.
void AppendNumber(std::u16string* out, std::int64_t magnitude, int width) {
  char16_t digits[24];
  int n = 0;
  do {
    digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude > 0 && n < 20);
  for (int i = n; i < width; ++i) out->push_back(u'0');
  while (n > 0) out->push_back(digits[--n]);
}

// ---- dates ----

enum class Part { kMonth, kDay, kYear };

constexpr Part kOrders[6][3] = {
    {Part::kMonth, Part::kDay, Part::kYear}, {Part::kDay, Part::kMonth, Part::kYear},
    {Part::kYear, Part::kMonth, Part::kDay}, {Part::kMonth, Part::kYear, Part::kDay},
    {Part::kDay, Part::kYear, Part::kMonth}, {Part::kYear, Part::kDay, Part::kMonth},
};

struct DateNumber {
  int value = 0;
  std::size_t digits = 0;
  bool tooLong = false;  // a digit followed after the limit was reached
};

DateNumber ReadDateNumber(std::u16string_view text, std::size_t* pos) {
  DateNumber n;
  while (*pos < text.size() && IsDigit(text[*pos])) {
    if (n.value >= kDateComponentLimit) {
      n.tooLong = true;
      break;
    }
    n.value = n.value * 10 + (text[*pos] - u'0');
    ++n.digits;
    ++*pos;
  }
  return n;
}

// A year typed with one or two digits: with century1900 in the 1900s,
// otherwise in the current century, moved one century back or on when the
// current year and the typed one lie on either side of a century's turn
// (in 2002, 99 is 1999; in 2095, 05 is 2105).
int CompleteYear(int twoDigits, bool century1900) {
  if (century1900) return 1900 + twoDigits;
  const int current = CurrentYear();
  const int inCentury = current % 100;
  int base = current - inCentury;
  if (inCentury < 10 && twoDigits >= 90) base -= 100;
  if (inCentury >= 90 && twoDigits < 10) base += 100;
  return base + twoDigits;
}

// Whether the first character of text that is not a digit appears in it at
// least twice: a year-first date then holds all three components.
bool FirstSeparatorTwice(std::u16string_view text) {
  const auto first = std::find_if(text.begin(), text.end(), [](char16_t c) { return !IsDigit(c); });
  return first != text.end() && std::count(first, text.end(), *first) >= 2;
}

bool IsRealDay(int year, int month, int day) {
  const std::int32_t n = DayNumber(year, month, day);
  int y = 0, m = 0, d = 0;
  return n != 0 && DateFromDayNumber(n, &y, &m, &d) && d == day;
}

// ---- times ----

enum class Suffix { kNone, kTwentyFour, kAfternoon, kMorning };

// Reads a run of digits of any length; the value stops at
// kTimeComponentCap. The run (cut at kTypedDigitsMax) is appended to typed
// when it is not null. Returns the number of digits.
std::size_t ReadTimeNumber(std::u16string_view text, std::size_t* pos, std::int64_t* value,
                           std::u16string* typed) {
  const std::size_t start = *pos;
  std::int64_t v = 0;
  while (*pos < text.size() && IsDigit(text[*pos])) {
    v = std::min(v * 10 + (text[*pos] - u'0'), kTimeComponentCap);
    if (typed != nullptr && typed->size() < kTypedDigitsMax) typed->push_back(text[*pos]);
    ++*pos;
  }
  *value = v;
  return *pos - start;
}

// Whether rest (no spaces at either end) is the suffix as stored, spaces
// at its ends dropped, compared without regard to case. The text may be no
// longer than the stored suffix.
bool MatchesSuffix(std::u16string_view rest, const std::u16string& stored) {
  const std::u16string_view suffix = TrimSpaces(stored);
  if (suffix.empty() || rest.size() > stored.size()) return false;
  return EqualsIgnoreCase(rest, suffix);
}

MDbTimeRec NoTime(std::uint32_t kind) { return MDbTimeRec{kNoHours, 0, 0, kind, 2}; }

}  // namespace

// ---- the current year ----

int CurrentYear() {
  const int forced = testYear.load(std::memory_order_relaxed);
  if (forced != 0) return forced;
  static const int clockYear = [] {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    if (gmtime_r(&now, &utc) == nullptr) return 2000;
    return utc.tm_year + 1900;
  }();
  return clockYear;
}

void SetCurrentYearForTesting(int year) {
  testYear.store(std::clamp(year, -100000, 100000), std::memory_order_relaxed);
}

// ---- day numbers ----

std::int32_t DayNumber(int year, int month, int day) {
  if (year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1 || day > 31) {
    return 0;
  }
  const std::int32_t before = year - 1;
  std::int32_t n = 365 * before + before / 4 - before / 100 + before / 400;
  n += kDaysBefore[month - 1] + day;
  if (month >= 3 && IsLeapYear(year)) ++n;
  return n;
}

bool DateFromDayNumber(std::int32_t n, int* year, int* month, int* day) {
  if (n < 1) return false;
  std::int32_t rest = n - 1;
  const std::int32_t cycles = rest / 146097;
  rest %= 146097;
  const std::int32_t centuries = std::min<std::int32_t>(rest / 36524, 3);
  rest -= centuries * 36524;
  const std::int32_t quads = std::min<std::int32_t>(rest / 1461, 24);
  rest -= quads * 1461;
  const std::int32_t years = std::min<std::int32_t>(rest / 365, 3);
  rest -= years * 365;
  const std::int32_t y = 400 * cycles + 100 * centuries + 4 * quads + years + 1;
  if (y > kLastYear) return false;
  const int dayOfYear = static_cast<int>(rest) + 1;
  const int leap = IsLeapYear(static_cast<int>(y)) ? 1 : 0;
  int m = 1;
  for (int candidate = 2; candidate <= 12; ++candidate) {
    if (kDaysBefore[candidate - 1] + (candidate >= 3 ? leap : 0) < dayOfYear) m = candidate;
  }
  *year = static_cast<int>(y);
  *month = m;
  *day = dayOfYear - kDaysBefore[m - 1] - (m >= 3 ? leap : 0);
  return true;
}

// ---- dates ----

MDbDateRec ParseDate(std::u16string_view text, const DateFormat& format, bool century1900) {
  MDbDateRec rec{};
  int month = 1, day = 1, year = 1;
  std::uint32_t status = MDbDateBlank;
  bool invalid = text.empty();
  bool componentMissing = false;  // a month or day with no digits
  bool yearTyped = false;

  const std::u16string_view body = TrimSpaces(text);
  const Part* parts = kOrders[format.order < 6 ? format.order : 0];
  std::size_t pos = 0;
  int separators = 0;
  bool separatorBefore = false;  // a separator was taken just before this place
  bool endsOnSeparator = false;  // nothing but a separator was taken last
  for (int i = 0; i < 3; ++i) {
    const Part part = parts[i];
    if (part == Part::kYear && !(i == 0 ? FirstSeparatorTwice(body) : separatorBefore)) continue;
    const DateNumber n = ReadDateNumber(body, &pos);
    if (n.tooLong) invalid = true;
    if (n.digits > 0) {
      endsOnSeparator = false;
      if (status == MDbDateBlank) status = MDbDateValid;
      if (part == Part::kMonth) {
        month = n.value;
      } else if (part == Part::kDay) {
        day = n.value;
      } else {
        yearTyped = true;
        year = n.digits <= 2 ? CompleteYear(n.value, century1900) : n.value;
        rec.fourDigitYear = n.digits == 4 ? 1 : 0;
      }
    } else if (part != Part::kYear) {
      componentMissing = true;
    }
    separatorBefore = false;
    if (separators < 2 && pos < body.size() && !IsDigit(body[pos]) &&
        (separators == 0 || body[pos] == rec.separator)) {
      rec.separator = body[pos];
      ++pos;
      ++separators;
      separatorBefore = true;
      endsOnSeparator = true;
    }
  }
  if (pos != body.size() || endsOnSeparator || month > 12 || day > 31) invalid = true;

  if (invalid) {
    status = MDbDateInvalid;
  } else if (status == MDbDateValid) {
    if (componentMissing) {
      // "/5/2002": a month or day left empty between typed ones.
      status = MDbDateInvalid;
    } else if (month != 0 && day != 0 && year != 0) {
      if (!yearTyped) {
        year = CurrentYear();
        status = MDbDateValidThisYear;
      }
      if (!IsRealDay(year, month, day)) status = MDbDateInvalid;
    } else if (month == 0 && day == 0 && year == 0) {
      status = MDbDateZero;
    } else {
      status = MDbDateInvalid;
    }
  }
  rec.status = status;
  if (status < MDbDateBlank) {
    rec.month = static_cast<std::int16_t>(month);
    rec.day = static_cast<std::int16_t>(day);
    rec.year = static_cast<std::int16_t>(year);
  }
  return rec;
}

std::optional<std::u16string> WriteDate(const MDbDateRec& rec, const DateFormat& format) {
  switch (rec.status) {
    case MDbDateBlank:
      return std::u16string();
    case MDbDateInvalid:
      return std::u16string(u"?");
    case MDbDateValid:
    case MDbDateValidThisYear:
    case MDbDateZero:
      break;
    default:
      return std::nullopt;
  }
  const char16_t separator =
      format.preferTypedSeparator && rec.separator != 0 ? rec.separator : format.separator;
  std::u16string out;
  const Part* parts = kOrders[format.order < 6 ? format.order : 0];
  for (int i = 0; i < 3; ++i) {
    if (i > 0) out.push_back(separator);
    std::int32_t value = 0;
    int width = 1;
    switch (parts[i]) {
      case Part::kMonth:
        value = rec.month;
        width = format.monthTwoDigits ? 2 : 1;
        break;
      case Part::kDay:
        value = rec.day;
        width = format.dayTwoDigits ? 2 : 1;
        break;
      case Part::kYear:
        value = rec.year;
        width = 4;
        break;
    }
    if (value < 0) out.push_back(kMinus);
    AppendNumber(&out, value < 0 ? -static_cast<std::int64_t>(value) : value, width);
  }
  return out;
}

// ---- times ----

MDbTimeRec ParseTime(std::u16string_view text, const TimeFormat& format, bool normalise,
                     TypedDigits* digits) {
  std::u16string* runs[3] = {nullptr, nullptr, nullptr};
  if (digits != nullptr) {
    *digits = TypedDigits{};
    runs[0] = &digits->hours;
    runs[1] = &digits->minutes;
    runs[2] = &digits->seconds;
  }
  std::size_t pos = SkipSpaces(text, 0);
  bool negative = false;
  if (pos < text.size() && text[pos] == kMinus) {
    negative = true;
    pos = SkipSpaces(text, pos + 1);
  }

  std::uint32_t kind = MDbTimeBlank;
  std::uint32_t count = 0;
  bool invalid = text.empty();
  std::int64_t typed[3] = {0, 0, 0};
  if (ReadTimeNumber(text, &pos, &typed[0], runs[0]) > 0) kind = MDbTimePlain;
  pos = SkipSpaces(text, pos);
  if (kind == MDbTimePlain) {
    for (std::uint32_t c = 1; c <= 2; ++c) {
      if (pos >= text.size() || text[pos] != format.separator) break;
      pos = SkipSpaces(text, pos + 1);
      count = c;
      if (ReadTimeNumber(text, &pos, &typed[c], runs[c]) == 0) {
        invalid = true;
        break;
      }
      pos = SkipSpaces(text, pos);
    }
  }

  Suffix suffix = Suffix::kNone;
  if (kind == MDbTimePlain && !invalid && pos < text.size()) {
    const std::u16string_view rest = TrimSpaces(text.substr(pos));
    if (MatchesSuffix(rest, format.twentyFour)) {
      suffix = Suffix::kTwentyFour;
    } else if (MatchesSuffix(rest, format.afternoon)) {
      suffix = Suffix::kAfternoon;
    } else if (MatchesSuffix(rest, format.morning)) {
      suffix = Suffix::kMorning;
    } else {
      invalid = true;
    }
    if (!invalid) pos = text.size();
  }
  if (pos != text.size()) invalid = true;  // text left over

  std::int64_t hours = typed[0], minutes = typed[1], seconds = typed[2];
  if (seconds > 59) {
    minutes += seconds / 60;
    seconds %= 60;
  }
  if (minutes > 59) {
    hours += minutes / 60;
    minutes %= 60;
  }
  const bool twelve = suffix == Suffix::kMorning || suffix == Suffix::kAfternoon;
  if ((twelve && hours > 12) || (suffix == Suffix::kTwentyFour && hours > 23) ||
      (negative && suffix != Suffix::kNone) || hours >= kHoursLimit) {
    invalid = true;
  }
  // Minutes or seconds typed beyond what a record holds: without
  // normalising they could not be handed back as typed.
  if (typed[1] >= kHoursLimit || typed[2] >= kHoursLimit) invalid = true;
  // A minus sign with no hours after it is not a blank time.
  if (kind == MDbTimeBlank && negative) invalid = true;

  if (invalid) return NoTime(MDbTimeInvalid);
  if (kind == MDbTimeBlank) return NoTime(MDbTimeBlank);
  if (suffix == Suffix::kTwentyFour) kind = MDbTimeTwentyFour;
  if (twelve) {
    kind = MDbTimeTwelve;
    if (suffix == Suffix::kMorning && hours >= 12) hours -= 12;
    if (suffix == Suffix::kAfternoon && hours < 12) hours += 12;
  }
  std::int64_t values[3] = {hours, minutes, seconds};
  if (!normalise) std::copy(std::begin(typed), std::end(typed), values);
  const std::int64_t sign = negative ? -1 : 1;
  return MDbTimeRec{static_cast<std::int16_t>(sign * values[0]),
                    static_cast<std::int16_t>(sign * values[1]),
                    static_cast<std::int16_t>(sign * values[2]), kind, count};
}

std::optional<std::u16string> WriteTime(const MDbTimeRec& rec, const TimeFormat& format) {
  switch (rec.kind) {
    case MDbTimeBlank:
      return std::u16string();
    case MDbTimeInvalid:
      return std::u16string(u"?");
    case MDbTimePlain:
    case MDbTimeTwelve:
    case MDbTimeTwentyFour:
      break;
    default:
      return std::nullopt;
  }
  const bool negative = rec.hours < 0 || rec.minutes < 0 || rec.seconds < 0;
  std::int64_t hours = rec.hours < 0 ? -static_cast<std::int64_t>(rec.hours) : rec.hours;
  std::int64_t minutes = rec.minutes < 0 ? -static_cast<std::int64_t>(rec.minutes) : rec.minutes;
  std::int64_t seconds = rec.seconds < 0 ? -static_cast<std::int64_t>(rec.seconds) : rec.seconds;
  if (seconds >= 60) {
    minutes += seconds / 60;
    seconds %= 60;
  }
  if (minutes >= 60) {
    hours += minutes / 60;
    minutes %= 60;
  }
  const std::uint32_t count = std::min<std::uint32_t>(rec.components, 2);

  std::u16string out;
  const std::u16string* suffix = nullptr;
  if (rec.kind == MDbTimePlain) {
    if (negative) out.push_back(kMinus);
    AppendNumber(&out, hours, 1);
  } else {
    std::int64_t shown = hours;
    if (format.twelveHourClock) {
      if (shown == 0) shown = 12;
      if (shown >= 13) shown -= 12;
      suffix = hours < 12 ? &format.morning : &format.afternoon;
    } else {
      suffix = &format.twentyFour;
    }
    AppendNumber(&out, shown, format.hoursLeadingZero ? 2 : 1);
  }
  if (count >= 1) {
    out.push_back(format.separator);
    AppendNumber(&out, minutes, 2);
  }
  if (count >= 2) {
    out.push_back(format.separator);
    AppendNumber(&out, seconds, 2);
  }
  if (suffix != nullptr) out += *suffix;
  return out;
}

std::int32_t TimeRecSeconds(const MDbTimeRec& rec) {
  const auto magnitude = [](std::int16_t v) { return v < 0 ? -static_cast<std::int64_t>(v) : v; };
  const std::int64_t total =
      (magnitude(rec.hours) * 60 + magnitude(rec.minutes)) * 60 + magnitude(rec.seconds);
  const bool negative = rec.hours < 0 || rec.minutes < 0 || rec.seconds < 0;
  return static_cast<std::int32_t>(negative ? -total : total);
}

// ---- sort and find ----

std::int32_t DateDayNumber(const char16_t* text, const std::uint8_t format[MDbDateFormatBytes],
                           std::int32_t* out) {
  if (text == nullptr || format == nullptr || out == nullptr) return MDbErrBadDate;
  const MDbDateRec rec = ParseDate(text, DecodeDateFormat(format), false);
  if (rec.status != MDbDateValid && rec.status != MDbDateValidThisYear) return MDbErrBadDate;
  *out = DayNumber(rec.year, rec.month, rec.day);
  return MDbErrNone;
}

std::int32_t TimeSeconds(const char16_t* text, const std::uint8_t format[MDbTimeFormatBytes],
                         std::int32_t* out) {
  if (text == nullptr || format == nullptr || out == nullptr) return MDbErrBadTime;
  const MDbTimeRec rec = ParseTime(text, DecodeTimeFormat(format), true);
  if (rec.kind >= MDbTimeBlank) return MDbErrBadTime;
  *out = TimeRecSeconds(rec);
  return MDbErrNone;
}

}  // namespace tbm::engine
