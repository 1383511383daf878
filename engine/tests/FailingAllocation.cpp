// The replaced operator new and delete behind FailingAllocation.h. Every
// form the program and its libraries use is replaced, so that memory from
// one is always returned to its own kind (malloc and free underneath). An
// allocation belongs to the library whose code called operator new, as the
// dynamic linker places the return address.
#include "FailingAllocation.h"

#include <dlfcn.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Allocations of the chosen libraries still to go before the failing one;
// 0 when disarmed.
std::atomic<std::uint64_t> countdown{0};
std::atomic<bool> reached{false};
// Where the chosen libraries are loaded.
constexpr std::size_t kMostLibraries = 4;
std::atomic<const void*> libraries[kMostLibraries];

const void* LibraryOf(const void* address) {
  Dl_info info{};
  return dladdr(address, &info) != 0 ? info.dli_fbase : nullptr;
}

// True when this allocation, made by code at caller, is the one chosen to
// fail.
bool ChosenToFail(const void* caller) {
  if (countdown.load() == 0) return false;
  const void* library = LibraryOf(caller);
  bool chosen = false;
  for (const auto& l : libraries) chosen = chosen || (library != nullptr && l.load() == library);
  if (!chosen) return false;
  std::uint64_t left = countdown.load();
  while (left != 0 && !countdown.compare_exchange_weak(left, left - 1)) {
  }
  if (left != 1) return false;
  reached = true;
  return true;
}

void* Allocate(std::size_t size, const void* caller) {
  if (ChosenToFail(caller)) throw std::bad_alloc();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}

void* AllocateOrNull(std::size_t size, const void* caller) noexcept {
  if (ChosenToFail(caller)) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

namespace tbm::engine::testing {

void FailAllocation(std::uint64_t n, std::initializer_list<const void*> inLibraries) {
  reached = false;
  std::size_t i = 0;
  for (const void* in : inLibraries) {
    if (i < kMostLibraries) libraries[i++] = LibraryOf(in);
  }
  for (; i < kMostLibraries; ++i) libraries[i] = nullptr;
  countdown = n;
}

bool StopFailingAllocations() {
  countdown = 0;
  return reached.exchange(false);
}

}  // namespace tbm::engine::testing

void* operator new(std::size_t size) { return Allocate(size, __builtin_return_address(0)); }
void* operator new[](std::size_t size) { return Allocate(size, __builtin_return_address(0)); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, __builtin_return_address(0));
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return AllocateOrNull(size, __builtin_return_address(0));
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
