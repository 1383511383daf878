// Failures that need a closer look before they can be told in words: a
// handheld path that maps to no file, a value too long or a date out of
// range. Each answer names the real cause and the real limit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "WinTypes.h"

namespace tbm::tbmdb {

// The last year of a date the engine reads (dates run from year 1).
inline constexpr long kLastDateYear = 3000;

// Why a handheld path of `characters` characters has no host path, given
// the error of the mapping: the path's own fault, a device root that
// cannot be used (and why), or a symbolic link out of the device root.
std::string UnmappedInWords(DWORD error, std::size_t characters);

// Whether text holds a run of digits above kLastDateYear.
bool HasNumberPastLastYear(std::u16string_view text);

// Why value (stored text, line breaks as CR LF) does not fit a field that
// holds maxChars UTF-16 units, in characters as the user counts them.
std::string TooLongInWords(const std::u16string& value, std::uint32_t maxChars);

}  // namespace tbm::tbmdb
