// The handheld's default language, and the suffixes by which language
// libraries and help pages are found for it.
//
// A language is a 16-bit language identifier as the handheld numbers them:
// the low 10 bits the primary language (0x09 English, 0x07 German, 0x0C
// French, 0x10 Italian, 0x0A Spanish, 0x11 Japanese), the high 6 bits the
// sub-language (1 the default one, 0x409 US English, 0xC0C French of
// Canada).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using LANGID = std::uint16_t;

extern "C" {

// The device's default language: the value "DefaultLCID" (REG_DWORD) of
// HKEY_LOCAL_MACHINE\nls in the device's registry when it is there and
// names a language (its low 16 bits not 0); otherwise the language of the
// environment's locale (LC_ALL, LC_MESSAGES, LANG, the first one set and
// not empty; LanguageFromLocaleName). Never fails: 0x409 when nothing says
// otherwise. Reads the registry and the environment at every call.
LANGID GetUserDefaultLangID();

}  // extern "C"

namespace tbm::res {

inline constexpr LANGID kUsEnglish = 0x409;

// The language of a POSIX locale name such as "de_DE.UTF-8" or "fr_CA":
// German 0x407, French 0x40C (French of Canada 0xC0C), Italian 0x410,
// Spanish 0xC0A (modern sort), Japanese 0x411; anything else, "C" and
// "POSIX" included, 0x409.
LANGID LanguageFromLocaleName(std::string_view locale);

// The suffix of a language's library and help folder: the identifier in
// lower-case hexadecimal without leading zeros ("409", "c0a").
std::string LanguageSuffix(LANGID language);

// The languages to try for language, best first: language itself; its
// primary language with the default sub-language, unless language already
// has it; US English, unless one of those is it.
std::vector<LANGID> LanguageFallbacks(LANGID language);

}  // namespace tbm::res
