// The barcode scanner library, loaded at start-up only on a device that
// has the scanner maker's interface library, and stopped at shut-down. A
// device without either simply has no scanner support; nothing is shown.
#pragma once

#include <cstdint>

namespace tbm::app {

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

 private:
  using Call = std::int32_t (*)();
  void* module_ = nullptr;
  Call exit_ = nullptr;
};

}  // namespace tbm::app
