// What the device sync provider keeps loaded and open while it is loaded
// itself: the word-break library and the engine from the folder its
// registration names, and the sync-active flag section with its mutex.
#pragma once

#include <string>
#include <string_view>

#include "Status.h"
#include "WinTypes.h"

namespace tbm::sync {

// The provider's log, <device root>/log/TBDevSync.log.
inline constexpr char kProviderLogName[] = "TBDevSync";

// The registry key of the provider's object type and the value that holds
// the handheld path of the provider's library.
inline constexpr char16_t kObjectTypeKey[] =
    u"Windows CE Services\\synchronization\\objects\\Tabulon Mobile";
inline constexpr char16_t kStoreValue[] = u"Store";

// One library loaded with dlopen, unloaded when the object goes.
class LoadedLibrary {
 public:
  LoadedLibrary() = default;
  ~LoadedLibrary() { Unload(); }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;

  // Loads the handheld library handheldName from the host folder; says why
  // when it cannot.
  Status Load(const std::string& folder, std::string_view handheldName);
  void Unload();

 private:
  void* handle_ = nullptr;
};

// The sync-active flag section, its mutex and a view of its word, held open.
class SyncActiveSection {
 public:
  SyncActiveSection() = default;
  ~SyncActiveSection() { Close(); }
  SyncActiveSection(const SyncActiveSection&) = delete;
  SyncActiveSection& operator=(const SyncActiveSection&) = delete;

  // Creates or opens the section and its mutex and sets the word to 0 under
  // the mutex. On failure nothing is held.
  Status OpenAndReset();
  void Close();

 private:
  HANDLE section_ = nullptr;
  HANDLE mutex_ = nullptr;
  void* view_ = nullptr;
};

// The provider's load-time work and its reverse.
class ProviderResources {
 public:
  // Reads "Store", loads the word-break library and then the engine from its
  // folder, and opens and resets the flag section. Any failure is logged and
  // leaves nothing loaded or open.
  ProviderResources();
  // Closes the section and unloads the engine and the word-break library.
  ~ProviderResources();
  ProviderResources(const ProviderResources&) = delete;
  ProviderResources& operator=(const ProviderResources&) = delete;

 private:
  Status Acquire();

  LoadedLibrary wordBreak_;
  LoadedLibrary engine_;
  SyncActiveSection flag_;
};

}  // namespace tbm::sync
