// The text of one window directory entry: what a window publishes about
// itself, written and read only here.
//
// An entry is a few lines of "key value", readable by a person:
//
//   tabulon-window 1
//   hwnd 5a3c01f2
//   pid 4121
//   started 8812734
//   thread 4121
//   style 10000000
//   exstyle 00000000
//   created 1717171717123456789
//   program /opt/tabulon/bin/Tabulon Mobile
//   class TBMMainFrame
//   title Tabulon Mobile
//
// Numbers are hexadecimal for the handle and styles, decimal otherwise.
// Texts are UTF-8 with '%', control characters and DEL written as %XX.
// The reader distrusts every byte: it takes only a complete, well-formed
// entry of this version, within the size limits below.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tbm::wnd {

// Limits that keep an entry small; CreateWindowExW refuses longer names.
// A UTF-16 code unit takes at most 3 bytes of UTF-8.
constexpr std::size_t kMaxClassNameUnits = 256;
constexpr std::size_t kMaxTitleUnits = 2048;
constexpr std::size_t kMaxClassNameBytes = 3 * kMaxClassNameUnits;
constexpr std::size_t kMaxTitleBytes = 3 * kMaxTitleUnits;
constexpr std::size_t kMaxProgramBytes = 4096;
// Escaping may triple a text: 3 * (768 + 6144 + 4096) plus the numbers stays
// below this.
constexpr std::size_t kMaxEntryBytes = 40 * 1024;

struct WindowEntry {
  std::uint32_t hwnd = 0;
  std::uint32_t pid = 0;
  std::uint64_t started = 0;  // the process's start time, in clock ticks after boot
  std::uint32_t thread = 0;
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  std::uint64_t created = 0;  // nanoseconds of the real-time clock; orders the windows
  std::string program;        // UTF-8 host path of the process's program file
  std::string className;      // UTF-8
  std::string title;          // UTF-8

  bool operator==(const WindowEntry&) const = default;
};

// The entry's text.
std::string FormatWindowEntry(const WindowEntry& entry);

// The entry in text, or nullopt when text is not one well-formed entry:
// wrong first line, a key missing or given twice, a number out of range or
// with stray characters, a bad escape, a handle of 0, a text longer than its
// limit, or more than kMaxEntryBytes. Unknown keys are skipped, so a later
// version may add lines.
std::optional<WindowEntry> ParseWindowEntry(std::string_view text);

}  // namespace tbm::wnd
