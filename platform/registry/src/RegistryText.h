// The registry file's text: one reader and one writer.
//
// The file reads like an exported registry, so a person can read, diff and
// edit it:
//
//   ; comment
//   [HKEY_CLASSES_ROOT\tbmfile\shell\open\command]
//   @="\"\\Program Files\\Tabulon\\Tabulon Mobile.exe\" \"%1\""
//   "Count"=dword:0000002a
//   "Block"=hex:01,02,ff
//   "Other"=hex(7):41,00,00,00
//
// A section line names a key by its hive and path; the lines after it are
// its values, `@` for the default value. Strings are UTF-8 between double
// quotes, with \\ \" \n \r \t and \uXXXX (one UTF-16 unit) as escapes; a
// string value that is not a clean text (an odd length, a NUL inside) is
// written as hex(1). dword: takes 1 to 8 hex digits; hex: and hex(N): take
// bytes as two hex digits separated by commas, and may go on over several
// lines that end in a backslash. Blank lines and lines starting with ';'
// or '#' are ignored, as is a first line of an exported registry
// ("REGEDIT4", "Windows Registry Editor Version 5.00"). A UTF-8 or UTF-16
// byte-order mark is understood.
//
// The reader trusts nothing in the file: a line it cannot read is listed as
// a problem, with its number, and skipped (for a section line, with the
// values under it), and everything else is kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "KeyTree.h"

namespace tbm::registry {

struct Problem {
  std::size_t line = 0;  // 1-based
  std::string message;   // what is wrong, as a sentence without the line number
};

// Files larger than this are not read at all (a single problem, line 1).
constexpr std::size_t kMaxRegistryFileBytes = 64u << 20;

// Reads a registry file's bytes. Never fails: what cannot be read is left
// out and reported in problems (which is cleared first).
Tree ParseRegistryText(std::string_view bytes, std::vector<Problem>& problems);

// Writes tree as registry file text, UTF-8 with LF line ends, beginning
// with the comment lines of heading (each line prefixed with "; ").
// Reading the result gives the same tree without problems.
std::string FormatRegistryText(const Tree& tree, std::string_view heading);

}  // namespace tbm::registry
