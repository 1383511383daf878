// String handles and data handles: the process's two tables of them.
//
// A string handle stands for one text: texts that differ only in the case of
// A to Z share one handle (its text is the one first given), so handles can
// be compared as values. A handle lives while references to it are held: a
// program's (counted per instance, all let go when the instance ends) or
// the library's own (StringRef, for a conversation's names or a callback's
// arguments).
//
// A data handle holds a block of bytes of a stated length and its format.
// It belongs to one instance and goes when freed or when the instance ends.
//
// Handle values are numbers, never pointers: a made-up or freed handle is
// looked up, not found, and refused. Numbers are never reused. Any thread may
// use both tables.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Ddeml.h"

namespace tbm::dde {

// The library's own references.
inline constexpr DWORD kLibraryOwner = 0;

// A handle for text with a reference held by owner (an instance, or
// kLibraryOwner); null when text is longer than kMaxNameBytes.
HSZ AcquireString(DWORD owner, std::string_view text);
// Another reference to a live handle; false when it is not live.
bool KeepString(DWORD owner, HSZ handle);
// Lets go of one of owner's references; false when owner holds none.
bool ReleaseString(DWORD owner, HSZ handle);
// Lets go of every reference owner holds.
void ReleaseStringsOf(DWORD owner);
// The text of a live handle.
std::optional<std::string> StringText(HSZ handle);
// 0 when both name the same text (case-blind), else -1 or 1; a null or dead
// handle sorts before any live one.
int CompareStrings(HSZ first, HSZ second);

// A library reference to a string handle, let go when the object goes.
class StringRef {
 public:
  StringRef() = default;
  explicit StringRef(std::string_view text) : handle_(AcquireString(kLibraryOwner, text)) {}
  StringRef(StringRef&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  StringRef& operator=(StringRef&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  StringRef(const StringRef&) = delete;
  StringRef& operator=(const StringRef&) = delete;
  ~StringRef() { Reset(); }

  HSZ get() const { return handle_; }
  void Reset() {
    if (handle_ != nullptr) ReleaseString(kLibraryOwner, std::exchange(handle_, nullptr));
  }

 private:
  HSZ handle_ = nullptr;
};

struct DataBlock {
  DWORD owner = 0;
  UINT format = 0;
  std::vector<std::uint8_t> bytes;
};

// A new data handle of owner holding bytes.
HDDEDATA AddData(DWORD owner, std::vector<std::uint8_t> bytes, UINT format);
// The block of a live handle, or null.
std::shared_ptr<DataBlock> FindData(HDDEDATA handle);
// Removes a live handle and hands its block over (null when not live).
std::shared_ptr<DataBlock> TakeData(HDDEDATA handle);
// Frees every data handle of owner.
void FreeDataOf(DWORD owner);

// A data handle the library made for a callback, freed when the callback
// is over.
class DataRef {
 public:
  DataRef(DWORD owner, std::vector<std::uint8_t> bytes, UINT format)
      : handle_(AddData(owner, std::move(bytes), format)) {}
  DataRef(const DataRef&) = delete;
  DataRef& operator=(const DataRef&) = delete;
  ~DataRef() { TakeData(handle_); }
  HDDEDATA get() const { return handle_; }

 private:
  HDDEDATA handle_;
};

}  // namespace tbm::dde
