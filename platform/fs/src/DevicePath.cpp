// The device root and the mapping between handheld and host paths.
//
// Case-blindness is resolved one component at a time against what is on
// disk, so the host file system (case-sensitive) keeps the case a file was
// created with, as the handheld does, while any spelling finds it again.

#include "DevicePath.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "FileTypes.h"
#include "HostErrors.h"
#include "Machine.h"
#include "Utf16.h"

namespace tbm {

namespace {

namespace stdfs = std::filesystem;

std::string JoinHost(const std::string& folder, std::string_view name) {
  std::string joined = folder;
  if (joined.empty() || joined.back() != '/') joined.push_back('/');
  joined.append(name);
  return joined;
}

bool IsInvalidNameCharacter(char16_t c) {
  return c < 0x20 || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' ||
         c == u'|';
}

// The entry of folder whose name equals name case-blind, or empty when there
// is none. Several spellings: the byte-wise smallest, so the answer does not
// depend on the order the host lists the folder in.
std::string FindEntryIgnoringCase(const std::string& folder, std::u16string_view name) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return {};
  std::string best;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view entryName = entry->d_name;
    if (entryName == "." || entryName == "..") continue;
    if (!EqualsIgnoreCase(Utf8ToUtf16(entryName), name)) continue;
    if (best.empty() || entryName < best) best = entryName;
  }
  return best;
}

// Creates folder/name unless an entry of that name exists in any case.
DWORD EnsureStandardFolder(const std::string& root, std::u16string_view name) {
  const std::string path = JoinHost(root, Utf16ToUtf8(name));
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0) return ERROR_SUCCESS;
  if (!FindEntryIgnoringCase(root, name).empty()) return ERROR_SUCCESS;
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    return ErrorFromErrno(errno, path);
  }
  return ERROR_SUCCESS;
}

// The host's own spelling of path with every symbolic link resolved, or
// empty when it cannot be resolved.
std::string RealPath(const std::string& path) {
  std::unique_ptr<char, void (*)(void*)> resolved(::realpath(path.c_str(), nullptr), std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

bool IsInsideFolder(const std::string& path, const std::string& folder) {
  if (path == folder) return true;
  if (folder == "/") return true;
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
         path[folder.size()] == '/';
}

// The components of path after those of folder, when path lies inside it.
std::optional<std::vector<stdfs::path>> ComponentsInside(const stdfs::path& path,
                                                         const stdfs::path& folder) {
  auto strip = [](const stdfs::path& p) {
    std::vector<stdfs::path> parts;
    for (const auto& part : p) {
      if (!part.empty()) parts.push_back(part);
    }
    return parts;
  };
  const auto pathParts = strip(path);
  const auto folderParts = strip(folder);
  if (pathParts.size() < folderParts.size()) return std::nullopt;
  if (!std::equal(folderParts.begin(), folderParts.end(), pathParts.begin())) return std::nullopt;
  return std::vector<stdfs::path>(pathParts.begin() + static_cast<long>(folderParts.size()),
                                  pathParts.end());
}

// Makes the root and its standard folders exist.
DWORD PrepareRootAt(const std::string& root) {
  std::error_code error;
  stdfs::create_directories(root, error);
  if (error) return ErrorFromErrno(error.value(), root);
  if (const DWORD made = EnsureStandardFolder(root, u"My Documents"); made != ERROR_SUCCESS) {
    return made;
  }
  return EnsureStandardFolder(root, u"Temp");
}

}  // namespace

std::string DeviceRoot() { return MachineRoot(Machine::Handheld); }

DWORD PrepareDeviceRoot() { return PrepareRootAt(DeviceRoot()); }

MappedPath HostPathFromDevicePath(std::u16string_view devicePath) {
  if (devicePath.empty()) return {{}, ERROR_PATH_NOT_FOUND};
  if (devicePath.find(u'\0') != std::u16string_view::npos) return {{}, ERROR_INVALID_NAME};
  if (devicePath.find(u'/') != std::u16string_view::npos) return {Utf16ToUtf8(devicePath)};
  if (devicePath.size() >= MAX_PATH) return {{}, ERROR_FILENAME_EXCED_RANGE};

  // Check every component before touching the disk, so a refused path has
  // no effect at all.
  std::vector<std::u16string_view> components;
  std::size_t start = 0;
  while (start <= devicePath.size()) {
    std::size_t end = devicePath.find(u'\\', start);
    if (end == std::u16string_view::npos) end = devicePath.size();
    const std::u16string_view component = devicePath.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == u".") continue;
    if (component == u"..") return {{}, ERROR_INVALID_NAME};
    if (std::any_of(component.begin(), component.end(), IsInvalidNameCharacter)) {
      return {{}, ERROR_INVALID_NAME};
    }
    components.push_back(component);
  }

  const std::string root = DeviceRoot();
  if (const DWORD prepared = PrepareRootAt(root); prepared != ERROR_SUCCESS) {
    return {{}, prepared};
  }
  std::string host = root;
  std::string deepestExisting = root;
  bool existing = true;
  for (const std::u16string_view component : components) {
    const std::string given = JoinHost(host, Utf16ToUtf8(component));
    if (existing) {
      struct stat info {};
      if (::lstat(given.c_str(), &info) == 0) {
        host = given;
        deepestExisting = host;
        continue;
      }
      if (errno == ENOENT) {
        const std::string other = FindEntryIgnoringCase(host, component);
        if (!other.empty()) {
          host = JoinHost(host, other);
          deepestExisting = host;
          continue;
        }
      }
      existing = false;
    }
    host = given;
  }

  // Only a symbolic link can lead outside now; the host's resolution of the
  // deepest entry that exists says where it really is.
  const std::string realRoot = RealPath(root);
  const std::string realEntry = RealPath(deepestExisting);
  if (realRoot.empty()) return {{}, ERROR_PATH_NOT_FOUND};
  if (!realEntry.empty() && !IsInsideFolder(realEntry, realRoot)) {
    return {{}, ERROR_ACCESS_DENIED};
  }
  return {host};
}

std::optional<std::u16string> DevicePathFromHostPath(std::string_view hostPath) {
  if (hostPath.empty()) return std::nullopt;
  std::error_code error;
  const stdfs::path host = stdfs::absolute(stdfs::path(hostPath), error).lexically_normal();
  if (error) return std::nullopt;
  const stdfs::path root(DeviceRoot());
  auto inside = ComponentsInside(host, root);
  if (!inside) {
    const stdfs::path realHost = stdfs::weakly_canonical(host, error);
    if (error) return std::nullopt;
    const stdfs::path realRoot = stdfs::weakly_canonical(root, error);
    if (error) return std::nullopt;
    inside = ComponentsInside(realHost, realRoot);
    if (!inside) return std::nullopt;
  }
  if (inside->empty()) return u"\\";
  std::u16string device;
  for (const stdfs::path& part : *inside) {
    const std::string name = part.string();
    if (name == "..") return std::nullopt;
    if (name.find('\\') != std::string::npos) return std::nullopt;
    device.push_back(u'\\');
    device += Utf8ToUtf16(name);
  }
  return device;
}

MappedPath DeviceTempFolder() {
  MappedPath temp = HostPathFromDevicePath(u"\\Temp");
  if (!temp) return temp;
  struct stat info {};
  if (::stat(temp.hostPath.c_str(), &info) != 0) {
    return {{}, ErrorFromErrno(errno, temp.hostPath)};
  }
  if (!S_ISDIR(info.st_mode)) return {{}, ERROR_DIRECTORY};
  return temp;
}

}  // namespace tbm
