// Upper-casing for case-blind comparison.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tbm::wordbreak {

// The full upper-case form of text under the ICU locale identifier locale.
// The result may be longer than text ("ß" becomes "SS", "ﬁ" becomes "FI");
// its length is asked of ICU first, so every text can be upper-cased.
// Unpaired surrogates are kept as they are. Returns nothing only when ICU
// fails or the text is too long for ICU's 32-bit lengths.
std::optional<std::u16string> UpperCase(std::u16string_view text, const char* locale);

}  // namespace tbm::wordbreak
