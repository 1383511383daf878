#include "DeviceProviders.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include "DeviceService.h"
#include "HandheldLibrary.h"
#include "ProgramLog.h"
#include "Registry.h"
#include "Utf16.h"

namespace tbm::devicelink {
namespace {

constexpr char16_t kObjectsKey[] = u"Windows CE Services\\synchronization\\objects";
// "Store" is read as the providers read it: a handheld path of up to
// MAX_PATH - 1 characters.
constexpr DWORD kStoreBytes = 520;

void Log(LogLevel level, const std::string& text) { WriteLog(kProgram, level, text); }

// The registered object types' names.
std::vector<std::u16string> ObjectTypes(HKEY objects) {
  std::vector<std::u16string> types;
  for (DWORD index = 0;; ++index) {
    WCHAR name[kObjectTypeNameUnits] = {};
    DWORD chars = kObjectTypeNameUnits;
    const LONG rc = RegEnumKeyExW(objects, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_MORE_DATA) {
      Log(LogLevel::kWarning, "an object type's name under HKEY_LOCAL_MACHINE\\" +
                                  Utf16ToUtf8(kObjectsKey) + " is longer than " +
                                  std::to_string(kObjectTypeNameUnits - 1) +
                                  " characters; it is skipped");
      continue;
    }
    if (rc != ERROR_SUCCESS) break;
    types.emplace_back(name, chars);
  }
  return types;
}

// The "Store" of the type's key, or why there is none.
bool ReadStore(HKEY objects, const std::u16string& type, std::u16string* store, std::string* why) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(objects, type.c_str(), 0, KEY_READ, &key);
  WCHAR buffer[kStoreBytes / sizeof(WCHAR)] = {};
  DWORD bytes = kStoreBytes - sizeof(WCHAR);
  DWORD kind = REG_NONE;
  if (rc == ERROR_SUCCESS) {
    rc = RegQueryValueExW(key, u"Store", nullptr, &kind, reinterpret_cast<BYTE*>(buffer), &bytes);
    RegCloseKey(key);
  }
  if (rc == ERROR_FILE_NOT_FOUND) {
    *why = "its key has no \"Store\" value naming the provider's library";
  } else if (rc == ERROR_MORE_DATA) {
    *why = "its \"Store\" value is longer than a handheld path may be";
  } else if (rc != ERROR_SUCCESS) {
    *why =
        std::string("its \"Store\" value cannot be read: ") + DescribeError(static_cast<DWORD>(rc));
  } else if (kind != REG_SZ || buffer[0] == u'\0') {
    *why = "its \"Store\" value is not a handheld path";
  } else {
    *store = buffer;
    return true;
  }
  return false;
}

}  // namespace

DeviceProviders::~DeviceProviders() { Unload(); }

DeviceProviders::Docking::~Docking() {
  for (IReplObjHandler* handler : handlers_) handler->Release();
}

int DeviceProviders::Load() {
  HKEY objects = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kObjectsKey, 0, KEY_READ, &objects) != ERROR_SUCCESS) {
    Log(LogLevel::kInfo,
        "no synchronisation object types are registered on this handheld; no provider is loaded");
    return 0;
  }
  for (const std::u16string& type : ObjectTypes(objects)) {
    const std::string named = "the provider of the object type '" + Utf16ToUtf8(type) + "'";
    std::u16string store;
    std::string why;
    if (!ReadStore(objects, type, &store, &why)) {
      Log(LogLevel::kError,
          named + " is not loaded: " + why + "; install the program that registered it again");
      continue;
    }
    const std::string library = Utf16ToUtf8(store);
    const MappedPath path = HostPathOfHandheldLibrary(store);
    struct stat info {};
    if (!path || ::stat(path.hostPath.c_str(), &info) != 0) {
      Log(LogLevel::kError, named + " is not loaded: its library " + library +
                                " is not on the handheld" +
                                (path ? " (no file " + path.hostPath + ")"
                                      : " (" + std::string(DescribeError(path.error)) + ")") +
                                "; install the program that registered it again");
      continue;
    }
    Provider provider{type, library, ::dlopen(path.hostPath.c_str(), RTLD_NOW | RTLD_LOCAL),
                      nullptr};
    if (provider.handle == nullptr) {
      const char* error = ::dlerror();
      Log(LogLevel::kError,
          named + " is not loaded: its library " + library + " (" + path.hostPath +
              ") cannot be loaded: " + (error != nullptr ? error : "no reason given"));
      continue;
    }
    provider.initObjType =
        reinterpret_cast<InitObjTypeFunction>(::dlsym(provider.handle, "InitObjType"));
    IReplObjHandler* handler = nullptr;
    if (provider.initObjType == nullptr ||
        provider.initObjType(type.c_str(), &handler, 0) != TRUE) {
      Log(LogLevel::kError,
          named + " is not loaded: its library " + library +
              (provider.initObjType == nullptr ? " has no InitObjType, so it is not a provider"
                                               : " does not serve that object type"));
      ::dlclose(provider.handle);
      continue;
    }
    if (handler != nullptr) handler->Release();
    Log(LogLevel::kInfo, "loaded " + named + " from " + library + " (" + path.hostPath + ")");
    providers_.push_back(std::move(provider));
  }
  RegCloseKey(objects);
  return static_cast<int>(providers_.size());
}

DeviceProviders::Docking DeviceProviders::Dock(DWORD partnerBit) const {
  Docking docking;
  for (const Provider& provider : providers_) {
    IReplObjHandler* handler = nullptr;
    if (provider.initObjType(provider.type.c_str(), &handler, partnerBit) == TRUE &&
        handler != nullptr) {
      docking.handlers_.push_back(handler);
    } else {
      Log(LogLevel::kWarning, "the provider of the object type '" + Utf16ToUtf8(provider.type) +
                                  "' gave no handler for partner " + std::to_string(partnerBit));
    }
  }
  return docking;
}

void DeviceProviders::Unload() {
  for (Provider& provider : providers_) {
    provider.initObjType(nullptr, nullptr, 0);
    ::dlclose(provider.handle);
    Log(LogLevel::kInfo,
        "unloaded the provider of the object type '" + Utf16ToUtf8(provider.type) + "'");
  }
  providers_.clear();
}

}  // namespace tbm::devicelink
