#include "FieldValues.h"

#include <algorithm>

#include "Utf16.h"

namespace tbm::engine {

namespace {

constexpr const char* kTypeNames[] = {"text", "number", "date", "time"};

// The last year of a date the engine reads (dates run from year 1).
constexpr long kLastDateYear = 3000;

// Whether text holds a run of digits above kLastDateYear.
bool HasNumberPastLastYear(std::u16string_view text) {
  long run = 0;
  for (const char16_t c : text) {
    if (c >= u'0' && c <= u'9') {
      run = std::min(run * 10 + (c - u'0'), 100000L);
      if (run > kLastDateYear) return true;
    } else {
      run = 0;
    }
  }
  return false;
}

// Why value (stored text, line breaks as CR LF) does not fit a field that
// holds maxChars UTF-16 units, in characters as the user counts them. The
// field's limit counts UTF-16 units of the stored text, where a line break
// (CR LF) and a character beyond U+FFFF take two.
std::string TooLongInWords(const std::u16string& value, std::uint32_t maxChars) {
  const std::u16string shown = Utf8ToUtf16(ShownText(value));
  std::size_t characters = 0;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (!(shown[i] >= 0xDC00 && shown[i] <= 0xDFFF && i > 0 && shown[i - 1] >= 0xD800 &&
          shown[i - 1] <= 0xDBFF)) {
      ++characters;
    }
  }
  if (characters == value.size()) {
    return "the value has " + std::to_string(characters) + " characters; the field holds at most " +
           std::to_string(maxChars);
  }
  return "the value has " + std::to_string(characters) + " characters, which take " +
         std::to_string(value.size()) + " places; the field holds at most " +
         std::to_string(maxChars) +
         " (a line break takes 2, as does a character beyond U+FFFF such as an emoji)";
}

Status Refused(std::string message) {
  return Status(StatusCode::kInvalidArgument, std::move(message));
}

}  // namespace

std::string TypeName(std::uint8_t type) {
  if (type >= MDbFieldText && type <= MDbFieldTime) return kTypeNames[type - 1];
  return "type " + std::to_string(type);
}

std::optional<std::uint8_t> TypeFromName(const std::string& name) {
  for (std::uint8_t t = MDbFieldText; t <= MDbFieldTime; ++t) {
    if (EqualsIgnoreCase(Utf8ToUtf16(name), Utf8ToUtf16(kTypeNames[t - 1]))) return t;
  }
  return std::nullopt;
}

std::u16string StoredText(std::u16string_view text) {
  std::u16string stored;
  stored.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\r' || text[i] == u'\n') {
      stored += u"\r\n";
      if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
    } else {
      stored += text[i];
    }
  }
  return stored;
}

std::string ShownText(std::u16string_view stored) {
  std::u16string text;
  text.reserve(stored.size());
  for (std::size_t i = 0; i < stored.size(); ++i) {
    if (stored[i] == u'\r' && i + 1 < stored.size() && stored[i + 1] == u'\n') continue;
    text += stored[i] == u'\r' ? u'\n' : stored[i];
  }
  return Utf16ToUtf8(text);
}

Status CheckFieldValue(MDbEnv* env, std::uint8_t type, std::uint32_t maxChars,
                       const std::u16string& value, const std::string& fieldText) {
  if (maxChars > 0 && value.size() > maxChars) {
    return Refused(fieldText + ": " + TooLongInWords(value, maxChars));
  }
  if (value.empty()) return {};
  if (type == MDbFieldDate) {
    MDbDateRec date{};
    MDbRecsetDateStrToDateRec(env, value.c_str(), &date, 0, nullptr);
    if (date.status != MDbDateValid && date.status != MDbDateValidThisYear &&
        date.status != MDbDateBlank) {
      if (HasNumberPastLastYear(value)) {
        return Refused(fieldText + ": '" + ShownText(value) +
                       "' is not a date the database can hold: years go from 1 to " +
                       std::to_string(kLastDateYear));
      }
      return Refused(fieldText + ": '" + ShownText(value) +
                     "' is not a date in the database's format (" + DescribeDateFormat(env) + ")");
    }
  } else if (type == MDbFieldTime) {
    MDbTimeRec time{};
    MDbRecsetTimeStrToTRec(env, value.c_str(), &time, 1, nullptr, nullptr);
    if (time.kind == MDbTimeInvalid) {
      return Refused(fieldText + ": '" + ShownText(value) +
                     "' is not a time in the database's format (" + DescribeTimeFormat(env) + ")");
    }
  }
  return {};
}

std::string DescribeDateFormat(MDbEnv* env) {
  static constexpr const char* kOrders[] = {"month/day/year", "day/month/year", "year/month/day",
                                            "month/year/day", "day/year/month", "year/day/month"};
  std::uint8_t format[MDbDateFormatBytes] = {};
  MDbDateRec sample{};
  MDbRecsetDateStrToDateRec(env, u"", &sample, 0, format);
  sample = MDbDateRec{3, 4, 2002, MDbDateValid, 1, 0};
  char16_t text[MDbDateTimeTextChars + 1] = {};
  MDbRecsetDRecToDateStr(env, &sample, text);
  const std::uint8_t order = format[2] <= 5 ? format[2] : 0;
  return std::string(kOrders[order]) + ", as " + Utf16ToUtf8(text) + " for 4 March 2002";
}

std::string DescribeTimeFormat(MDbEnv* env) {
  std::uint8_t format[MDbTimeFormatBytes] = {};
  MDbTimeRec sample{};
  MDbRecsetTimeStrToTRec(env, u"", &sample, 1, format, nullptr);
  char16_t morning[MDbDateTimeTextChars + 1] = {};
  char16_t afternoon[MDbDateTimeTextChars + 1] = {};
  sample = MDbTimeRec{9, 5, 0, MDbTimeTwelve, 1};
  MDbRecsetTRecToTimeStr(env, &sample, morning);
  sample = MDbTimeRec{14, 30, 0, MDbTimeTwelve, 1};
  MDbRecsetTRecToTimeStr(env, &sample, afternoon);
  const bool twelveHour = format[47] != 0;
  return std::string(twelveHour ? "12-hour clock" : "24-hour clock") + ", as " +
         Utf16ToUtf8(morning) + " and " + Utf16ToUtf8(afternoon);
}

}  // namespace tbm::engine
