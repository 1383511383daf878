// The device's scanner interface library, ScnAPI32.so, loaded from the
// folder this library was loaded from, with the operations the scanner
// library uses looked up by ordinal.
#pragma once

#include "ScnApi.h"
#include "Status.h"

namespace tbm::scan {

struct ScannerCalls {
  ScnOpenProc open = nullptr;
  ScnCloseProc close = nullptr;
  ScnEnableProc enable = nullptr;
  ScnDisableProc disable = nullptr;
  ScnGetScanParametersProc getParameters = nullptr;
  ScnSetScanParametersProc setParameters = nullptr;
  ScnAllocateBufferProc allocateBuffer = nullptr;
  ScnFreeBufferProc freeBuffer = nullptr;
  ScnReadLabelMessageProc readLabelMessage = nullptr;
  ScnCancelReadProc cancelRead = nullptr;
  ScnNoteReaderProc noteReader = nullptr;
};

class ScannerInterface {
 public:
  // Unloading is explicit (Unload): a process that ends with the
  // interface loaded leaves it to the loader, which finishes the libraries
  // in its own order.
  ScannerInterface() = default;
  ScannerInterface(const ScannerInterface&) = delete;
  ScannerInterface& operator=(const ScannerInterface&) = delete;

  // Loads the library and looks up every operation; kNotFound when the
  // library is missing, kDamaged when it lacks an operation. Loading a
  // loaded interface does nothing.
  Status Load();
  // Unloads it. REQUIRES: no scanner of it is open.
  void Unload();

  bool loaded() const { return module_ != nullptr; }
  const ScannerCalls& calls() const { return calls_; }

 private:
  void* module_ = nullptr;
  ScannerCalls calls_;
};

}  // namespace tbm::scan
