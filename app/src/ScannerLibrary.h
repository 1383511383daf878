// The barcode scanner library, loaded at start-up only on a device that
// has the scanner maker's interface library, and stopped at shut-down. A
// device without either simply has no scanner support; nothing is shown,
// and every call below does nothing.
//
// The entry table holds the library's seven exports, looked up by name; a
// missing export leaves its call out.
#pragma once

#include <cstdint>
#include <string>

#include "WinUser.h"

namespace tbm::app {

// The message the scanner library reports a read label with (WM_APP + 1).
constexpr UINT kScannedLabelMessage = 0x8001;

class ScannerLibrary {
 public:
  ScannerLibrary() = default;
  ~ScannerLibrary();
  ScannerLibrary(const ScannerLibrary&) = delete;
  ScannerLibrary& operator=(const ScannerLibrary&) = delete;

  // Loads and starts the scanner library when the device's scanner
  // interface library can be loaded. Returns whether it loaded.
  bool Load();
  // Stops and unloads it; nothing when not loaded.
  void Unload();
  bool loaded() const { return module_ != nullptr; }

  // Asks for the next label to be reported to window.
  void RequestRead(HWND window);
  void StopRead();
  // The label a scanned-label message carries; empty when there is none.
  std::u16string ReadLabel(WPARAM wParam, LPARAM lParam);
  // The program's window became active (or inactive).
  void OnActivate(HWND window, bool active);

 private:
  void* module_ = nullptr;
  DWORD (*init_)() = nullptr;
  DWORD (*exit_)() = nullptr;
  DWORD (*requestRead_)(HWND, UINT, DWORD) = nullptr;
  DWORD (*stopRead_)() = nullptr;
  const WCHAR* (*readLabel_)(WPARAM, LPARAM) = nullptr;
  DWORD (*onActivate_)(HWND, DWORD, UINT, DWORD) = nullptr;
};

// The running program's scanner library, or null (no application).
ScannerLibrary* ProgramScanner();

// One of the program's windows (the frame, or one of its dialogs, which
// take their labels through the frame's window) was activated or
// deactivated: the scanner library reports labels only while the program
// is in front.
void ScannerFollowsActivation(bool active);

}  // namespace tbm::app
