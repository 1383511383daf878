// ScnAPI32.so: the device's scanner interface. This file keeps the table of
// open scanners and of label buffers, and answers the operations by
// ordinal; a scanner's reading lives in ScannerDevice.
#include "ScnApi.h"

#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <span>

#include "CallGuard.h"
#include "LabelBuffer.h"
#include "ScanParameters.h"
#include "ScannerDevice.h"
#include "ScannerLog.h"
#include "ScannerSettings.h"
#include "Utf16.h"

namespace tbm::scan {
namespace {

// The largest label buffer made: far more than any label needs.
constexpr std::size_t kMostBufferBytes = 1024 * 1024;

class ScannerService {
 public:
  static ScannerService& Get() {
    static ScannerService service;
    return service;
  }

  ~ScannerService() {
    // Scanners left open when the library goes: stop their reading threads
    // before their code goes with it.
    std::lock_guard lock(mutex_);
    handles_.clear();
  }

  BYTE* Allocate(DWORD mode, DWORD size) {
    const std::size_t bytes = LabelBufferBytes(mode, size);
    if (bytes == 0 || bytes > kMostBufferBytes) return nullptr;
    // Whole 32-bit words, so every member, the status above all, is aligned.
    auto storage =
        std::unique_ptr<std::uint32_t[]>(new (std::nothrow) std::uint32_t[(bytes + 3) / 4]);
    if (!storage) return nullptr;
    BYTE* buffer = reinterpret_cast<BYTE*>(storage.get());
    FormatLabelBuffer(std::span<BYTE>(buffer, bytes), mode, size);
    std::lock_guard lock(mutex_);
    buffers_.emplace(buffer, Buffer{std::move(storage), bytes});
    return buffer;
  }

  DWORD Free(BYTE* buffer) {
    std::lock_guard lock(mutex_);
    const auto found = buffers_.find(buffer);
    if (found == buffers_.end()) return kScnErrorBadParameter;
    for (const auto& [handle, device] : handles_) {
      if (device->Holds(buffer)) return kScnErrorBufferInUse;
    }
    buffers_.erase(found);
    return kScnSuccess;
  }

  DWORD Open(const WCHAR* deviceName, DWORD* handle) {
    if (deviceName == nullptr || handle == nullptr) return kScnErrorBadParameter;
    const std::u16string name(Utf16View(deviceName));
    ScannerSettings settings;
    std::string warnings;
    const Status read = ReadScannerSettings(name, &settings, &warnings);
    if (!warnings.empty()) ScannerLog(LogLevel::kWarning, warnings);
    if (!read.ok()) {
      ScannerLog(LogLevel::kWarning, read.message());
      return read.code() == StatusCode::kInvalidArgument ? kScnErrorBadParameter
                                                         : kScnErrorNoDevice;
    }
    std::lock_guard lock(mutex_);
    for (const auto& [open, device] : handles_) {
      if (EqualsIgnoreCase(device->name(), name)) return kScnErrorDeviceBusy;
    }
    const DWORD made = nextHandle_++;
    if (nextHandle_ == 0) nextHandle_ = 1;
    handles_.emplace(made, std::make_shared<ScannerDevice>(name, std::move(settings)));
    *handle = made;
    return kScnSuccess;
  }

  DWORD Close(DWORD handle) {
    std::shared_ptr<ScannerDevice> device;
    {
      std::lock_guard lock(mutex_);
      const auto found = handles_.find(handle);
      if (found == handles_.end()) return kScnErrorBadHandle;
      device = std::move(found->second);
      handles_.erase(found);
    }
    return device->Disable();
  }

  std::shared_ptr<ScannerDevice> Device(DWORD handle) {
    std::lock_guard lock(mutex_);
    const auto found = handles_.find(handle);
    return found == handles_.end() ? nullptr : found->second;
  }

  DWORD Submit(DWORD handle, BYTE* buffer, HWND window, UINT message, DWORD timeout,
               DWORD* requestId) {
    // Under the lock, so that the buffer cannot be freed between the look
    // and the read taking it.
    std::lock_guard lock(mutex_);
    const auto device = handles_.find(handle);
    if (device == handles_.end()) return kScnErrorBadHandle;
    const auto found = buffers_.find(buffer);
    if (found == buffers_.end() || window == nullptr) return kScnErrorBadParameter;
    for (const auto& [other, scanner] : handles_) {
      if (other != handle && scanner->Holds(buffer)) return kScnErrorBufferInUse;
    }
    return device->second->Submit(std::span<BYTE>(buffer, found->second.bytes), window, message,
                                  timeout, requestId);
  }

 private:
  struct Buffer {
    std::unique_ptr<std::uint32_t[]> storage;
    std::size_t bytes = 0;
  };

