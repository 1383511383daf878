// A machine's window directory: the folder where each live top-level window
// has one entry file ("<hwnd>.window", text as in WindowEntry.h).
//
// Writers replace an entry in one rename, so a reader sees an old entry or a
// new one, never a mix. Readers take only regular files of their own user,
// parse them with distrust, and keep an entry only while the process that
// wrote it is alive: the same process id with the same start time, so a
// process id handed out again does not bring a dead window back. Dead
// entries, and the temporary files of writers that died, are removed by
// whoever reads them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "WinTypes.h"
#include "WindowEntry.h"

namespace tbm::wnd {

// The start time of a running process, in clock ticks after boot, or nullopt
// when no process has that id.
std::optional<std::uint64_t> ProcessStartTime(std::uint32_t pid);

// TRUE when the process that wrote entry still runs.
bool WriterIsAlive(const WindowEntry& entry);

class WindowDirectory {
 public:
  // The window directory of the current machine: "<machine root>/.windows".
  static WindowDirectory OfCurrentMachine();

  explicit WindowDirectory(std::string path) : path_(std::move(path)) {}

  const std::string& path() const { return path_; }

  // Writes entry as the window's entry, creating the folder when missing.
  // Returns ERROR_SUCCESS or the platform error for what failed.
  DWORD Publish(const WindowEntry& entry) const;

  // Removes the window's entry, if there is one.
  void Withdraw(std::uint32_t hwnd) const;

  // The entry of a window whose writer is alive, or nullopt.
  std::optional<WindowEntry> ReadLive(std::uint32_t hwnd) const;

  // Every entry whose writer is alive, newest first. Removes what is dead.
  std::vector<WindowEntry> ListLive() const;

 private:
  std::string EntryPath(std::uint32_t hwnd) const;

  std::string path_;
};

}  // namespace tbm::wnd
