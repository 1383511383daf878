// Which help page a topic names and where it is on this handheld.
//
// A topic is what the programs pass the help viewer: "file:tbmobile.htm"
// with an optional "#anchor" ("file:tbmobile.htm#find_rec"); the "file:"
// may be left out. The page is looked for in the handheld's folder
// "\Windows" first, then beside the viewer in help/<language>/, for the
// device's default language, its primary language and US English
// (DeviceLanguage.h).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tbm::peghelp {

struct Topic {
  std::string file;    // a plain file name: no folder, no "..", no control characters
  std::string anchor;  // empty for the top of the page
};

// Reads a topic; false with *why set when it is not one.
bool ParseTopic(const std::string& text, Topic* topic, std::string* why);

struct PageSearch {
  std::filesystem::path found;               // empty when no place has the page
  std::vector<std::filesystem::path> tried;  // every place looked at, in order
};

// Looks for file in the places above, programFolder being the viewer's own.
PageSearch FindHelpPage(const std::string& file, const std::filesystem::path& programFolder);

}  // namespace tbm::peghelp
