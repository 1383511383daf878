// The port a scanner reads label lines from: a serial device (a barcode
// reader in serial mode, set to raw 8N1 at its speed) or a FIFO. The port
// may be missing, or go away and come back; it is looked for again at most
// once a second, and every change is logged once.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "UniqueFd.h"

namespace tbm::scan {

class LabelPort {
 public:
  using Clock = std::chrono::steady_clock;

  LabelPort(std::string path, std::uint32_t baudRate);

  // Opens the port when it is closed and a second has passed since the last
  // try; closes it when its path names another file now, or none (a FIFO
  // removed or replaced), so the next call opens the new one.
  void Maintain(Clock::time_point now);

  // The open descriptor to wait on (non-blocking), -1 while closed.
  int descriptor() const { return fd_.get(); }

  // Reads what is waiting into bytes. Returns false when the port went away
  // (a hang-up or an error): it is closed then, to be looked for again.
  bool Read(std::string& bytes);

  // Closes the port after a hang-up that poll reported.
  void Lost(const char* why);

  // How many times the port was opened: a reader of lines forgets a line
  // begun when this changes, as the new port's bytes do not continue it.
  std::uint64_t openings() const { return openings_; }

 private:
  bool Open();
  void Close();

  std::string path_;
  std::uint32_t baudRate_;
  UniqueFd fd_;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  Clock::time_point lastTry_{};
  bool tried_ = false;
  std::uint64_t openings_ = 0;
  std::string lastProblem_;  // logged once until it changes
};

}  // namespace tbm::scan
