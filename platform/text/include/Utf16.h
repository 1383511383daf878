// UTF-16 text at the edges of the system. The handheld's strings are UTF-16
// code units (char16_t), zero-terminated, with buffer sizes in bytes; Linux
// speaks UTF-8. Every crossing between the two goes through these helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tbm {

// UTF-8 to UTF-16. Ill-formed input never fails: each bad sequence becomes
// U+FFFD, so a name read from the host file system always converts.
std::u16string Utf8ToUtf16(std::string_view utf8);

// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);

// Length in code units of a zero-terminated string; 0 for null.
std::size_t Utf16Length(const char16_t* text);

// A view of a zero-terminated string; empty for null.
std::u16string_view Utf16View(const char16_t* text);

// The buffer rule for every string the system hands back: copies at most
// (bytes / 2 - 1) code units of text into buffer and always terminates it;
// longer text is cut without an error. Does nothing when buffer is null or
// bytes is below 2. Returns the number of code units copied.
std::size_t CopyUtf16Cut(char16_t* buffer, std::uint32_t bytes, std::u16string_view text);

// Case-blind comparison of two UTF-16 strings by full Unicode case folding,
// as the handheld compares file and database names.
bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b);

// The case-blind order of the same folding: negative when a comes first,
// zero when the two are equal but for case, positive when b comes first.
int CompareIgnoreCase(std::u16string_view a, std::u16string_view b);

}  // namespace tbm
