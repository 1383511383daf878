#include "SharedHandles.h"

#include "HostErrors.h"
#include "SharedMemory.h"

namespace tbm::shm {

HandleTable& SharedHandles() {
  static HandleTable table('S', 'H');
  return table;
}

}  // namespace tbm::shm

extern "C" BOOL CloseSharedHandle(HANDLE handle) {
  return tbm::Guarded(FALSE, [&] {
    auto& handles = tbm::shm::SharedHandles();
    if (!handles.Remove<tbm::shm::SectionHandle>(handle) &&
        !handles.Remove<tbm::shm::MutexHandle>(handle)) {
      return tbm::Fail(ERROR_INVALID_HANDLE, FALSE);
    }
    return TRUE;
  });
}
