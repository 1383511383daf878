// The synchronisation log: a text file in the handheld's exchange folder,
// in the language of the provider's texts, to which each run appends its
// lines. A person reads it after a run that met problems; it is UTF-8 with
// CR LF line ends, and no line is longer than kMaxLogLineCharacters.
//
// A run opens it with a line of the date and time, writes a line per event,
// and closes it with the line that says how the run ended and the two
// counters: problems of the run as a whole (a connection that failed, a run
// that failed) and problems of single databases. Every line also goes to
// the provider's program log (TBDeskSync.log), so that a log that cannot be
// written loses nothing.
#pragma once

#include <cstddef>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>

#include "ProviderTexts.h"
#include "Status.h"
#include "UniqueFd.h"

namespace tbm::desksync {

inline constexpr std::size_t kMaxLogLineCharacters = 255;

// The date and time of now in the language's long date form and its time
// form, separated by ", ".
std::u16string LogDateLine(LANGID language);

// Creates the log file at path, empty, when it is not there. kNoPermission,
// kNoSpace, kNotFound (no folder) or kIoFailed otherwise, naming the path.
Status CreateLogFile(const std::string& path);

class SyncLog {
 public:
  // REQUIRES: texts outlives the log.
  explicit SyncLog(const ProviderTexts& texts) : texts_(texts) {}

  // Opens path for appending (creating it) and writes the date line. When
  // it fails, lines still go to the program log.
  Status Open(const std::string& path);
  const std::string& path() const { return path_; }
  // Hands every line written from now on (but the empty one that ends a
  // run) to echo as well, for the connection service's status display.
  void EchoTo(std::function<void(const std::string& line)> echo) { echo_ = std::move(echo); }

  // Writes a line, cut to kMaxLogLineCharacters characters.
  void Line(std::u16string_view text);
  // Writes text number with its arguments.
  void Text(std::uint32_t number, std::initializer_list<res::MessageArgument> arguments = {});
  // The same, counted as a problem of the run or of a database.
  void RunProblem(std::uint32_t number, std::initializer_list<res::MessageArgument> arguments = {});
  void DatabaseProblem(std::uint32_t number,
                       std::initializer_list<res::MessageArgument> arguments = {});
  // A line saying why the line before it happened, in the system's words.
  void Reason(const std::string& why);
  // Counts a problem of the run that the lines above already told of.
  void CountRunProblem() { ++runProblems_; }

  // Writes the closing line (finished or failed, with the counters; a failed
  // run counts as a problem of the run unless one was counted already) and
  // an empty line, and closes the file.
  void Close(bool failed);

  int runProblems() const { return runProblems_; }
  int databaseProblems() const { return databaseProblems_; }

 private:
  const ProviderTexts& texts_;
  std::string path_;
  UniqueFd file_;
  std::function<void(const std::string&)> echo_;
  int runProblems_ = 0;
  int databaseProblems_ = 0;
};

}  // namespace tbm::desksync
