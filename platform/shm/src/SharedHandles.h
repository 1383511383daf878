// The handles the section and mutex calls give out, in one table whose
// handles carry the tag "SH". CloseSharedHandle closes either kind.
#pragma once

#include <memory>

#include "HandleTable.h"
#include "SharedObject.h"

namespace tbm::shm {

enum class SharedHandleKind { kSection, kMutex };

struct SectionHandle {
  static constexpr SharedHandleKind kKind = SharedHandleKind::kSection;
  std::shared_ptr<SharedObject> object;
  bool writable = false;  // false for a handle opened or created for reading only
};

struct MutexHandle {
  static constexpr SharedHandleKind kKind = SharedHandleKind::kMutex;
  std::shared_ptr<SharedObject> object;
};

// The process's one table of section and mutex handles.
HandleTable& SharedHandles();

}  // namespace tbm::shm
