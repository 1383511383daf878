// The handheld's "synchronisation in progress" word: a shared section of
// one 32-bit word (1 while a synchronisation runs, 0 otherwise) guarded by
// a named mutex. The sync agent sets and clears it, the device sync
// provider keeps the section alive between the agent's calls, and the
// handheld program reads it before it lets the user change a database.
#pragma once

#include <optional>

#include "WinTypes.h"

namespace tbm::sync {

inline constexpr char16_t kSyncActiveSectionName[] = u"TBMSyncActive";
inline constexpr char16_t kSyncActiveMutexName[] = u"TBMSyncActiveMutex";
inline constexpr DWORD kSyncActiveSectionBytes = 4;

// Creates (or opens) the section and its mutex, writes the word under the
// mutex (waiting for it without limit) and closes both again. False when
// the section or the mutex cannot be made.
bool WriteSyncActive(bool active);

// Reads the word under the mutex from a section that exists already:
// nothing when no process holds the section (so no synchronisation has
// said anything), otherwise whether one is running.
std::optional<bool> ReadSyncActive();

// Holds the section open, so the word outlives the agent's calls, for as
// long as the object lives.
class SyncActiveHolder {
 public:
  SyncActiveHolder();
  ~SyncActiveHolder();
  SyncActiveHolder(const SyncActiveHolder&) = delete;
  SyncActiveHolder& operator=(const SyncActiveHolder&) = delete;
  bool ok() const { return section_ != nullptr; }

 private:
  HANDLE section_ = nullptr;
};

}  // namespace tbm::sync
