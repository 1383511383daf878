// The resource compiler's view of one language's source (res/lang/*.txt):
// reading it with its includes, checking it, comparing it with English, and
// writing the C++ source of the language library.
//
// Source format (UTF-8, one statement a line; a line whose first non-blank
// character is '#' is a comment):
//
//   VERSION 2.1.1.17                 the four numbers TBMGetDllVersion gives
//                                    (major, minor, build, revision)
//   INCLUDE "../pictures/common.txt" reads another source here (the path is
//                                    taken from the including file's folder)
//   STRING 5020 "%1d of %2d"         a string; lines that hold only a quoted
//       "more text"                  text continue the string above
//   MENU 128                         a menu in the form of ResourceText.h,
//     POPUP "&Record"                with command names of CommandIds.h in
//       ITEM ID_RECORD_NEW "&New"    place of numbers; ends with the END
//       SEPARATOR                    that closes no POPUP
//     END
//   END
//   TOOLBAR 128                      BUTTON <command name> <picture number>
//     BUTTON ID_VIEW_LIST 320        and SEPARATOR lines, up to END
//   END
//   PICTURE 300                      a picture in the form of
//     SIZE 15 15                     ResourceText.h, up to END
//     RECT 0 0 15 15 FILL #ffffff
//   END
//   DIALOG 2600                      a dialog layout in the form of
//     TITLE 2601 "Go To Record"      ResourceText.h, up to the END that
//     ROW                            closes no ROW
//       LABEL 2602 "Number:"
//       EDIT 2603 STRETCH
//     END
//   END
//
// Resource numbers are decimal or 0x-hexadecimal, 1 to 65535.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ResourceLibrary.h"

namespace tbm::res::compiler {

// Where something was written: file and line.
struct Location {
  std::string file;
  std::size_t line = 0;
};

// The faults found so far, each "file:line: sentence".
class Diagnostics {
 public:
  void Add(const Location& at, const std::string& what) {
    errors_.push_back(at.file + ":" + std::to_string(at.line) + ": " + what);
  }
  bool empty() const { return errors_.empty(); }
  const std::vector<std::string>& errors() const { return errors_; }

 private:
  std::vector<std::string> errors_;
};

// One resource as the library will hold it: its bytes (UTF-8 text of the
// runtime forms) and where its source began.
struct CompiledResource {
  std::string bytes;
  Location at;
};

struct LanguageSource {
  std::optional<std::array<std::uint16_t, 4>> version;
  Location versionAt;
  // By kind, then number.
  std::map<ResourceKind, std::map<std::uint32_t, CompiledResource>> resources;
  // The parsed forms, for the checks between resources and languages.
  std::map<std::uint32_t, Menu> menus;
  std::map<std::uint32_t, ToolBar> toolBars;
  std::map<std::uint32_t, DialogLayout> dialogs;
};

// The statement that makes a resource of kind ("STRING", "MENU", ...).
const char* KindWord(ResourceKind kind);

// Reads the source at path with everything it includes. Faults go to
// diagnostics; what could be read is returned all the same.
LanguageSource ReadLanguageSource(const std::filesystem::path& path, Diagnostics* diagnostics);

// Checks a translation against English: the same version, the same
// resources of every kind, each message using the same arguments with the
// same kinds, each menu and tool bar carrying the same commands in the same
// places, each dialog the same controls in the same rows.
void CompareWithReference(const LanguageSource& language, const LanguageSource& reference,
                          Diagnostics* diagnostics);

// The C++ source of the language library: its resources in one table and
// the exports TBMResFind and TBMGetDllVersion. Needs nothing but the C
// library.
std::string EmitLibrarySource(const LanguageSource& language, const std::string& sourceName);

}  // namespace tbm::res::compiler
