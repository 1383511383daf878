// The scanner interface's log, <device root>/log/ScnAPI32.log: what it
// dropped, and sources that came and went.
#pragma once

#include <string_view>

#include "ProgramLog.h"

namespace tbm::scan {

inline void ScannerLog(LogLevel level, std::string_view text) { WriteLog("ScnAPI32", level, text); }

}  // namespace tbm::scan
