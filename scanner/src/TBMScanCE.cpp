// TBMScanCE.so: the seven exports of the scanner library (TBMScan.h), each
// a guarded call into the library's one ScanClient.
#include "CallGuard.h"
#include "ScanClient.h"
#include "TBMScan.h"

#define TBM_EXPORT __attribute__((visibility("default")))

using tbm::Guarded;
using tbm::scan::ScanClient;

extern "C" {

TBM_EXPORT void TBMGetDllVersion(std::uint16_t* major, std::uint16_t* minor, std::uint16_t* build,
                                 std::uint16_t* revision, std::uint32_t* flags) {
  if (major != nullptr) *major = 2;
  if (minor != nullptr) *minor = 1;
  if (build != nullptr) *build = 1;
  if (revision != nullptr) *revision = 17;
  if (flags != nullptr) *flags = 0;
}

TBM_EXPORT DWORD TBMScanInit() {
  return Guarded<DWORD>(0, [] { return ScanClient::Get().Init(); });
}

TBM_EXPORT DWORD TBMScanExit() {
  return Guarded<DWORD>(0, [] { return ScanClient::Get().Exit(); });
}

TBM_EXPORT DWORD TBMScanRequestRead(HWND window, UINT message, DWORD timeout) {
  return Guarded<DWORD>(0, [&] { return ScanClient::Get().RequestRead(window, message, timeout); });
}

TBM_EXPORT DWORD TBMScanStopRead() {
  return Guarded<DWORD>(0, [] { return ScanClient::Get().StopRead(); });
}

TBM_EXPORT const WCHAR* TBMScanReadLabel(WPARAM, LPARAM lParam) {
  return Guarded<const WCHAR*>(nullptr, [&] { return ScanClient::Get().ReadLabel(lParam); });
}

TBM_EXPORT DWORD TBMScanOnActivate(HWND window, DWORD state, UINT message, DWORD timeout) {
  return Guarded<DWORD>(
      0, [&] { return ScanClient::Get().OnActivate(window, state, message, timeout); });
}

}  // extern "C"
