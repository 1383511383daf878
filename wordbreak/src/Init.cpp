// Start-up and shut-down of the library.

#include <unicode/putil.h>

#include <optional>
#include <string>

#include "DataFolder.h"
#include "TBMWbrk.h"

using tbm::wordbreak::HoldsDataFiles;
using tbm::wordbreak::kMaximumPathBytes;
using tbm::wordbreak::LocateDataFolder;
using tbm::wordbreak::RememberDataFolder;

extern "C" int TBMWbrInit(void) {
  try {
    // Forget the previous folder first, so a failure here leaves no session
    // loading rules from a folder that was not just checked.
    RememberDataFolder({});
    const std::optional<std::string> folder = LocateDataFolder();
    if (!folder || folder->size() + 1 > kMaximumPathBytes || !HoldsDataFiles(*folder)) {
      return TBMWBR_FAILURE;
    }
    // On this system the path's bytes are already the 8-bit form ICU takes.
    u_setDataDirectory(folder->c_str());
    RememberDataFolder(*folder);
    return TBMWBR_SUCCESS;
  } catch (...) {
    return TBMWBR_FAILURE;
  }
}

extern "C" int TBMWbrShutdown(void) { return TBMWBR_SUCCESS; }
