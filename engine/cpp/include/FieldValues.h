// A database's fields and their values as people type and read them: the
// types by name, line breaks as stored and as shown, the checks a new value
// passes before it is written, and the date and time formats in words.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "MDb.h"
#include "Status.h"

namespace tbm::engine {

struct FieldInfo {
  std::string name;  // UTF-8
  std::uint8_t type = 0;
  std::uint32_t maxChars = 0;  // the most characters a new value may have
};

// The type's name ("text", "number", "date", "time"), or "type N".
std::string TypeName(std::uint8_t type);
// The type a name stands for, case-blind; nullopt for an unknown name.
std::optional<std::uint8_t> TypeFromName(const std::string& name);

// Text crossing between a person (a command line, a CSV file, an editor)
// and a field: line breaks are stored as CR LF, as the handheld's editors
// write them, and handed out as LF.
std::u16string StoredText(std::u16string_view typed);
std::string ShownText(std::u16string_view stored);

// Checks value (stored text) against a field's type and size through an
// environment whose attribute table is open: at most maxChars characters
// (0: any), and for a date or time field empty or a date or time in the
// database's format. A failure is kInvalidArgument and says why in words
// after "fieldText: ", the limits counted as a person counts characters.
Status CheckFieldValue(MDbEnv* env, std::uint8_t type, std::uint32_t maxChars,
                       const std::u16string& value, const std::string& fieldText);

// The date and time formats of an environment whose attribute table is
// open, in words with an example ("month/day/year, as 3/4/2002 for 4 March
// 2002"; "12-hour clock, as 9:05 AM and 2:30 PM").
std::string DescribeDateFormat(MDbEnv* env);
std::string DescribeTimeFormat(MDbEnv* env);

}  // namespace tbm::engine
