#include "HandleTable.h"

namespace tbm::fs {

namespace {

// "FS" in the top bits of a 64-bit handle; a 32-bit build keeps one tag byte.
constexpr std::uintptr_t kTag = sizeof(std::uintptr_t) >= 8
                                    ? static_cast<std::uintptr_t>(0x4653ull << 48)
                                    : static_cast<std::uintptr_t>(0x46ull << 24);

}  // namespace

HandleTable& HandleTable::Instance() {
  static HandleTable table;
  return table;
}

HANDLE HandleTable::AddObject(HandleKind kind, std::shared_ptr<void> object) {
  std::lock_guard guard(lock_);
  const std::uintptr_t value = kTag | nextNumber_++;
  entries_.emplace(value, Entry{kind, std::move(object)});
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<void> HandleTable::LookupObject(HandleKind kind, HANDLE handle) const {
  std::lock_guard guard(lock_);
  const auto found = entries_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (found == entries_.end() || found->second.kind != kind) return nullptr;
  return found->second.object;
}

bool HandleTable::RemoveObject(HandleKind kind, HANDLE handle) {
  std::shared_ptr<void> removed;  // released after the lock, so closing a file never holds it
  {
    std::lock_guard guard(lock_);
    const auto found = entries_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == entries_.end() || found->second.kind != kind) return false;
    removed = std::move(found->second.object);
    entries_.erase(found);
  }
  return true;
}

}  // namespace tbm::fs
