// Progress of long work (thousands of records) on the terminal: one line on
// standard error, rewritten in place a few times a second and cleared at
// the end. When standard error is not a terminal nothing is written, so
// scripts and pipes see only the results.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace tbm::tools {

class Progress {
 public:
  // label says what is being done ("Creating Sales.tbm").
  explicit Progress(std::string label);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // done items so far; share is the part of the whole that is done (0 to 1)
  // or negative when the whole is not known.
  void Update(std::uint64_t done, double share);
  // Clears the line.
  void Finish();

  // Whether progress is shown at all; TBM_PROGRESS=always shows it on any
  // output (for trying it in a pipe), =never hides it.
  bool shown() const { return shown_; }

 private:
  std::string label_;
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace tbm::tools
