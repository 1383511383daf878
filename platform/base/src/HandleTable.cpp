#include "HandleTable.h"

#include <utility>

namespace tbm {

namespace {

// The two tag letters in the top bits of a 64-bit handle; a 32-bit build
// keeps the first letter in its top byte.
std::uintptr_t TagBits(char first, char second) {
  if constexpr (sizeof(std::uintptr_t) >= 8) {
    const auto letters = static_cast<std::uint64_t>(static_cast<unsigned char>(first)) << 8 |
                         static_cast<unsigned char>(second);
    return static_cast<std::uintptr_t>(letters << 48);
  } else {
    return static_cast<std::uintptr_t>(static_cast<unsigned char>(first)) << 24;
  }
}

}  // namespace

HandleTable::HandleTable(char first, char second) : tag_(TagBits(first, second)) {}

HANDLE HandleTable::AddObject(int kind, std::shared_ptr<void> object) {
  std::lock_guard guard(lock_);
  const std::uintptr_t value = tag_ | nextNumber_++;
  entries_.emplace(value, Entry{kind, std::move(object)});
  return reinterpret_cast<HANDLE>(value);
}

std::shared_ptr<void> HandleTable::LookupObject(int kind, HANDLE handle) const {
  std::lock_guard guard(lock_);
  const auto found = entries_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (found == entries_.end() || found->second.kind != kind) return nullptr;
  return found->second.object;
}

std::shared_ptr<void> HandleTable::RemoveObject(int kind, HANDLE handle) {
  std::lock_guard guard(lock_);
  const auto found = entries_.find(reinterpret_cast<std::uintptr_t>(handle));
  if (found == entries_.end() || found->second.kind != kind) return nullptr;
  std::shared_ptr<void> removed = std::move(found->second.object);
  entries_.erase(found);
  return removed;
}

void HandleTable::Clear() {
  std::unordered_map<std::uintptr_t, Entry> dropped;  // destroyed after the lock is let go
  std::lock_guard guard(lock_);
  dropped.swap(entries_);
}

}  // namespace tbm