  std::mutex mutex_;
  std::map<DWORD, std::shared_ptr<ScannerDevice>> handles_;
  DWORD nextHandle_ = 1;
  std::map<const BYTE*, Buffer> buffers_;
};

BYTE* AllocateBuffer(DWORD mode, DWORD size) {
  return Guarded<BYTE*>(nullptr, [&] { return ScannerService::Get().Allocate(mode, size); });
}

DWORD FreeBuffer(BYTE* buffer) {
  return Guarded<DWORD>(kScnErrorNoMemory, [&] { return ScannerService::Get().Free(buffer); });
}

DWORD Open(const WCHAR* deviceName, DWORD* handle) {
  return Guarded<DWORD>(kScnErrorNoMemory,
                        [&] { return ScannerService::Get().Open(deviceName, handle); });
}

DWORD Close(DWORD handle) {
  return Guarded<DWORD>(kScnErrorNoMemory, [&] { return ScannerService::Get().Close(handle); });
}

DWORD Enable(DWORD handle) {
  return Guarded<DWORD>(kScnErrorNoMemory, [&] {
    const auto device = ScannerService::Get().Device(handle);
    return device ? device->Enable() : kScnErrorBadHandle;
  });
}

DWORD Disable(DWORD handle) {
  return Guarded<DWORD>(kScnErrorNoMemory, [&] {
    const auto device = ScannerService::Get().Device(handle);
    return device ? device->Disable() : kScnErrorBadHandle;
  });
}

DWORD ReadLabelMessage(DWORD handle, BYTE* buffer, HWND window, UINT message, DWORD timeout,
                       DWORD* requestId) {
  return Guarded<DWORD>(kScnErrorNoMemory, [&] {
    return ScannerService::Get().Submit(handle, buffer, window, message, timeout, requestId);
  });
}

DWORD CancelRead(DWORD handle) {
  return Guarded<DWORD>(kScnErrorNoMemory, [&] {
    const auto device = ScannerService::Get().Device(handle);
    return device ? device->Cancel() : kScnErrorBadHandle;
  });
}

DWORD GetScanParameters(DWORD handle, BYTE* record) {
  return Guarded<DWORD>(kScnErrorNoMemory, [&] {
    const auto device = ScannerService::Get().Device(handle);
    if (!device) return kScnErrorBadHandle;
    if (record == nullptr || ScanRecordAllocated(record) < kScanReservedOffset) {
      return kScnErrorBadParameter;
    }
    // Fill what the record has room for, and say so in its used size.
    StoreScanRecordMember(record, kScanReservedOffset, 0);
    StoreScanRecordMember(record, kScanTypeOffset, device->scanType());
    return kScnSuccess;
  });
}

DWORD SetScanParameters(DWORD handle, const BYTE* record) {
  return Guarded<DWORD>(kScnErrorNoMemory, [&] {
    const auto device = ScannerService::Get().Device(handle);
    if (!device) return kScnErrorBadHandle;
    if (record == nullptr || ScanRecordAllocated(record) < kScanReservedOffset ||
        ScanRecordUsed(record) > ScanRecordAllocated(record)) {
      return kScnErrorBadParameter;
    }
    if (const auto type = ScanRecordMember(record, kScanTypeOffset)) {
      if (*type > kScanTypeMonitor) return kScnErrorBadParameter;
      device->setScanType(*type);
    }
    return kScnSuccess;
  });
}

DWORD NoteReader(DWORD handle, const ScnReaderNote* note) {
  return Guarded<DWORD>(kScnErrorNoMemory, [&] {
    const auto device = ScannerService::Get().Device(handle);
    if (!device) return kScnErrorBadHandle;
    if (note == nullptr || note->reserved != 0 || note->active > 1) return kScnErrorBadParameter;
    device->Note(*note);
    return kScnSuccess;
  });
}

template <typename Proc>
ScnProc AsProc(Proc proc) {
  return reinterpret_cast<ScnProc>(proc);
}

}  // namespace
}  // namespace tbm::scan

extern "C" __attribute__((visibility("default"))) ScnProc ScnApiProcByOrdinal(DWORD ordinal) {
  using namespace tbm::scan;
  switch (ordinal) {
    case kScnOrdinalAllocateBuffer:
      return AsProc<ScnAllocateBufferProc>(AllocateBuffer);
    case kScnOrdinalFreeBuffer:
      return AsProc<ScnFreeBufferProc>(FreeBuffer);
    case kScnOrdinalOpen:
      return AsProc<ScnOpenProc>(Open);
    case kScnOrdinalClose:
      return AsProc<ScnCloseProc>(Close);
    case kScnOrdinalEnable:
      return AsProc<ScnEnableProc>(Enable);
    case kScnOrdinalDisable:
      return AsProc<ScnDisableProc>(Disable);
    case kScnOrdinalReadLabelMessage:
      return AsProc<ScnReadLabelMessageProc>(ReadLabelMessage);
    case kScnOrdinalCancelRead:
      return AsProc<ScnCancelReadProc>(CancelRead);
    case kScnOrdinalGetScanParameters:
      return AsProc<ScnGetScanParametersProc>(GetScanParameters);
    case kScnOrdinalSetScanParameters:
      return AsProc<ScnSetScanParametersProc>(SetScanParameters);
    case kScnOrdinalNoteReader:
      return AsProc<ScnNoteReaderProc>(NoteReader);
    default:
      return nullptr;
  }
}
