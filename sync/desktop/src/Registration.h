// How the desktop connection service finds the provider: the keys
// DllRegisterServer writes into the desktop registry and
// DllUnregisterServer removes.
//
//   HKEY_CLASSES_ROOT\CLSID\{79BF3B86-EA0D-4826-AF70-76FC63AC514E}
//     InprocServer32   default  the module's full path
//     ProgId           default  "Tabulon.WinCE.Mobile"
//   HKEY_CLASSES_ROOT\Tabulon.WinCE.Mobile
//                      default "TBDeskSync", "Display Name" "Tabulon Pro"
//     CLSID            default  "{79BF3B86-EA0D-4826-AF70-76FC63AC514E}"
//   HKEY_LOCAL_MACHINE\<object types>\Tabulon Mobile
//     default "Tabulon Mobile Object", "Display Name" and "Plural Name"
//     "Tabulon Mobile", "Store" "Tabulon.WinCE.Mobile", "DefaultIcon"
//     "<module path>, -101"
#pragma once

#include <string>

#include "Com.h"

namespace tbm::desksync {

// {79BF3B86-EA0D-4826-AF70-76FC63AC514E}
inline constexpr CLSID kProviderClass = {
    0x79BF3B86, 0xEA0D, 0x4826, {0xAF, 0x70, 0x76, 0xFC, 0x63, 0xAC, 0x51, 0x4E}};
inline constexpr char kProgramId[] = "Tabulon.WinCE.Mobile";
inline constexpr char kObjectType[] = "Tabulon Mobile";
inline constexpr char kStoreDescription[] = "Tabulon Pro";
// The icon's resource number, in "DefaultIcon" and the object type's data.
inline constexpr int kIconResource = 101;

// Writes the keys; a registry failure as HRESULT_FROM_WIN32 of its error,
// with what was written so far left in place.
HRESULT RegisterProvider(const std::string& modulePath);

// Removes the keys. A class that is not registered counts as removed.
HRESULT UnregisterProvider();

}  // namespace tbm::desksync
