// Window directory entries as another process (or anyone able to write the
// folder) left them: parsing must refuse every damaged entry without
// reading past it, and an entry it accepts must be written back to text
// that parses to the same entry.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "WindowEntry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // exact bounds
  const auto entry = tbm::wnd::ParseWindowEntry(text);
  if (!entry) return 0;
  if (tbm::wnd::ParseWindowEntry(tbm::wnd::FormatWindowEntry(*entry)) != entry) std::abort();
  return 0;
}
