#include "ScannerLibrary.h"

#include <dlfcn.h>

#include <QApplication>
#include <string>

#include "MainFrame.h"
#include "ProgramRequests.h"
#include "StartUp.h"
#include "TBMApp.h"
#include "WinApp.h"

namespace tbm::app {

namespace {

template <typename Function>
void LookUp(void* module, const char* name, Function* function) {
  *function = reinterpret_cast<Function>(dlsym(module, name));
}

}  // namespace

ScannerLibrary::~ScannerLibrary() { Unload(); }

bool ScannerLibrary::Load() {
  if (module_ != nullptr) return true;
  // Both libraries lie beside the program. The maker's interface library
  // is only a test of presence.
  const std::string folder = ProgramFolder();
  void* vendor = dlopen((folder + "/ScnAPI32.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (vendor == nullptr) return false;
  dlclose(vendor);
  module_ = dlopen((folder + "/TBMScanCE.so").c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module_ == nullptr) return false;
  LookUp(module_, "TBMScanInit", &init_);
  LookUp(module_, "TBMScanExit", &exit_);
  LookUp(module_, "TBMScanRequestRead", &requestRead_);
  LookUp(module_, "TBMScanStopRead", &stopRead_);
  LookUp(module_, "TBMScanReadLabel", &readLabel_);
  LookUp(module_, "TBMScanOnActivate", &onActivate_);
  if (init_ != nullptr) init_();
  return true;
}

void ScannerLibrary::Unload() {
  if (module_ == nullptr) return;
  if (exit_ != nullptr) exit_();
  dlclose(module_);
  module_ = nullptr;
  init_ = nullptr;
  exit_ = nullptr;
  requestRead_ = nullptr;
  stopRead_ = nullptr;
  readLabel_ = nullptr;
  onActivate_ = nullptr;
}

void ScannerLibrary::RequestRead(HWND window) {
  if (requestRead_ != nullptr && window != nullptr) requestRead_(window, kScannedLabelMessage, 0);
}

void ScannerLibrary::StopRead() {
  if (stopRead_ != nullptr) stopRead_();
}

std::u16string ScannerLibrary::ReadLabel(WPARAM wParam, LPARAM lParam) {
  if (readLabel_ == nullptr) return std::u16string();
  const WCHAR* label = readLabel_(wParam, lParam);
  return label != nullptr ? std::u16string(label) : std::u16string();
}

void ScannerLibrary::OnActivate(HWND window, bool active) {
  if (onActivate_ != nullptr && window != nullptr)
    onActivate_(window, active ? 1 : 0, kScannedLabelMessage, 0);
}

ScannerLibrary* ProgramScanner() {
  auto* app = dynamic_cast<CTBMApp*>(ui::CWinApp::Get());
  return app != nullptr ? &app->scanner() : nullptr;
}

void ScannerFollowsActivation(bool active) {
  // The front moving between the program's own windows (a dialog opening
  // or closing) keeps the scanner reading, in whichever order the two
  // windows hear of it.
  if (!active && QApplication::activeWindow() != nullptr) return;
  ui::CWinApp* app = ui::CWinApp::Get();
  auto* frame = app != nullptr ? dynamic_cast<CMainFrame*>(app->mainWindow()) : nullptr;
  if (ScannerLibrary* scanner = ProgramScanner();
      scanner != nullptr && frame != nullptr && frame->requests() != nullptr)
    scanner->OnActivate(frame->requests()->window(), active);
}

}  // namespace tbm::app
