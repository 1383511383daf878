#include "DatabaseNames.h"

#include <algorithm>

namespace tbm::sync {

std::optional<std::u16string> DatabasePathForName(std::u16string_view name) {
  const bool refused = std::any_of(name.begin(), name.end(), [](char16_t c) {
    return c < 0x20 || c == u'\\' || c == u'/' || c == u':' || c == u'*' || c == u'?' ||
           c == u'"' || c == u'<' || c == u'>' || c == u'|';
  });
  if (refused) return std::nullopt;
  const std::size_t dot = name.rfind(u'.');
  const std::u16string_view stem = dot == std::u16string_view::npos ? name : name.substr(0, dot);
  // A stem of dots alone would name the folder itself or its parent.
  if (stem.find_first_not_of(u'.') == std::u16string_view::npos) return std::nullopt;
  std::u16string path(kDatabaseFolder);
  path += u'\\';
  path += stem;
  path += u".tbm";
  return path;
}

}  // namespace tbm::sync
