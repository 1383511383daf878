// Named shared sections and named mutexes between the processes of one
// machine.
//
// The calls keep the names, arguments and error conventions of the
// handheld platform's file-mapping and mutex calls, because the system's
// code is written against them: a failing call returns NULL (FALSE,
// WAIT_FAILED) and sets the per-thread last error (GetLastError).
//
// Names. A name is up to MAX_PATH - 1 (259) UTF-16 units, compared exactly
// (case matters, as on the platform). Sections and mutexes share one
// namespace: a name used by one kind cannot be created or opened as the
// other (ERROR_INVALID_HANDLE). Names belong to the current machine
// (tbm::CurrentMachine()): processes with different machine roots never
// meet, even with equal names. A null or empty name makes an unnamed object
// that only its handle reaches.
//
// Lifetime. An object lives while any process holds a handle to it or, for
// a section, a mapped view of it. When the last handle and view in the last
// process go, the object goes: its name is free again and a new object of
// that name starts zero-filled. Handles are closed with CloseSharedHandle
// (not CeCloseHandle or CloseFileHandle: each family of handles has its own
// closer, and a handle of another family is refused).
//
// When a process dies (killed, crashed) without closing its handles, the
// host lets go of everything it held. Objects that other processes still
// hold live on with them. An object whose last holder died keeps its name
// on the host until the next process creates or opens that name, which
// finds no holder, discards the leftover and answers as if the object had
// gone with its holder (created afresh, zero-filled; or
// ERROR_FILE_NOT_FOUND for the open calls). A mutex held by a thread that
// dies (alone or with its process) is abandoned: the next thread to wait
// for it receives WAIT_ABANDONED and owns it, and the mutex works on.
//
// fork: a child may use the handles and views it inherits (they reach the
// same objects), but its exit never removes an object; it should close
// what it opened itself and end with _exit.
//
// Thread safety: every call may be made from any thread.
#pragma once

#include <cstddef>

#include "WinTypes.h"

// Protection of a new section.
constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD SEC_COMMIT = 0x08000000;  // accepted; sections are always committed

// Access asked of OpenFileMappingW and MapViewOfFile. FILE_MAP_WRITE
// includes reading.
constexpr DWORD FILE_MAP_WRITE = 0x0002;
constexpr DWORD FILE_MAP_READ = 0x0004;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;

// Access asked of OpenMutexW. Mutex handles always allow waiting and
// releasing; the value is checked only for being one of these.
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD MUTEX_MODIFY_STATE = 0x0001;
constexpr DWORD MUTEX_ALL_ACCESS = 0x001F0001;

// View offsets are multiples of this.
constexpr DWORD SHARED_ALLOCATION_GRANULARITY = 0x10000;

