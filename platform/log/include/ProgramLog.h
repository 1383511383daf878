// Each program of the system keeps a log: lines with the time, the
// program's name and a level, appended to <machine root>/log/<program>.log
// of the machine the process stands on. A log file is capped at
// kLogFileBytes; the line that would pass the cap starts a new file, and
// the older ones are kept as <program>.1.log (the newest) to
// <program>.<kLogFilesKept>.log, the oldest going. Every line is on disk
// when WriteLog returns, so a process that dies leaves its last words.
//
// Logging never fails its caller: a log that cannot be opened or written
// (no folder, no permission, no space) is left out, since there is nowhere
// else to tell of it. Any thread may write.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tbm {

inline constexpr std::size_t kLogFileBytes = 1024 * 1024;
inline constexpr std::size_t kLogFilesKept = 3;

enum class LogLevel { kInfo, kWarning, kError };

// Appends one line to program's log. program is a file name without a
// folder ("TBMSYNBKCE").
void WriteLog(const std::string& program, LogLevel level, std::string_view text);

// The path of program's current log file.
std::string LogFilePath(const std::string& program);

// Closes every open log, so that the next line opens the file anew (after
// the machine root changed, or a test removed the folder).
void CloseLogs();

}  // namespace tbm
