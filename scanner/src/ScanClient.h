// The scanner library's state and the work behind its exports: one
// scanner, one label buffer, at most one read pending, the cancellations
// not yet followed by a new read request, and whether the program is
// inactive. Every method takes the lock, so the exports may be called from
// any thread, though the program calls them from its user-interface thread.
#pragma once

#include <cstddef>
#include <mutex>
#include <span>

#include "ScannerInterface.h"
#include "WinTypes.h"
#include "WinUser.h"

namespace tbm::scan {

class ScanClient {
 public:
  // A client left open when the process ends is left to the loader: the
  // scanner interface may already be gone by then, so nothing is called.
  ScanClient() = default;
  ScanClient(const ScanClient&) = delete;
  ScanClient& operator=(const ScanClient&) = delete;

  // The one instance of the process.
  static ScanClient& Get();

  DWORD Init();
  DWORD Exit();
  DWORD RequestRead(HWND window, UINT message, DWORD timeout);
  DWORD StopRead();
  const WCHAR* ReadLabel(LPARAM lParam);
  DWORD OnActivate(HWND window, DWORD state, UINT message, DWORD timeout);

 private:
  bool open() const { return handle_ != 0; }
  std::span<BYTE> buffer() const { return {buffer_, bufferBytes_}; }
  bool BufferPending() const;
  void NoteReader(UINT message, DWORD timeout);
  DWORD RequestReadLocked(HWND window, UINT message, DWORD timeout);
  DWORD StopReadLocked();
  DWORD ExitLocked();
  DWORD CloseLocked();
  DWORD SubmitRead(HWND window, UINT message, DWORD timeout);
  bool EnsureBuffer();

  std::mutex mutex_;
  ScannerInterface interface_;
  DWORD handle_ = 0;
  bool enabled_ = false;
  BYTE* buffer_ = nullptr;
  std::size_t bufferBytes_ = 0;  // as asked for, not as the buffer says
  DWORD bufferMode_ = 0;
  DWORD bufferSize_ = 0;
  int cancellations_ = 0;
  bool suspended_ = false;
  UINT lastMessage_ = 0;  // of the last read request, for the reader note of a stop
  DWORD lastTimeout_ = 0;
};

}  // namespace tbm::scan
