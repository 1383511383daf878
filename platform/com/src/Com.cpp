#include "Com.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "Registry.h"
#include "Utf16.h"

namespace tbm::com {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits of text from *at on.
bool ReadHex(std::string_view text, std::size_t* at, int digits, std::uint64_t* value) {
  if (*at + static_cast<std::size_t>(digits) > text.size()) return false;
  std::uint64_t v = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = HexDigit(text[(*at)++]);
    if (d < 0) return false;
    v = v * 16 + static_cast<std::uint64_t>(d);
  }
  *value = v;
  return true;
}

bool Expect(std::string_view text, std::size_t* at, char c) {
  if (*at >= text.size() || text[*at] != c) return false;
  ++*at;
  return true;
}

template <typename F>
F Export(void* module, const char* name) {
  return reinterpret_cast<F>(dlsym(module, name));
}

}  // namespace

std::string GuidToString(const GUID& guid) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", guid.Data1,
                guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3],
                guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return text;
}

std::optional<GUID> GuidFromString(std::string_view text) {
  GUID guid;
  std::size_t at = 0;
  std::uint64_t v = 0;
  if (!Expect(text, &at, '{') || !ReadHex(text, &at, 8, &v)) return std::nullopt;
  guid.Data1 = static_cast<std::uint32_t>(v);
  if (!Expect(text, &at, '-') || !ReadHex(text, &at, 4, &v)) return std::nullopt;
  guid.Data2 = static_cast<std::uint16_t>(v);
  if (!Expect(text, &at, '-') || !ReadHex(text, &at, 4, &v)) return std::nullopt;
  guid.Data3 = static_cast<std::uint16_t>(v);
  if (!Expect(text, &at, '-')) return std::nullopt;
  for (std::size_t i = 0; i < 8; ++i) {
    if (i == 2 && !Expect(text, &at, '-')) return std::nullopt;
    if (!ReadHex(text, &at, 2, &v)) return std::nullopt;
    guid.Data4[i] = static_cast<std::uint8_t>(v);
  }
  if (!Expect(text, &at, '}') || at != text.size()) return std::nullopt;
  return guid;
}

InprocServer::~InprocServer() {
  if (module_ != nullptr) dlclose(module_);
}

Status InprocServer::Load(const std::string& path, std::unique_ptr<InprocServer>* server) {
  server->reset();
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) {
    if (errno == EACCES) {
      return Status(StatusCode::kNoPermission,
                    "cannot read the module " + path + ": permission denied");
    }
    return Status(StatusCode::kNotFound, "there is no module " + path);
  }
  // A name without a folder would send dlopen searching the library path
  // for a file other than the one just looked at.
  const std::string openPath = path.find('/') == std::string::npos ? "./" + path : path;
  void* module = dlopen(openPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* why = dlerror();
    if (access(path.c_str(), R_OK) != 0) {
      return Status(StatusCode::kNoPermission,
                    "cannot read the module " + path + ": permission denied");
    }
    return Status(StatusCode::kDamaged, "the module " + path +
                                            " is not a library this program can load (" +
                                            (why != nullptr ? why : "unknown reason") + ")");
  }
  if (Export<DllGetClassObjectFunction>(module, "DllGetClassObject") == nullptr) {
    dlclose(module);
    return Status(StatusCode::kDamaged,
                  "the module " + path + " serves no classes (it lacks DllGetClassObject)");
  }
  std::unique_ptr<InprocServer> loaded(new InprocServer());
  loaded->path_ = path;
  loaded->module_ = module;
  *server = std::move(loaded);
  return Status();
}

Status InprocServer::LoadClass(const CLSID& clsid, std::unique_ptr<InprocServer>* server) {
  server->reset();
  const std::u16string key = u"CLSID\\" + Utf8ToUtf16(GuidToString(clsid)) + u"\\InprocServer32";
  const std::optional<std::u16string> path = RegGetString(HKEY_CLASSES_ROOT, key.c_str(), nullptr);
  if (!path || path->empty()) {
    return Status(StatusCode::kNotFound, "the class " + GuidToString(clsid) +
                                             " is not registered on this desktop (no "
                                             "HKEY_CLASSES_ROOT\\" +
                                             Utf16ToUtf8(key) + ")");
  }
  return Load(Utf16ToUtf8(*path), server);
}

HRESULT InprocServer::CreateInstance(const CLSID& clsid, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  const auto get = Export<DllGetClassObjectFunction>(module_, "DllGetClassObject");
  ComPtr<IClassFactory> factory;
  const HRESULT got = get(clsid, IID_IClassFactory, factory.ReceiveVoid());
  if (FAILED(got)) return got;
  if (!factory) return E_UNEXPECTED;
  return factory->CreateInstance(nullptr, iid, object);
}

HRESULT InprocServer::CanUnloadNow() {
  const auto can = Export<DllCanUnloadNowFunction>(module_, "DllCanUnloadNow");
  return can != nullptr ? can() : S_OK;
}

HRESULT InprocServer::RegisterServer() {
  const auto call = Export<DllRegisterServerFunction>(module_, "DllRegisterServer");
  return call != nullptr ? call() : E_NOTIMPL;
}

HRESULT InprocServer::UnregisterServer() {
  const auto call = Export<DllUnregisterServerFunction>(module_, "DllUnregisterServer");
  return call != nullptr ? call() : E_NOTIMPL;
}

Status ClassOfProgramId(const std::string& programId, CLSID* clsid) {
  const std::u16string key = Utf8ToUtf16(programId) + u"\\CLSID";
  const std::optional<std::u16string> text = RegGetString(HKEY_CLASSES_ROOT, key.c_str(), nullptr);
  if (!text) {
    return Status(StatusCode::kNotFound,
                  "no class is registered for \"" + programId + "\" on this desktop");
  }
  const std::optional<GUID> guid = GuidFromString(Utf16ToUtf8(*text));
  if (!guid) {
    return Status(StatusCode::kDamaged, "the class registered for \"" + programId +
                                            "\" is not a class identifier: " + Utf16ToUtf8(*text));
  }
  *clsid = *guid;
  return Status();
}

std::string ModulePathOf(const void* address) {
  Dl_info info{};
  if (dladdr(address, &info) == 0 || info.dli_fname == nullptr) return {};
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) == nullptr) return info.dli_fname;
  return resolved;
}

}  // namespace tbm::com
