#include "ScanClient.h"

#include <chrono>
#include <string>
#include <thread>

#include "LabelBuffer.h"
#include "ProgramLog.h"
#include "ScanParameters.h"
#include "ScanRegistration.h"
#include "TBMScan.h"

namespace tbm::scan {
namespace {

constexpr char16_t kDeviceName[] = u"SCN1:";
// How often, and how long at most, a stop waits for the scanner to let go
// of the label buffer. The scanner interface lets go as it cancels; the
// limit keeps a scanner that never does from hanging the program.
constexpr auto kStopPollInterval = std::chrono::milliseconds(100);
constexpr int kMostStopPolls = 50;

void Log(LogLevel level, const std::string& text) { WriteLog("TBMScanCE", level, text); }

std::string Describe(DWORD result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08X", static_cast<unsigned>(result));
  return std::string(DescribeScanResult(result)) + " (" + code + ")";
}

}  // namespace

ScanClient& ScanClient::Get() {
  static ScanClient client;
  return client;
}

DWORD ScanClient::Init() {
  std::lock_guard lock(mutex_);
  if (!open()) {
    if (Status loaded = interface_.Load(); !loaded.ok()) {
      Log(LogLevel::kWarning, loaded.message() + "; the program works without a scanner");
      return 0;
    }
    DWORD handle = 0;
    const DWORD opened = interface_.calls().open(kDeviceName, &handle);
    if (opened != kScnSuccess || handle == 0) {
      Log(LogLevel::kWarning, "cannot open the scanner SCN1: " + Describe(opened) +
                                  "; the program works without a scanner");
      interface_.Unload();
      return 0;
    }
    handle_ = handle;
    if (const DWORD enabled = interface_.calls().enable(handle_); enabled != kScnSuccess) {
      Log(LogLevel::kError, "cannot enable the scanner: " + Describe(enabled));
      ExitLocked();
      return 0;
    }
    enabled_ = true;
  }
  // Foreground scanning: reads only while the program is active.
  ScanParameterRecord record;
  DWORD configured = interface_.calls().getParameters(handle_, record.data());
  if (configured == kScnSuccess) {
    record.SetMember(kScanTypeOffset, kScanTypeForeground);
    configured = interface_.calls().setParameters(handle_, record.data());
  }
  if (configured != kScnSuccess) {
    Log(LogLevel::kError, "cannot set the scanner to foreground scanning: " + Describe(configured) +
                              "; the scanner is closed");
    ExitLocked();
  }
  std::string skipped;
  if (Status registered = RegisterWithScannerSoftware(&skipped); !registered.ok()) {
    Log(LogLevel::kWarning, registered.message());
  } else if (!skipped.empty()) {
    Log(LogLevel::kInfo, "the program is not registered with the scanner software: " + skipped);
  }
  return configured == kScnSuccess ? 1 : 0;
}

DWORD ScanClient::Exit() {
  std::lock_guard lock(mutex_);
  return ExitLocked();
}

DWORD ScanClient::ExitLocked() {
  if (!open()) return 0;
  DWORD result = kScnSuccess;
  if (enabled_) {
    StopReadLocked();
    result = interface_.calls().disable(handle_);
    if (result != kScnSuccess)
      Log(LogLevel::kError, "cannot disable the scanner: " + Describe(result));
    enabled_ = false;
  }
  // A failed disable still closes everything: the handle and the buffer
  // would otherwise be lost for good.
  const DWORD closed = CloseLocked();
  return result != kScnSuccess ? result : closed;
}

DWORD ScanClient::CloseLocked() {
  if (buffer_ != nullptr) {
    const DWORD freed = interface_.calls().freeBuffer(buffer_);
    if (freed != kScnSuccess) {
      Log(LogLevel::kError, "cannot free the label buffer: " + Describe(freed));
    }
    buffer_ = nullptr;
    bufferBytes_ = 0;
  }
  const DWORD closed = interface_.calls().close(handle_);
  if (closed != kScnSuccess) Log(LogLevel::kError, "cannot close the scanner: " + Describe(closed));
  handle_ = 0;
  enabled_ = false;
  cancellations_ = 0;
  suspended_ = false;
  interface_.Unload();
  return closed;
}

bool ScanClient::BufferPending() const { return buffer_ != nullptr && LabelReadPending(buffer()); }

void ScanClient::NoteReader(UINT message, DWORD timeout) {
  const ScnReaderNote note{0, message, timeout, 1};
  interface_.calls().noteReader(handle_, &note);
}

DWORD ScanClient::RequestRead(HWND window, UINT message, DWORD timeout) {
  std::lock_guard lock(mutex_);
  return RequestReadLocked(window, message, timeout);
}

DWORD ScanClient::RequestReadLocked(HWND window, UINT message, DWORD timeout) {
  if (!open()) return 0;
  if (cancellations_ == 0) NoteReader(message, timeout);
  if (suspended_) return 0;
  if (cancellations_ > 0) --cancellations_;
  if (BufferPending()) return 0;
  lastMessage_ = message;
  lastTimeout_ = timeout;
  SubmitRead(window, message, timeout);
  return 1;
}

DWORD ScanClient::SubmitRead(HWND window, UINT message, DWORD timeout) {
  if (cancellations_ > 0) {
    Log(LogLevel::kWarning, "a read was refused: " + Describe(kTBMScanErrorCancelOutstanding));
    return kTBMScanErrorCancelOutstanding;
  }
  if (!EnsureBuffer()) {
    Log(LogLevel::kError, "a read was refused: " + Describe(kTBMScanErrorNoBuffer));
    return kTBMScanErrorNoBuffer;
  }
  const DWORD submitted =
      interface_.calls().readLabelMessage(handle_, buffer_, window, message, timeout, nullptr);
  if (submitted != kScnSuccess) {
    Log(LogLevel::kError, "cannot ask the scanner for a label: " + Describe(submitted) +
                              "; the scanner is closed until the program starts again");
    ExitLocked();
  }
  return submitted;
}

bool ScanClient::EnsureBuffer() {
  if (buffer_ != nullptr && bufferMode_ == kLabelModeText && bufferSize_ >= kTBMScanLabelUnits) {
    return true;
  }
  if (buffer_ != nullptr) {
    interface_.calls().freeBuffer(buffer_);
    buffer_ = nullptr;
    bufferBytes_ = 0;
  }
  buffer_ = interface_.calls().allocateBuffer(kLabelModeText, kTBMScanLabelUnits);
  if (buffer_ == nullptr) return false;
  bufferMode_ = kLabelModeText;
  bufferSize_ = kTBMScanLabelUnits;
  bufferBytes_ = LabelBufferBytes(kLabelModeText, kTBMScanLabelUnits);
  return true;
}

DWORD ScanClient::StopRead() {
  std::lock_guard lock(mutex_);
  return StopReadLocked();
}

DWORD ScanClient::StopReadLocked() {
  if (!open()) return 0;
  bool cancelled = false;
  if (cancellations_ == 0) {
    NoteReader(lastMessage_, lastTimeout_);
    // Nothing pending is no failure: the stop still counts.
    interface_.calls().cancelRead(handle_);
    ++cancellations_;
    cancelled = true;
  }
  int polls = 0;
  while (BufferPending() && polls < kMostStopPolls) {
    std::this_thread::sleep_for(kStopPollInterval);
    ++polls;
  }
  if (BufferPending()) {
    Log(LogLevel::kError, "the scanner still holds the label buffer after a stop");
  }
  return cancelled ? 1 : 0;
}

const WCHAR* ScanClient::ReadLabel(LPARAM lParam) {
  std::lock_guard lock(mutex_);
  if (!open() || buffer_ == nullptr || lParam == 0) return nullptr;
  if (reinterpret_cast<BYTE*>(lParam) != buffer_) {
    // A message from before the buffer was replaced or freed: what it points
    // at may be gone.
    Log(LogLevel::kWarning, "a label message that does not carry the scanner's buffer is ignored");
    return nullptr;
  }
  if (BufferPending()) return nullptr;
  return LabelText(buffer());
}

DWORD ScanClient::OnActivate(HWND window, DWORD state, UINT message, DWORD timeout) {
  std::lock_guard lock(mutex_);
  if (!open()) return 0;
  ScanParameterRecord record;
  const DWORD read = interface_.calls().getParameters(handle_, record.data());
  if (read != kScnSuccess) return read;
  if (record.Member(kScanTypeOffset).value_or(kScanTypeBackground) != kScanTypeForeground) {
    return 0;
  }
  const DWORD active = state < 0x10000 ? state : 0;
  if (active != 0) {
    suspended_ = false;
    RequestReadLocked(window, message, timeout);
  } else {
    // Inactive is suspended, whether this stop cancelled a read or an
    // earlier one had: no read may start while another program is in front.
    StopReadLocked();
    suspended_ = true;
  }
  return 0;
}

}  // namespace tbm::scan
