#include "DataFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

namespace tbm::wordbreak {

namespace {

constexpr char kOverrideVariable[] = "TBM_WBR_DATA_DIR";
constexpr char kFolderBesideProgram[] = "tbmres/";

std::mutex folderLock;
std::string rememberedFolder;  // guarded by folderLock

// The running program's file. readlink does not say whether it cut the
// path, so the buffer grows until the path fits with room to spare.
std::optional<std::string> ProgramPath() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(n));
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool IsRegularFile(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

}  // namespace

std::optional<std::string> LocateDataFolder() {
  const char* named = std::getenv(kOverrideVariable);
  if (named != nullptr && named[0] != 0) {
    std::unique_ptr<char, void (*)(void*)> absolute(::realpath(named, nullptr), std::free);
    if (!absolute) return std::nullopt;
    std::string folder(absolute.get());
    if (folder.back() != '/') folder += '/';
    return folder;
  }
  const std::optional<std::string> program = ProgramPath();
  if (!program) return std::nullopt;
  const std::size_t slash = program->rfind('/');
  if (slash == std::string::npos) return std::nullopt;
  return program->substr(0, slash + 1) + kFolderBesideProgram;
}

bool HoldsDataFiles(const std::string& folder) {
  return IsRegularFile(folder + kRulesFileName) && IsRegularFile(folder + kPropertiesFileName);
}

void RememberDataFolder(std::string folder) {
  const std::lock_guard<std::mutex> hold(folderLock);
  rememberedFolder = std::move(folder);
}

std::string RememberedDataFolder() {
  const std::lock_guard<std::mutex> hold(folderLock);
  return rememberedFolder;
}

}  // namespace tbm::wordbreak