extern "C" {

// Creates the named section, or opens it when it exists, and returns a
// handle for it.
//   file          must be INVALID_HANDLE_VALUE: sections live in memory,
//                 never in a file (anything else: ERROR_INVALID_PARAMETER).
//   security      ignored (may be null).
//   protect       PAGE_READWRITE, or PAGE_READONLY for a handle that maps
//                 for reading only; SEC_COMMIT may be or-ed in.
//   sizeHigh/Low  the size in bytes of a new section; must not be 0, and
//                 more than 1 GiB is refused (ERROR_NOT_ENOUGH_MEMORY). An
//                 existing section keeps its own size.
//   name          see Names above.
// A new section is zero-filled and its memory is reserved at once, so
// touching it later cannot fail. On success the last error is
// ERROR_ALREADY_EXISTS when the section existed and ERROR_SUCCESS when it
// was created. Failures: ERROR_INVALID_PARAMETER, ERROR_FILENAME_EXCED_RANGE
// (name too long), ERROR_INVALID_HANDLE (the name is a mutex's),
// ERROR_NOT_ENOUGH_MEMORY (no room for the section), ERROR_INVALID_DATA (the
// host object under that name is not one of ours), ERROR_ACCESS_DENIED.
HANDLE CreateFileMappingW(HANDLE file, void* security, DWORD protect, DWORD sizeHigh, DWORD sizeLow,
                          const WCHAR* name);

// Opens an existing named section. access is FILE_MAP_READ, FILE_MAP_WRITE
// or FILE_MAP_ALL_ACCESS; a handle opened for reading maps for reading
// only. inherit is ignored. Failures: ERROR_FILE_NOT_FOUND (no such
// section), ERROR_INVALID_HANDLE (the name is a mutex's),
// ERROR_INVALID_PARAMETER (bad access, no name), and the others above.
HANDLE OpenFileMappingW(DWORD access, BOOL inherit, const WCHAR* name);

// Maps bytesToMap bytes of the section from the offset (offsetHigh:Low, a
// multiple of SHARED_ALLOCATION_GRANULARITY) into this process and returns
// the address, or null. bytesToMap 0 maps to the end of the section.
// access: FILE_MAP_READ, FILE_MAP_WRITE or FILE_MAP_ALL_ACCESS; writing
// through a read-only view faults, as on the platform. The view keeps the
// section alive after its handle is closed; UnmapViewOfFile lets it go.
// Failures: ERROR_INVALID_HANDLE (not a section handle),
// ERROR_INVALID_PARAMETER (bad access), ERROR_ACCESS_DENIED (writing asked
// of a read-only handle, or the range reaches past the end),
// ERROR_MAPPED_ALIGNMENT, ERROR_NOT_ENOUGH_MEMORY.
void* MapViewOfFile(HANDLE section, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                    std::size_t bytesToMap);

// Unmaps a view by the address MapViewOfFile returned. Failure:
// ERROR_INVALID_ADDRESS (not the start of a live view of this process).
BOOL UnmapViewOfFile(const void* address);

// Creates the named mutex, or opens it when it exists, and returns a
// handle for it. The mutex is recursive: its owner may wait for it again,
// and releases it once per successful wait. When initialOwner is TRUE and
// the mutex is created, the calling thread owns it from the start (the
// mutex becomes visible to others already owned); an existing mutex is
// only opened, never taken. security is ignored. On success the last
// error is ERROR_ALREADY_EXISTS or ERROR_SUCCESS as for sections.
// Failures as for CreateFileMappingW (ERROR_INVALID_HANDLE when the name is
// a section's).
HANDLE CreateMutexW(void* security, BOOL initialOwner, const WCHAR* name);

// Opens an existing named mutex. access is SYNCHRONIZE, MUTEX_MODIFY_STATE,
// MUTEX_ALL_ACCESS or a combination; inherit is ignored. Failures:
// ERROR_FILE_NOT_FOUND, ERROR_INVALID_HANDLE (the name is a section's),
// ERROR_INVALID_PARAMETER.
HANDLE OpenMutexW(DWORD access, BOOL inherit, const WCHAR* name);

// Waits until the calling thread owns the mutex or milliseconds pass
// (INFINITE: no limit; 0: only tries). Returns
//   WAIT_OBJECT_0   the thread owns the mutex;
//   WAIT_ABANDONED  the thread owns the mutex, whose previous owner died
//                   holding it: what it guarded may be half-changed;
//   WAIT_TIMEOUT    the time passed and the thread does not own it;
//   WAIT_FAILED     with ERROR_INVALID_HANDLE for a handle that is not a
//                   mutex's (sections cannot be waited for), or
//                   ERROR_INTERNAL_ERROR when the mutex can no longer be
//                   used.
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

// Gives up one ownership of the mutex. Failures: ERROR_INVALID_HANDLE,
// ERROR_NOT_OWNER (the calling thread does not own it).
BOOL ReleaseMutex(HANDLE mutex);

// Closes a section or mutex handle. Views of the section stay valid. A
// thread that still owns the mutex keeps owning it; when it dies, the
// mutex is abandoned for the others. Failure: ERROR_INVALID_HANDLE.
BOOL CloseSharedHandle(HANDLE handle);

}  // extern "C"
