// TBDeskSync.so, the desktop's sync provider for the object type "Tabulon
// Mobile": an in-process server of one class, the store of DesktopStore.h,
// which the desktop connection service loads through its registration.
// Its four exports are the only names the module shows.
#include <filesystem>
#include <memory>

#include "CallGuard.h"
#include "Com.h"
#include "DesktopStore.h"
#include "ModuleObjects.h"
#include "ProgramLog.h"
#include "Registration.h"

namespace tbm::desksync {

using com::ComPtr;
namespace {

std::atomic<long> liveObjects{0};
std::atomic<long> locks{0};

class ClassFactory final
    : public com::SingleInterfaceObject<IClassFactory, IID_IClassFactory, ObjectCount> {
 public:
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      ComPtr<IReplStore> store = ComPtr<IReplStore>::Adopt(MakeDesktopStore());
      return store->QueryInterface(iid, object);
    } catch (...) {
      WriteLog("TBDeskSync", LogLevel::kError, "a store could not be made: " + CaughtException());
      return E_OUTOFMEMORY;
    }
  }

  HRESULT LockServer(BOOL lock) override {
    LockModule(lock != FALSE);
    return S_OK;
  }
};

// An address inside this module, to find its file by.
void Anchor() {}

}  // namespace

void ObjectMade() { ++liveObjects; }
void ObjectGone() { --liveObjects; }
void LockModule(bool lock) {
  if (lock) {
    ++locks;
  } else if (locks.load() > 0) {
    --locks;
  }
}
bool ModuleIsIdle() { return liveObjects.load() == 0 && locks.load() == 0; }

std::string ModulePath() { return com::ModulePathOf(reinterpret_cast<const void*>(&Anchor)); }

std::string ModuleFolder() {
  const std::string path = ModulePath();
  return path.empty() ? std::string(".") : std::filesystem::path(path).parent_path().string();
}

}  // namespace tbm::desksync

using namespace tbm::desksync;

extern "C" {

__attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID iid,
                                                                 void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != kProviderClass) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    tbm::com::ComPtr<IClassFactory> factory =
        tbm::com::ComPtr<IClassFactory>::Adopt(std::make_unique<ClassFactory>().release());
    return factory->QueryInterface(iid, object);
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

__attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return ModuleIsIdle() ? S_OK : S_FALSE;
}

__attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  try {
    const std::string path = ModulePath();
    if (path.empty()) return SELFREG_E_CLASS;
    return RegisterProvider(path);
  } catch (...) {
    tbm::WriteLog("TBDeskSync", tbm::LogLevel::kError,
                  "registering the provider failed: " + tbm::CaughtException());
    return E_UNEXPECTED;
  }
}

__attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  try {
    return UnregisterProvider();
  } catch (...) {
    tbm::WriteLog("TBDeskSync", tbm::LogLevel::kError,
                  "unregistering the provider failed: " + tbm::CaughtException());
    return E_UNEXPECTED;
  }
}

}  // extern "C"
