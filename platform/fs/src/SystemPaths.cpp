// The temporary folder and the paths of loaded modules.

#include "SystemPaths.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DevicePath.h"
#include "FileTypes.h"
#include "HostErrors.h"
#include "Utf16.h"

namespace tbm::fs {

namespace {

// The running program's file, from /proc/self/exe.
std::optional<std::string> ProgramPath() {
  std::vector<char> buffer(256);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::nullopt;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      return std::string(buffer.data(), static_cast<std::size_t>(n));
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string Absolute(const char* path) {
  std::unique_ptr<char, void (*)(void*)> resolved(::realpath(path, nullptr), std::free);
  return resolved ? std::string(resolved.get()) : std::string(path);
}

// The file of a loaded object known by its link map entry. The program
// itself has an empty name there.
std::string ObjectPath(const link_map* object) {
  if (object->l_name == nullptr || object->l_name[0] == 0) return ProgramPath().value_or("");
  return Absolute(object->l_name);
}

// An address inside each loaded object, gathered under the loader's lock.
int CollectAddress(dl_phdr_info* info, std::size_t, void* data) {
  auto* addresses = static_cast<std::vector<const void*>*>(data);
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    if (info->dlpi_phdr[i].p_type == PT_LOAD) {
      addresses->push_back(
          reinterpret_cast<const void*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr));
      break;
    }
  }
  return 0;
}

// The link map entry of the object whose dlopen handle is module, or null.
// A dlopen handle is the object's link map entry; the handle is only ever
// compared with the entries of objects that are loaded, never read, so a
// made-up value is harmless.
link_map* ObjectOfHandle(const void* module) {
  std::vector<const void*> addresses;
  ::dl_iterate_phdr(CollectAddress, &addresses);
  for (const void* address : addresses) {
    Dl_info info{};
    link_map* object = nullptr;
    if (::dladdr1(address, &info, reinterpret_cast<void**>(&object), RTLD_DL_LINKMAP) != 0 &&
        object == module) {
      return object;
    }
  }
  return nullptr;
}

// The file module came from, or nullopt when it is no loaded module.
std::optional<std::string> ModulePath(HMODULE module) {
  if (module == nullptr) return ProgramPath();
  if (const link_map* object = ObjectOfHandle(module)) return ObjectPath(object);
  Dl_info info{};
  link_map* object = nullptr;
  if (::dladdr1(module, &info, reinterpret_cast<void**>(&object), RTLD_DL_LINKMAP) != 0 &&
      object != nullptr) {
    return ObjectPath(object);
  }
  return std::nullopt;
}

DWORD TempPath(DWORD bufferLength, WCHAR* buffer) {
  if (buffer == nullptr && bufferLength != 0) return Fail(ERROR_INVALID_PARAMETER, DWORD{0});
  const MappedPath folder = DeviceTempFolder();
  if (!folder) return Fail(folder.error, DWORD{0});
  const std::u16string text = Utf8ToUtf16(folder.hostPath + "/");
  const auto needed = static_cast<DWORD>(text.size() + 1);
  if (bufferLength < needed) {
    CopyUtf16Cut(buffer, bufferLength * 2, text);
    return Fail(ERROR_INSUFFICIENT_BUFFER, needed);
  }
  CopyUtf16Cut(buffer, needed * 2, text);
  return static_cast<DWORD>(text.size());
}

DWORD ModuleFileName(HMODULE module, WCHAR* fileName, DWORD size) {
  if (fileName == nullptr || size == 0) return Fail(ERROR_INVALID_PARAMETER, DWORD{0});
  const std::optional<std::string> path = ModulePath(module);
  if (!path || path->empty()) return Fail(ERROR_MOD_NOT_FOUND, DWORD{0});
  const std::u16string text = Utf8ToUtf16(*path);
  if (text.size() >= size) {
    CopyUtf16Cut(fileName, size * 2, text);
    return Fail(ERROR_INSUFFICIENT_BUFFER, size);
  }
  CopyUtf16Cut(fileName, static_cast<DWORD>(text.size() + 1) * 2, text);
  return static_cast<DWORD>(text.size());
}

}  // namespace

}  // namespace tbm::fs

extern "C" DWORD GetTempPathW(DWORD bufferLength, WCHAR* buffer) {
  return tbm::Guarded(DWORD{0}, [&] { return tbm::fs::TempPath(bufferLength, buffer); });
}

extern "C" DWORD GetModuleFileNameW(HMODULE module, WCHAR* fileName, DWORD size) {
  return tbm::Guarded(DWORD{0}, [&] { return tbm::fs::ModuleFileName(module, fileName, size); });
}
