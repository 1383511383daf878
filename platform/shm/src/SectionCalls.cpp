// Named sections: create, open, map and unmap.
#include <sys/mman.h>

#include <cstdint>
#include <map>
#include <mutex>

#include "HostErrors.h"
#include "SharedHandles.h"
#include "SharedMemory.h"
#include "Utf16.h"

namespace tbm::shm {

namespace {

constexpr DWORD kKnownMapAccess = FILE_MAP_ALL_ACCESS;

// The views this process has mapped, by address. Each keeps its section
// alive, as a view does on the platform after its handle is closed.
class Views {
 public:
  static Views& Instance() {
    static Views views;
    return views;
  }

  void Add(void* address, std::size_t length, std::shared_ptr<SharedObject> object) {
    std::lock_guard guard(lock_);
    views_[address] = View{length, std::move(object)};
  }

  // Unmaps the view that starts at address; false when there is none.
  bool Remove(const void* address) {
    View removed;  // its section may go with it, after the lock
    {
      std::lock_guard guard(lock_);
      const auto found = views_.find(address);
      if (found == views_.end()) return false;
      removed = std::move(found->second);
      views_.erase(found);
    }
    ::munmap(const_cast<void*>(address), removed.length);
    return true;
  }

 private:
  struct View {
    std::size_t length = 0;
    std::shared_ptr<SharedObject> object;
  };

  std::mutex lock_;
  std::map<const void*, View> views_;
};

HANDLE AddSection(std::shared_ptr<SharedObject> object, bool writable) {
  auto handle = std::make_shared<SectionHandle>();
  handle->object = std::move(object);
  handle->writable = writable;
  return SharedHandles().Add(std::move(handle));
}

HANDLE Create(HANDLE file, DWORD protect, DWORD sizeHigh, DWORD sizeLow, const WCHAR* name) {
  const DWORD page = protect & ~SEC_COMMIT;
  if (file != INVALID_HANDLE_VALUE || (page != PAGE_READWRITE && page != PAGE_READONLY)) {
    return Fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
  }
  const std::uint64_t bytes = (std::uint64_t{sizeHigh} << 32) | sizeLow;
  if (bytes == 0) return Fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
  const OpenResult result = CreateOrOpen(
      ObjectKind::kSection, Utf16View(name), bytes, [](SharedObject&) { return ERROR_SUCCESS; },
      [](SharedObject&) {});
  if (!result.object) return Fail(result.error, HANDLE{nullptr});
  const HANDLE handle = AddSection(result.object, page == PAGE_READWRITE);
  SetLastError(result.existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return handle;
}

HANDLE Open(DWORD access, const WCHAR* name) {
  if ((access & ~kKnownMapAccess) != 0 || (access & (FILE_MAP_READ | FILE_MAP_WRITE)) == 0) {
    return Fail(ERROR_INVALID_PARAMETER, HANDLE{nullptr});
  }
  const OpenResult result = OpenExisting(ObjectKind::kSection, Utf16View(name));
  if (!result.object) return Fail(result.error, HANDLE{nullptr});
  return AddSection(result.object, (access & FILE_MAP_WRITE) != 0);
}

void* Map(HANDLE section, DWORD access, DWORD offsetHigh, DWORD offsetLow, std::size_t bytes) {
  const auto handle = SharedHandles().Lookup<SectionHandle>(section);
  if (!handle) return Fail(ERROR_INVALID_HANDLE, static_cast<void*>(nullptr));
  if ((access & ~kKnownMapAccess) != 0 || (access & (FILE_MAP_READ | FILE_MAP_WRITE)) == 0) {
    return Fail(ERROR_INVALID_PARAMETER, static_cast<void*>(nullptr));
  }
  const bool write = (access & FILE_MAP_WRITE) != 0;
  if (write && !handle->writable) return Fail(ERROR_ACCESS_DENIED, static_cast<void*>(nullptr));

  const std::uint64_t offset = (std::uint64_t{offsetHigh} << 32) | offsetLow;
  if (offset % SHARED_ALLOCATION_GRANULARITY != 0) {
    return Fail(ERROR_MAPPED_ALIGNMENT, static_cast<void*>(nullptr));
  }
  const SharedObject& object = *handle->object;
  const std::uint64_t size = object.payloadBytes();
  if (offset >= size || bytes > size - offset) {
    return Fail(ERROR_ACCESS_DENIED, static_cast<void*>(nullptr));
  }
  const std::size_t length = bytes != 0 ? bytes : static_cast<std::size_t>(size - offset);
  void* address = ::mmap(nullptr, length, write ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED,
                         object.descriptor(), static_cast<off_t>(object.payloadOffset() + offset));
  if (address == MAP_FAILED) return Fail(ERROR_NOT_ENOUGH_MEMORY, static_cast<void*>(nullptr));
  Views::Instance().Add(address, length, handle->object);
  return address;
}

}  // namespace

}  // namespace tbm::shm

extern "C" HANDLE CreateFileMappingW(HANDLE file, void* /*security*/, DWORD protect, DWORD sizeHigh,
                                     DWORD sizeLow, const WCHAR* name) {
  return tbm::Guarded(HANDLE{nullptr},
                      [&] { return tbm::shm::Create(file, protect, sizeHigh, sizeLow, name); });
}

extern "C" HANDLE OpenFileMappingW(DWORD access, BOOL /*inherit*/, const WCHAR* name) {
  return tbm::Guarded(HANDLE{nullptr}, [&] { return tbm::shm::Open(access, name); });
}

extern "C" void* MapViewOfFile(HANDLE section, DWORD access, DWORD offsetHigh, DWORD offsetLow,
                               std::size_t bytesToMap) {
  return tbm::Guarded(static_cast<void*>(nullptr), [&] {
    return tbm::shm::Map(section, access, offsetHigh, offsetLow, bytesToMap);
  });
}

extern "C" BOOL UnmapViewOfFile(const void* address) {
  return tbm::Guarded(FALSE, [&] {
    if (!tbm::shm::Views::Instance().Remove(address)) {
      return tbm::Fail(ERROR_INVALID_ADDRESS, FALSE);
    }
    return TRUE;
  });
}
