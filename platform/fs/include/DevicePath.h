// Where the handheld's file system lives on the host, and how its paths
// become host paths.
//
// The handheld is a folder on the host, its device root. Handheld programs
// name files the handheld's way: backslashes, rooted at the device root,
// case-blind ("\My Documents\Tabulon\Sales.tbm"). Everything that turns such
// a name into a host path goes through this header, so there is one place
// that decides case, refuses escapes from the root and knows the root.
//
// A path that contains '/' is a host path already and is used as it is; this
// is how command lines, tests and the desktop side hand the system files that
// live outside the handheld.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "FileTypes.h"
#include "WinTypes.h"

namespace tbm {

// The answer of a mapping: a host path, or the platform error number that
// says why there is none.
struct MappedPath {
  std::string hostPath;         // UTF-8; empty when error is set
  DWORD error = ERROR_SUCCESS;  // ERROR_SUCCESS when hostPath is usable

  explicit operator bool() const { return error == ERROR_SUCCESS; }
};

// The device root as an absolute host path without a trailing '/'.
// It is $TBM_DEVICE_ROOT when that is set and not empty; otherwise
// $XDG_DATA_HOME/tabulon/device, where XDG_DATA_HOME defaults to
// $HOME/.local/share (a relative XDG_DATA_HOME is ignored, as the XDG rules
// ask). A relative TBM_DEVICE_ROOT is taken from the current folder.
// The environment is read on every call, so a process (or a test) changes its
// handheld by changing TBM_DEVICE_ROOT; nothing is cached.
// Does not create the folder.
std::string DeviceRoot();

// Creates the device root if it is missing, with the folders every handheld
// has: "\My Documents" and "\Temp". Returns ERROR_SUCCESS or the error that
// stopped it. HostPathFromDevicePath calls this, so callers rarely need to.
DWORD PrepareDeviceRoot();

// Maps a handheld path to a host path.
//
// - A path containing '/' is a host path: returned unchanged (as UTF-8).
// - Otherwise it is a handheld path: components are separated by '\', a
//   leading '\' is optional (the handheld has no current folder), empty and
//   "." components are skipped. "\" alone is the device root.
// - Each component that exists under another case only is mapped to the
//   existing entry; when several spellings exist and none is exact, the one
//   that sorts first byte-wise wins. Components that do not exist keep the
//   case they were given, and so do all after them.
// - Refused (hostPath empty):
//     ERROR_PATH_NOT_FOUND        the path is empty;
//     ERROR_INVALID_NAME          a ".." component, a NUL, a control character
//                                 or one of  : * ? " < > |  in a component;
//     ERROR_FILENAME_EXCED_RANGE  MAX_PATH characters or more;
//     ERROR_ACCESS_DENIED         the path leads outside the device root
//                                 through a symbolic link.
// Creates the device root (PrepareDeviceRoot) when it maps a handheld path.
MappedPath HostPathFromDevicePath(std::u16string_view devicePath);

// The reverse: the handheld path ("\My Documents\Sales.tbm", "\" for the
// root itself) of a host path inside the device root, or nullopt when the
// host path lies outside it or names an entry the handheld cannot spell (a
// name with '\' in it). Relative host paths are taken from the current
// folder; symbolic links in either path are resolved before comparing.
std::optional<std::u16string> DevicePathFromHostPath(std::string_view hostPath);

// The handheld's temporary folder, "\Temp" inside the device root, as a host
// path without a trailing '/'. Creates it (and the root) when missing.
// Fails with the error that stopped the creation, or ERROR_DIRECTORY when a
// file stands where the folder should be.
MappedPath DeviceTempFolder();

}  // namespace tbm
