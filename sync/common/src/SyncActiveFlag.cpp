#include "SyncActiveFlag.h"

#include <cstring>

#include "SharedMemory.h"

namespace tbm::sync {

namespace {

// The section and mutex, open for one read or write of the word.
class FlagAccess {
 public:
  explicit FlagAccess(bool create) {
    section_ = create ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                           kSyncActiveSectionBytes, kSyncActiveSectionName)
                      : OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kSyncActiveSectionName);
    if (section_ == nullptr) return;
    mutex_ = CreateMutexW(nullptr, FALSE, kSyncActiveMutexName);
    if (mutex_ == nullptr) return;
    view_ = MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, kSyncActiveSectionBytes);
  }
  ~FlagAccess() {
    if (view_) UnmapViewOfFile(view_);
    if (mutex_) CloseSharedHandle(mutex_);
    if (section_) CloseSharedHandle(section_);
  }
  FlagAccess(const FlagAccess&) = delete;
  FlagAccess& operator=(const FlagAccess&) = delete;

  bool ok() const { return view_ != nullptr; }

  // Runs change on the word while holding the mutex. A holder that died
  // leaves the mutex abandoned; the word is whole either way (one aligned
  // store), so the wait counts as taken.
  template <typename Change>
  bool Locked(Change change) {
    const DWORD waited = WaitForSingleObject(mutex_, INFINITE);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
    change(static_cast<std::uint32_t*>(view_));
    ReleaseMutex(mutex_);
    return true;
  }

 private:
  HANDLE section_ = nullptr;
  HANDLE mutex_ = nullptr;
  void* view_ = nullptr;
};

}  // namespace

bool WriteSyncActive(bool active) {
  FlagAccess flag(true);
  return flag.ok() && flag.Locked([active](std::uint32_t* word) { *word = active ? 1 : 0; });
}

std::optional<bool> ReadSyncActive() {
  FlagAccess flag(false);
  if (!flag.ok()) return std::nullopt;
  bool active = false;
  if (!flag.Locked([&active](std::uint32_t* word) { active = *word != 0; })) return std::nullopt;
  return active;
}

SyncActiveHolder::SyncActiveHolder() {
  section_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                kSyncActiveSectionBytes, kSyncActiveSectionName);
}

SyncActiveHolder::~SyncActiveHolder() {
  if (section_) CloseSharedHandle(section_);
}

}  // namespace tbm::sync
