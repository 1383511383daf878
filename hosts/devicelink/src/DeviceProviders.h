// The device-side providers of the synchronisation object types registered
// in the handheld's registry, under
//   HKEY_LOCAL_MACHINE\Windows CE Services\synchronization\objects\<type>
// each naming its library's handheld path in "Store". The service loads
// them when it starts, tells them of each partner that docks, and shuts
// them down and unloads them when it stops (DeviceProvider.h says what the
// exports mean).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "DeviceProvider.h"

namespace tbm::devicelink {

class DeviceProviders {
 public:
  DeviceProviders() = default;
  // Unload().
  ~DeviceProviders();
  DeviceProviders(const DeviceProviders&) = delete;
  DeviceProviders& operator=(const DeviceProviders&) = delete;

  // Loads the library of each registered object type and asks it for a
  // handler of its type (released at once): the service has started. A
  // type whose "Store" is missing, whose library is missing or cannot be
  // loaded, lacks InitObjType or refuses its own type is logged in words and
  // skipped. Returns the number loaded.
  int Load();

  // The handlers of a partner that docked, one per provider, held until
  // the object goes (the partner undocked).
  class Docking {
   public:
    Docking() = default;
    ~Docking();
    Docking(Docking&&) = default;
    Docking& operator=(Docking&&) = delete;

   private:
    friend class DeviceProviders;
    std::vector<IReplObjHandler*> handlers_;
  };
  // Tells each provider that the partner partnerBit (1 or 2) docked.
  // Thread-safe between Load and Unload.
  Docking Dock(DWORD partnerBit) const;

  // InitObjType with no type to each provider (the service is stopping),
  // then unloads them all.
  void Unload();

 private:
  struct Provider {
    std::u16string type;
    std::string library;  // the handheld path, for the log
    void* handle = nullptr;
    InitObjTypeFunction initObjType = nullptr;
  };
  std::vector<Provider> providers_;
};

}  // namespace tbm::devicelink
