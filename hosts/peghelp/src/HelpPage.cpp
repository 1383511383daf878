#include "HelpPage.h"

#include <system_error>

#include "DeviceLanguage.h"
#include "DevicePath.h"
#include "Utf16.h"

namespace tbm::peghelp {

bool ParseTopic(const std::string& text, Topic* topic, std::string* why) {
  std::string rest = text;
  if (rest.rfind("file:", 0) == 0) rest.erase(0, 5);
  const std::size_t hash = rest.find('#');
  Topic parsed;
  parsed.file = rest.substr(0, hash);
  if (hash != std::string::npos) parsed.anchor = rest.substr(hash + 1);
  if (parsed.file.empty()) {
    *why = "the topic \"" + text + "\" names no help file";
    return false;
  }
  if (parsed.file.size() > 255 || parsed.file == "." || parsed.file == ".." ||
      parsed.file.find_first_of("/\\") != std::string::npos) {
    *why = "the help file \"" + parsed.file + "\" must be a plain file name";
    return false;
  }
  for (const char c : parsed.file + parsed.anchor) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      *why = "the topic \"" + text + "\" holds a control character";
      return false;
    }
  }
  *topic = std::move(parsed);
  return true;
}

PageSearch FindHelpPage(const std::string& file, const std::filesystem::path& programFolder) {
  PageSearch search;
  std::error_code error;
  const MappedPath onHandheld = HostPathFromDevicePath(u"\\Windows\\" + Utf8ToUtf16(file));
  if (onHandheld) search.tried.emplace_back(onHandheld.hostPath);
  for (const LANGID language : res::LanguageFallbacks(GetUserDefaultLangID()))
    search.tried.push_back(programFolder / "help" / res::LanguageSuffix(language) / file);
  for (const auto& place : search.tried) {
    if (std::filesystem::is_regular_file(place, error)) {
      search.found = place;
      break;
    }
  }
  return search;
}

}  // namespace tbm::peghelp
