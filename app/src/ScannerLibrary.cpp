#include "ScannerLibrary.h"

#include <dlfcn.h>

namespace tbm::app {

ScannerLibrary::~ScannerLibrary() { Unload(); }

bool ScannerLibrary::Load() {
  if (module_ != nullptr) return true;
  // The maker's interface library is only a test of presence.
  void* vendor = dlopen("ScnAPI32.so", RTLD_NOW | RTLD_LOCAL);
  if (vendor == nullptr) return false;
  dlclose(vendor);
  module_ = dlopen("TBMScanCE.so", RTLD_NOW | RTLD_LOCAL);
  if (module_ == nullptr) return false;
  auto init = reinterpret_cast<Call>(dlsym(module_, "TBMScanInit"));
  exit_ = reinterpret_cast<Call>(dlsym(module_, "TBMScanExit"));
  if (init != nullptr) init();
  return true;
}

void ScannerLibrary::Unload() {
  if (module_ == nullptr) return;
  if (exit_ != nullptr) exit_();
  dlclose(module_);
  module_ = nullptr;
  exit_ = nullptr;
}

}  // namespace tbm::app
