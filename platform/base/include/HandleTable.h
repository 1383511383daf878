// A table of live handles, one per kind of object a stand-in gives out.
//
// A handle is a number, never a pointer: a handle that is not in the table
// (closed, made up, or belonging to another table) is looked up and not
// found, which the calls answer with ERROR_INVALID_HANDLE instead of
// touching memory. Numbers are never reused, so a stale handle stays
// invalid even after new ones are opened, and every number carries its
// table's tag in its high bits, so the handles of two tables never
// coincide, nor with the small numbers other handle schemes use.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "WinTypes.h"

namespace tbm {

class HandleTable {
 public:
  // tag: two letters naming the table ("FS" for the file calls); they go
  // into the high bits of every handle (one letter on a 32-bit build).
  HandleTable(char first, char second);
  HandleTable(const HandleTable&) = delete;
  HandleTable& operator=(const HandleTable&) = delete;

  // Adds object and returns its new handle. T names its kind as
  // `static constexpr SomeEnum kKind`; kinds of one table must differ.
  template <typename T>
  HANDLE Add(std::shared_ptr<T> object) {
    return AddObject(static_cast<int>(T::kKind), std::move(object));
  }

  // The object behind handle when it is live and of kind T, else null. The
  // caller's reference keeps the object alive even if another thread closes
  // the handle meanwhile.
  template <typename T>
  std::shared_ptr<T> Lookup(HANDLE handle) const {
    return std::static_pointer_cast<T>(LookupObject(static_cast<int>(T::kKind), handle));
  }

  // Removes a live handle of kind T. Returns false (and removes nothing)
  // when handle is not live or is of another kind. The object goes when the
  // last reference to it goes, outside the table's lock.
  template <typename T>
  bool Remove(HANDLE handle) {
    return RemoveObject(static_cast<int>(T::kKind), handle) != nullptr;
  }

  // Like Remove, but hands the removed object to the caller (null when the
  // handle was not live or of another kind).
  template <typename T>
  std::shared_ptr<T> Take(HANDLE handle) {
    return std::static_pointer_cast<T>(RemoveObject(static_cast<int>(T::kKind), handle));
  }

  // Drops every handle. For a process that is about to end and wants its
  // objects' destructors to run now rather than during static destruction.
  void Clear();

 private:
  struct Entry {
    int kind;
    std::shared_ptr<void> object;
  };

  HANDLE AddObject(int kind, std::shared_ptr<void> object);
  std::shared_ptr<void> LookupObject(int kind, HANDLE handle) const;
  std::shared_ptr<void> RemoveObject(int kind, HANDLE handle);

  const std::uintptr_t tag_;
  mutable std::mutex lock_;
  std::unordered_map<std::uintptr_t, Entry> entries_;
  std::uintptr_t nextNumber_ = 1;
};

}  // namespace tbm
