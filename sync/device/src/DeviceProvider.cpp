// TBDevSync: the handheld's provider of the "Tabulon Mobile" object type.
// Its load-time work lives in ProviderResources, its handler in
// ObjectHandler; here are the object-type record, the library's load and
// unload, and the four exports.
#include "DeviceProvider.h"

#include <cstddef>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "CallGuard.h"
#include "ObjectHandler.h"
#include "ProgramLog.h"
#include "ProviderResources.h"
#include "Utf16.h"

namespace tbm::sync {
namespace {

// The object type the provider serves and the operations it answers.
struct ObjectType {
  std::u16string_view name;
};

// Made at load, let go at unload. Both are constant-initialised, so they
// are usable when the load function runs.
std::unique_ptr<ProviderResources> g_resources;
std::unique_ptr<ObjectType> g_objectType;

// The name in a fixed array of the service's, up to its terminator or the
// end of the array.
std::u16string_view NameIn(const WCHAR* units, std::size_t capacity) {
  std::size_t length = 0;
  while (length < capacity && units[length] != u'\0') ++length;
  return {units, length};
}

// The record of the object type called name, or null when the provider does
// not serve it. The service takes the name from the type's registry key,
// whose names are case-blind, so the comparison is too.
const ObjectType* FindObjectType(std::u16string_view name) {
  if (g_objectType == nullptr || !EqualsIgnoreCase(name, g_objectType->name)) return nullptr;
  return g_objectType.get();
}

__attribute__((constructor)) void LoadProvider() {
  try {
    g_resources = std::make_unique<ProviderResources>();
  } catch (...) {
    WriteLog(kProviderLogName, LogLevel::kError,
             "loading the engine failed: " + CaughtException() +
                 ". The provider stays loaded without the engine and without the "
                 "synchronisation-in-progress word.");
  }
  try {
    g_objectType = std::make_unique<ObjectType>(ObjectType{kTabulonObjectType});
  } catch (...) {
    WriteLog(kProviderLogName, LogLevel::kError,
             "the object type cannot be recorded (" + CaughtException() +
                 "); the provider hands out no handlers");
  }
}

__attribute__((destructor)) void UnloadProvider() {
  g_resources.reset();
  g_objectType.reset();
}

}  // namespace
}  // namespace tbm::sync

using tbm::Guarded;
using tbm::sync::FindObjectType;
using tbm::sync::NameIn;
using tbm::sync::ObjectHandler;

extern "C" {

__attribute__((visibility("default"))) BOOL InitObjType(const WCHAR* objectType,
                                                        IReplObjHandler** handler,
                                                        DWORD partnerBit) {
  if (objectType == nullptr) return TRUE;  // the service is shutting the provider down
  if (handler == nullptr) return FALSE;
  *handler = nullptr;
  return Guarded(FALSE, [&]() -> BOOL {
    if (FindObjectType(tbm::Utf16View(objectType)) == nullptr) return FALSE;
    // The handler deletes itself when its last reference goes.
    *handler = new (std::nothrow) ObjectHandler(partnerBit);
    return *handler != nullptr ? TRUE : FALSE;
  });
}

__attribute__((visibility("default"))) BOOL ObjectNotify(OBJNOTIFY* notify) {
  constexpr std::size_t kNameEnd = offsetof(OBJNOTIFY, szObjType) + sizeof notify->szObjType;
  if (notify == nullptr || notify->cbStruct < kNameEnd) return FALSE;
  return Guarded(FALSE, [&]() -> BOOL {
    if (FindObjectType(NameIn(notify->szObjType, kObjectTypeNameUnits)) == nullptr) return FALSE;
    // The object is of this type, but the agent, not the service, carries
    // the type's data: the provider claims nothing.
    return FALSE;
  });
}

__attribute__((visibility("default"))) BOOL GetObjTypeInfo(OBJTYPEINFO* info) {
  if (info == nullptr) return FALSE;
  return Guarded(FALSE, [&]() -> BOOL {
    if (FindObjectType(NameIn(info->szObjType, kObjectTypeNameUnits)) != nullptr) {
      info->cObjects = 0;
      info->cbAllObj = 0;
    }
    return TRUE;
  });
}

__attribute__((visibility("default"))) BOOL ReportStatus(const WCHAR*, DWORD, DWORD) {
  return TRUE;
}

}  // extern "C"
