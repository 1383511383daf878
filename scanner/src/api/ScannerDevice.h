// One open scanner: its sources, the read pending in it and the labels
// waiting for a read. While enabled, a thread of its own reads the port
// and the image folder and finishes the pending read with the next label,
// posting the read's message to the read's window.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "LabelBuffer.h"
#include "ScannerSettings.h"
#include "ScnApi.h"
#include "UniqueFd.h"
#include "WinUser.h"

namespace tbm::scan {

class ImageFolder;
class LabelLines;
class LabelPort;

class ScannerDevice {
 public:
  ScannerDevice(std::u16string name, ScannerSettings settings);
  ~ScannerDevice();  // disables
  ScannerDevice(const ScannerDevice&) = delete;
  ScannerDevice& operator=(const ScannerDevice&) = delete;

  const std::u16string& name() const { return name_; }

  // Starts and stops reading the sources (ScnApi.h, ordinals 12 and 13).
  DWORD Enable();
  DWORD Disable();

  // A read into buffer, reported to window with message (ordinal 18).
  // REQUIRES: buffer was made by the interface and no other scanner's read
  // holds it.
  DWORD Submit(std::span<BYTE> buffer, HWND window, UINT message, DWORD timeout, DWORD* requestId);
  // Ends the pending read without a label (ordinal 22).
  DWORD Cancel();
  // True while the pending read uses buffer.
  bool Holds(const BYTE* buffer) const;

  std::uint32_t scanType() const;
  void setScanType(std::uint32_t type);
  void Note(const ScnReaderNote& note);

 private:
  using Clock = std::chrono::steady_clock;

  struct PendingRead {
    std::span<BYTE> buffer;
    HWND window = nullptr;
    UINT message = 0;
    DWORD id = 0;
    std::optional<Clock::time_point> deadline;
  };
  // A finished read's message, posted once the lock is let go.
  struct Report {
    HWND window = nullptr;
    UINT message = 0;
    DWORD status = 0;
    BYTE* buffer = nullptr;
  };

  void Run();
  void Wake();
  void TakeFromPort(LabelPort& port, LabelLines& lines, short events);
  void Queue(std::u16string label);
  void DeliverQueuedLabel();
  void DeliverImage(ImageFolder& images);
  void EndOverdueRead(Clock::time_point now);
  int PollMilliseconds(Clock::time_point now) const;
  // Finishes the pending read with text (or, when text is null, with
  // status). REQUIRES: mutex_ held and a read pending.
  Report Finish(const std::u16string* text, LabelSource source, LabelSymbology symbology,
                DWORD status);
  static bool Post(const Report& report);

  const std::u16string name_;
  const ScannerSettings settings_;

  std::mutex control_;  // serialises Enable and Disable
  std::atomic<bool> enabled_{false};
  std::atomic<bool> stopping_{false};
  std::thread worker_;
  UniqueFd wake_;

  mutable std::mutex mutex_;  // guards what follows
  std::optional<PendingRead> pending_;
  std::deque<std::u16string> queued_;
  DWORD nextRequest_ = 1;
  std::uint32_t scanType_ = 0;
  ScnReaderNote note_{};
};

}  // namespace tbm::scan
