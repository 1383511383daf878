// The handheld's name patterns and its case-blind name order.
#pragma once

#include <string>
#include <string_view>

namespace tbm::fs {

// name with its case folded the full Unicode way, the form names are
// compared and ordered in.
std::u16string FoldCase(std::u16string_view name);

// True when name matches pattern, case-blind: '*' matches any run of
// characters, '?' exactly one (a character, not a code unit), and a pattern
// ending in ".*" also matches the name without the dot and extension, so
// "*.*" matches every name and "Sales.*" matches "Sales".
bool MatchesPattern(std::u16string_view pattern, std::u16string_view name);

}  // namespace tbm::fs
