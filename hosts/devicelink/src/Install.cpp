// Putting the handheld's synchronisation pieces in place: the device sync
// provider, the sync agent and the engine they load go into "\Windows" of
// the device root, and the handheld's registry names the provider and the
// handheld program, as an installation leaves them.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "DevicePath.h"
#include "DeviceService.h"
#include "Registry.h"
#include "Utf16.h"

namespace tbm::devicelink {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPieces[] = {"TBDevSync.so", "TBMSYNBKCE.so", "libTBMWBRKCE.so",
                                   "libTBMDBCEPPC.so"};
constexpr char16_t kProviderKey[] =
    u"Windows CE Services\\synchronization\\objects\\Tabulon Mobile";
constexpr char16_t kOpenCommandKey[] = u"tbmfile\\shell\\open\\command";

fs::path ProgramFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path() : self.parent_path();
}

// Copies from to the folder `to` under a temporary name and renames it into
// place, so a handheld service that loads the file meanwhile never sees half
// of it.
Status CopyPiece(const fs::path& from, const fs::path& to) {
  const fs::path target = to / from.filename();
  const fs::path temporary =
      to / ("." + from.filename().string() + ".installing-" + std::to_string(getpid()));
  std::error_code error;
  fs::copy_file(from, temporary, fs::copy_options::overwrite_existing, error);
  if (!error) fs::rename(temporary, target, error);
  if (error) {
    fs::remove(temporary);
    const std::string why = error == std::errc::no_space_on_device  ? "the disk is full"
                            : error == std::errc::permission_denied ? "permission denied"
                                                                    : error.message();
    return Status(
        error == std::errc::permission_denied ? StatusCode::kNoPermission : StatusCode::kFailed,
        "cannot copy " + from.string() + " to " + target.string() + ": " + why);
  }
  return Status();
}

}  // namespace

Status InstallHandheldPieces(const std::string& programPath) {
  const fs::path folder = ProgramFolder();
  for (const char* piece : kPieces) {
    if (!fs::exists(folder / piece)) {
      return Status(StatusCode::kNotFound, std::string(piece) + " is not beside " + kProgram +
                                               " in " + folder.string() +
                                               "; build it first (cmake --build build)");
    }
  }
  const MappedPath windows = HostPathFromDevicePath(u"\\Windows");
  if (!windows) return Status::Error("the device root has no place for \\Windows");
  std::error_code error;
  fs::create_directories(windows.hostPath, error);
  if (error) {
    return Status(
        error == std::errc::permission_denied ? StatusCode::kNoPermission : StatusCode::kFailed,
        "cannot make " + windows.hostPath + ": " + error.message());
  }
  for (const char* piece : kPieces) {
    if (Status status = CopyPiece(folder / piece, windows.hostPath); !status.ok()) return status;
  }
  if (RegSetString(HKEY_LOCAL_MACHINE, kProviderKey, u"Store", u"\\Windows\\TBDevSync.dll") !=
      ERROR_SUCCESS) {
    return Status::Error(
        "cannot register the Tabulon Mobile provider in the handheld's registry "
        "(" +
        RegistryFilePath(Machine::Handheld) + ")");
  }
  const std::string program =
      programPath.empty() ? (folder / "Tabulon Mobile").string() : programPath;
  const std::u16string command = u"\"" + Utf8ToUtf16(program) + u"\" \"%1\"";
  if (RegSetString(HKEY_CLASSES_ROOT, kOpenCommandKey, nullptr, command) != ERROR_SUCCESS) {
    return Status::Error("cannot register the handheld program in the handheld's registry (" +
                         RegistryFilePath(Machine::Handheld) + ")");
  }
  std::printf(
      "Installed the synchronisation pieces in %s and registered the provider "
      "\\Windows\\TBDevSync.dll and the handheld program %s.\n",
      windows.hostPath.c_str(), program.c_str());
  return Status();
}

}  // namespace tbm::devicelink
