// Machine selection and machine roots.
#include "Machine.h"

#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace tbm {

namespace {

namespace stdfs = std::filesystem;

// -1 until a process selects a machine; the environment decides until then.
std::atomic<int> selected{-1};

// The user's home folder: $HOME, else the password database, else "/".
std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != 0) return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "/";
}

}  // namespace

Machine CurrentMachine() {
  const int chosen = selected.load();
  if (chosen >= 0) return static_cast<Machine>(chosen);
  const char* given = std::getenv("TBM_MACHINE");
  return given != nullptr && std::strcmp(given, "desktop") == 0 ? Machine::Desktop
                                                                : Machine::Handheld;
}

void SelectMachine(Machine machine) { selected.store(static_cast<int>(machine)); }

std::string MachineRoot(Machine machine) {
  const bool handheld = machine == Machine::Handheld;
  stdfs::path root;
  const char* given = std::getenv(handheld ? "TBM_DEVICE_ROOT" : "TBM_DESKTOP_ROOT");
  if (given != nullptr && given[0] != 0) {
    root = given;
  } else {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const stdfs::path data = (xdg != nullptr && xdg[0] == '/')
                                 ? stdfs::path(xdg)
                                 : stdfs::path(HomeFolder()) / ".local/share";
    root = data / "tabulon" / (handheld ? "device" : "desktop");
  }
  std::error_code ignored;
  const stdfs::path absolute = stdfs::absolute(root, ignored);
  std::string text = (absolute.empty() ? root : absolute).lexically_normal().string();
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return text;
}

std::string MachineRoot() { return MachineRoot(CurrentMachine()); }

std::string MachineTag(Machine machine) {
  // FNV-1a over the root path: short, stable across processes and runs.
  std::uint32_t hash = 2166136261u;
  for (const unsigned char c : MachineRoot(machine)) {
    hash ^= c;
    hash *= 16777619u;
  }
  char text[9];
  std::snprintf(text, sizeof text, "%08x", hash);
  return text;
}

std::string MachineTag() { return MachineTag(CurrentMachine()); }

}  // namespace tbm
