// The plug-in's log, "TBBridge.log" in the desktop's log folder.
#pragma once

#include <string_view>

#include "ProgramLog.h"

namespace tbm::bridge {

inline void LogBridge(LogLevel level, std::string_view text) { WriteLog("TBBridge", level, text); }

}  // namespace tbm::bridge
