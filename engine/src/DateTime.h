// Date and time text: the pure conversions behind the four date and time
// exports, and the integers sort and find compare (day numbers and signed
// seconds). Everything here works on UTF-16 text and the raw format blocks
// of the attribute block; nothing touches a volume. The exports that read
// the formats through an environment live in DateTimeText.cpp.
//
// Every function accepts text of any length and content (control
// characters, lone surrogates, endless digit runs) and format blocks of any
// bytes: it never reads outside the text or the block, never overflows a
// number, and the writers never produce more than MDbDateTimeTextChars - 1
// characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "MDb.h"
#include "MDbBlocks.h"

namespace tbm::engine {

// ---- the format blocks ----

// Where the two formats lie in the 78-byte attribute block.
constexpr std::size_t kDateFormatOffset = MDbAttrDateFormatOffset;  // MDbDateFormatBytes
constexpr std::size_t kTimeFormatOffset = MDbAttrTimeFormatOffset;  // MDbTimeFormatBytes

// The two format blocks, as MDbBlocks.h reads them.
using DateFormat = MDbDateFormat;
using TimeFormat = MDbTimeFormat;

// REQUIRES: block points at MDbDateFormatBytes readable bytes.
inline DateFormat DecodeDateFormat(const std::uint8_t block[MDbDateFormatBytes]) {
  return MDbDecodeDateFormat(block);
}
// REQUIRES: block points at MDbTimeFormatBytes readable bytes.
inline TimeFormat DecodeTimeFormat(const std::uint8_t block[MDbTimeFormatBytes]) {
  return MDbDecodeTimeFormat(block);
}

// ---- the current year ----

// The year two-digit and left-out years are read against: the system
// clock's year (UTC), read once and kept for the life of the process.
int CurrentYear();

// Makes CurrentYear() answer `year` from now on; 0 returns to the clock.
void SetCurrentYearForTesting(int year);

// ---- day numbers ----

constexpr int kFirstYear = 1;
constexpr int kLastYear = 3000;

// Day 1 is 1 January of year 1 in the proleptic Gregorian calendar, and the
// days count on without gaps (1 January 2000 is 730120). A month outside
// 1 .. 12 or a year below 1 gives 0, which is no day. The day is not
// checked against the month's length: 30 February counts on into March.
std::int32_t DayNumber(int year, int month, int day);

// The date of day number n. False, with the outputs untouched, when n is
// below 1 or the date lies after year 3000.
bool DateFromDayNumber(std::int32_t n, int* year, int* month, int* day);

// ---- dates ----

// Parses date text in `format` (see the rules in DateTime.cpp). century1900
// reads one- and two-digit years as 19xx; otherwise the century is the one
// nearest the current year. The record's status says what was found; a
// record of status 2 or more has month, day and year 0.
MDbDateRec ParseDate(std::u16string_view text, const DateFormat& format, bool century1900);

// Writes rec as text in `format`: status 2 gives the empty text, 4 gives
// "?", 0, 1 and 3 the components in the format's order. Every number the
// record may hold is written in full, a negative one with its sign, so the
// text is at most 20 characters. No value for any other status.
std::optional<std::u16string> WriteDate(const MDbDateRec& rec, const DateFormat& format);

// ---- times ----

// The digit runs typed for hours, minutes and seconds, each cut at
// kTypedDigitsMax characters; empty for a component not typed.
constexpr std::size_t kTypedDigitsMax = 255;
struct TypedDigits {
  std::u16string hours;
  std::u16string minutes;
  std::u16string seconds;
};

// Parses time text in `format` (see the rules in DateTime.cpp). With
// normalise, the record holds the time after carries and the morning or
// afternoon adjustment; without it, the numbers as typed (negated for a
// negative time). The kind and the component count are the same either
// way. A record of kind 3 or 4 holds hours -32767, minutes 0, seconds 0 and
// component count 2. When digits is not null it receives the digit runs.
MDbTimeRec ParseTime(std::u16string_view text, const TimeFormat& format, bool normalise,
                     TypedDigits* digits = nullptr);

// Writes rec as text in `format`: kind 3 gives the empty text, 4 gives "?",
// 0, 1 and 2 the time. The components are taken by magnitude (a record with
// any negative component is a negative time), seconds of 60 or more carry
// into minutes and minutes of 60 or more into hours, and a component count
// above 2 counts as 2, so the text is at most 21 characters. No value for
// any other kind.
std::optional<std::u16string> WriteTime(const MDbTimeRec& rec, const TimeFormat& format);

// (|hours| * 60 + |minutes|) * 60 + |seconds|, negated when any component
// is negative. Exact for every record: at most 117,964,800 + 1,966,080 +
// 32,768 in magnitude.
std::int32_t TimeRecSeconds(const MDbTimeRec& rec);

// ---- sort and find ----

// The day number of date text, parsed with century1900 clear: MDbErrNone
// when the status is 0 or 1, else MDbErrBadDate (also for a null text or
// out) and *out is untouched.
// REQUIRES: format points at MDbDateFormatBytes readable bytes.
std::int32_t DateDayNumber(const char16_t* text, const std::uint8_t format[MDbDateFormatBytes],
                           std::int32_t* out);

// The signed seconds of time text, parsed with normalise set: MDbErrNone
// when the kind is 0, 1 or 2, else MDbErrBadTime (also for a null text or
// out) and *out is untouched.
// REQUIRES: format points at MDbTimeFormatBytes readable bytes.
std::int32_t TimeSeconds(const char16_t* text, const std::uint8_t format[MDbTimeFormatBytes],
                         std::int32_t* out);

}  // namespace tbm::engine
