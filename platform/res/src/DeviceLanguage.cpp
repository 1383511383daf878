#include "DeviceLanguage.h"

#include <cstdlib>
#include <cstring>

#include "Registry.h"

namespace tbm::res {
namespace {

// The device's own setting, or 0 when the registry has none that names a
// language.
LANGID RegistryLanguage() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"nls", 0, KEY_READ, &key) != ERROR_SUCCESS) return 0;
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD bytes = sizeof value;
  const LONG result = RegQueryValueExW(key, u"DefaultLCID", nullptr, &type,
                                       reinterpret_cast<BYTE*>(&value), &bytes);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_DWORD || bytes != sizeof value) return 0;
  return static_cast<LANGID>(value & 0xFFFF);
}

std::string_view EnvironmentLocale() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return {};
}

}  // namespace

LANGID LanguageFromLocaleName(std::string_view locale) {
  // "ll_CC.codeset@modifier": the language and the country.
  const std::string_view name = locale.substr(0, locale.find_first_of(".@"));
  const std::string_view language = name.substr(0, name.find('_'));
  const std::string_view country = name.find('_') == std::string_view::npos
                                       ? std::string_view()
                                       : name.substr(name.find('_') + 1);
  if (language == "de") return 0x407;
  if (language == "fr") return country == "CA" ? 0xC0C : 0x40C;
  if (language == "it") return 0x410;
  if (language == "es") return 0xC0A;
  if (language == "ja") return 0x411;
  return kUsEnglish;
}

std::string LanguageSuffix(LANGID language) {
  static const char kDigits[] = "0123456789abcdef";
  std::string suffix;
  unsigned value = language;
  do {
    suffix.insert(suffix.begin(), kDigits[value % 16]);
    value /= 16;
  } while (value != 0);
  return suffix;
}

std::vector<LANGID> LanguageFallbacks(LANGID language) {
  std::vector<LANGID> languages{language};
  const auto primaryDefault = static_cast<LANGID>((language & 0x3FF) | 0x400);
  if (primaryDefault != language) languages.push_back(primaryDefault);
  if (language != kUsEnglish && primaryDefault != kUsEnglish) languages.push_back(kUsEnglish);
  return languages;
}

}  // namespace tbm::res

extern "C" LANGID GetUserDefaultLangID() {
  const LANGID fromRegistry = tbm::res::RegistryLanguage();
  if (fromRegistry != 0) return fromRegistry;
  return tbm::res::LanguageFromLocaleName(tbm::res::EnvironmentLocale());
}
