// Named mutexes: a process-shared, robust, recursive pthread mutex as the
// payload of a shared object.
//
// Robust: when the owning thread dies, the host marks the mutex, and the
// next thread to lock it learns that its owner died (EOWNERDEAD); it then
// owns the mutex, makes it consistent again and is told WAIT_ABANDONED.
// The host finds a dead thread's mutexes through a list of addresses kept
// per thread, so a mutex must stay mapped at one address while a thread of
// this process owns it: every successful wait pins the object in the
// process, every release unpins it. Only one thread owns the mutex at a
// time, so all the pins of a process are its owner's.
#include <pthread.h>

#include <cerrno>
#include <ctime>

#include "HostErrors.h"
#include "SharedHandles.h"
#include "SharedMemory.h"
#include "Utf16.h"

namespace tbm::shm {

namespace {

constexpr DWORD kKnownMutexAccess = MUTEX_ALL_ACCESS;

pthread_mutex_t* MutexOf(SharedObject& object) {
  return static_cast<pthread_mutex_t*>(object.Payload());
}

// Sets up the mutex of a new object and, for an initial owner, takes it,
// all before any other process can see it.
DWORD PrepareMutex(SharedObject& object, bool initialOwner) {
  pthread_mutex_t* mutex = MutexOf(object);
  if (mutex == nullptr) return ERROR_NOT_ENOUGH_MEMORY;
  pthread_mutexattr_t attributes;
  if (::pthread_mutexattr_init(&attributes) != 0) return ERROR_NOT_ENOUGH_MEMORY;
  int result = ::pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
  if (result == 0) result = ::pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
  if (result == 0) result = ::pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  if (result == 0) result = ::pthread_mutex_init(mutex, &attributes);
  ::pthread_mutexattr_destroy(&attributes);
  if (result != 0) return ERROR_INTERNAL_ERROR;
  if (initialOwner) {
    if (::pthread_mutex_lock(mutex) != 0) return ERROR_INTERNAL_ERROR;
    object.Pin();
  }
  return ERROR_SUCCESS;
}

// Undoes PrepareMutex for an object that lost the race for its name.
void DiscardMutex(SharedObject& object, bool initialOwner) {
  if (!initialOwner) return;
  ::pthread_mutex_unlock(MutexOf(object));
  object.Unpin();
}

HANDLE AddMutex(std::shared_ptr<SharedObject> object) {
  if (MutexOf(*object) == nullptr) return Fail(ERROR_NOT_ENOUGH_MEMORY, HANDLE{nullptr});
  auto handle = std::make_shared<MutexHandle>();
  handle->object = std::move(object);
  return SharedHandles().Add(std::move(handle));
}

HANDLE Create(BOOL initialOwner, const WCHAR* name) {
  const bool own = initialOwner != FALSE;
  const OpenResult result = CreateOrOpen(
      ObjectKind::kMutex, Utf16View(name), sizeof(pthread_mutex_t),
      [own](SharedObject& object) { return PrepareMutex(object, own); },
      [own](SharedObject& object) { DiscardMutex(object, own); });
  if (!result.object) return Fail(result.error, HANDLE{nullptr});
  if (result.object->payloadBytes() != sizeof(pthread_mutex_t)) {
    return Fail(ERROR_INVALID_DATA, HANDLE{nullptr});
  }
  const HANDLE handle = AddMutex(result.object);
  if (handle == nullptr) return handle;
  SetLastError(result.existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE Open(DWORD access, const WCHAR* name) {
  if (access == 0 || (access & ~kKnownMutexAccess) != 0) {
    return Fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
  }
  const OpenResult result = OpenExisting(ObjectKind::kMutex, Utf16View(name));
  if (!result.object) return Fail(result.error, HANDLE{nullptr});
  if (result.object->payloadBytes() != sizeof(pthread_mutex_t)) {
    return Fail(ERROR_INVALID_DATA, HANDLE{nullptr});
  }
  return AddMutex(result.object);
}

// Locks mutex, waiting at most milliseconds (INFINITE: for ever).
int Lock(pthread_mutex_t* mutex, DWORD milliseconds) {
  if (milliseconds == INFINITE) return ::pthread_mutex_lock(mutex);
  if (milliseconds == 0) return ::pthread_mutex_trylock(mutex);
  timespec deadline{};
  ::clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += static_cast<time_t>(milliseconds / 1000);
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  return ::pthread_mutex_clocklock(mutex, CLOCK_MONOTONIC, &deadline);
}

DWORD Wait(HANDLE handle, DWORD milliseconds) {
  const auto mutexHandle = SharedHandles().Lookup<MutexHandle>(handle);
  if (!mutexHandle) return Fail(ERROR_INVALID_HANDLE, WAIT_FAILED);
  SharedObject& object = *mutexHandle->object;
  pthread_mutex_t* mutex = MutexOf(object);
  switch (Lock(mutex, milliseconds)) {
    case 0:
      object.Pin();
      return WAIT_OBJECT_0;
    case EOWNERDEAD:
      // This thread owns it now. Marked consistent, it works on for
      // everyone; whatever it guarded is the callers' to check. Pins left
      // by the dead owner, if it was one of ours, go with it.
      ::pthread_mutex_consistent(mutex);
      object.PinAfresh();
      return WAIT_ABANDONED;
    case EBUSY:
    case ETIMEDOUT:
      return WAIT_TIMEOUT;
    default:  // ENOTRECOVERABLE, EAGAIN (owned too many times)
      return Fail(ERROR_INTERNAL_ERROR, WAIT_FAILED);
  }
}

BOOL Release(HANDLE handle) {
  const auto mutexHandle = SharedHandles().Lookup<MutexHandle>(handle);
  if (!mutexHandle) return Fail(ERROR_INVALID_HANDLE, FALSE);
  SharedObject& object = *mutexHandle->object;
  if (::pthread_mutex_unlock(MutexOf(object)) != 0) return Fail(ERROR_NOT_OWNER, FALSE);
  object.Unpin();
  return TRUE;
}

}  // namespace

}  // namespace tbm::shm

extern "C" HANDLE CreateMutexW(void* /*security*/, BOOL initialOwner, const WCHAR* name) {
  return tbm::Guarded(HANDLE{nullptr}, [&] { return tbm::shm::Create(initialOwner, name); });
}

extern "C" HANDLE OpenMutexW(DWORD access, BOOL /*inherit*/, const WCHAR* name) {
  return tbm::Guarded(HANDLE{nullptr}, [&] { return tbm::shm::Open(access, name); });
}

extern "C" DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  return tbm::Guarded(WAIT_FAILED, [&] { return tbm::shm::Wait(handle, milliseconds); });
}

extern "C" BOOL ReleaseMutex(HANDLE mutex) {
  return tbm::Guarded(FALSE, [&] { return tbm::shm::Release(mutex); });
}
