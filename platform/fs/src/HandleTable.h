// The table of live handles the file calls give out.
//
// A handle is a number, never a pointer: a handle that is not in the table
// (closed, made up, or belonging to another subsystem) is looked up and not
// found, which the calls answer with ERROR_INVALID_HANDLE instead of
// touching memory. Numbers are never reused, so a stale handle stays
// invalid even after new ones are opened, and every number carries a tag in
// its high bits so it cannot coincide with the small numbers other handle
// tables use.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "WinTypes.h"

namespace tbm::fs {

enum class HandleKind { kFile, kSearch };

class HandleTable {
 public:
  // The process's one table.
  static HandleTable& Instance();

  // Adds object and returns its new handle. T names its kind as
  // `static constexpr HandleKind kKind`.
  template <typename T>
  HANDLE Add(std::shared_ptr<T> object) {
    return AddObject(T::kKind, std::move(object));
  }

  // The object behind handle when it is live and of kind T, else null. The
  // caller's reference keeps the object alive even if another thread closes
  // the handle meanwhile.
  template <typename T>
  std::shared_ptr<T> Lookup(HANDLE handle) const {
    return std::static_pointer_cast<T>(LookupObject(T::kKind, handle));
  }

  // Removes a live handle of kind T. Returns false (and removes nothing)
  // when handle is not live or is of another kind.
  template <typename T>
  bool Remove(HANDLE handle) {
    return RemoveObject(T::kKind, handle);
  }

 private:
  struct Entry {
    HandleKind kind;
    std::shared_ptr<void> object;
  };

  HANDLE AddObject(HandleKind kind, std::shared_ptr<void> object);
  std::shared_ptr<void> LookupObject(HandleKind kind, HANDLE handle) const;
  bool RemoveObject(HandleKind kind, HANDLE handle);

  mutable std::mutex lock_;
  std::unordered_map<std::uintptr_t, Entry> entries_;
  std::uintptr_t nextNumber_ = 1;
};

}  // namespace tbm::fs
