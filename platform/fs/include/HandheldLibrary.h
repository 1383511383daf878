// Where a handheld library named the handheld's way ("\Windows\TBDevSync.dll")
// lies on the host.
//
// Libraries keep their names with ".so" for ".dll" when something loads
// them by name (the sync agent, the providers: "TBDevSync.dll" is
// TBDevSync.so), and take the "lib" prefix when the system links them at
// build time ("TBMDBCEPPC.dll" is libTBMDBCEPPC.so).
#pragma once

#include <string>
#include <string_view>

#include "DevicePath.h"

namespace tbm {

// The host file name of a library loaded by name: "X.dll" (any case of
// ".dll") is "X.so"; a name without ".dll" gets ".so" appended.
std::string LoadedLibraryFile(std::u16string_view handheldName);

// The host file name of a library linked at build time: "X.dll" is
// "libX.so".
std::string LinkedLibraryFile(std::u16string_view handheldName);

// The host path of a library that something loads by name, from its
// handheld path. A bare name ("TBMSYNBKCE.dll") lies in "\Windows", as the
// handheld looks for it there. The folder must lie inside the device root
// (HostPathFromDevicePath's refusals hold, and a host path, one with '/',
// is refused with ERROR_ACCESS_DENIED: nobody names a library outside the
// handheld); the file itself may be a link to where an installation keeps
// it. Does not check that the file exists.
MappedPath HostPathOfHandheldLibrary(std::u16string_view devicePath);

}  // namespace tbm
