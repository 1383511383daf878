#include "ReplHandles.h"

#include <algorithm>
#include <cstring>

#include "LittleEndian.h"

namespace tbm::desksync {

HREPLOBJ MakeHandle(std::uint32_t kind, std::string_view name) {
  auto handle = std::make_unique<REPLOBJECT>();
  handle->kind = kind;
  const std::size_t length = std::min(name.size(), kHandleNameBytes - 1);
  std::memcpy(handle->name.data(), name.data(), length);
  return handle.release();
}

std::size_t HandleToBytes(const REPLOBJECT* handle, std::uint8_t* bytes) {
  if (handle == nullptr) return 0;
  std::size_t size = 0;
  if (handle->kind == kFolderHandle) {
    size = kFolderHandleBytes;
  } else if (handle->kind == kItemHandle) {
    size = kItemHandleBytes;
  } else {
    return 0;
  }
  if (bytes != nullptr) {
    StoreU32(bytes, handle->kind);
    std::memcpy(bytes + 4, handle->name.data(), kHandleNameBytes);
    if (handle->kind == kItemHandle) {
      StoreU32(bytes + 4 + kHandleNameBytes, handle->first);
      StoreU32(bytes + 8 + kHandleNameBytes, handle->second);
    }
  }
  return size;
}

HREPLOBJ HandleFromBytes(const std::uint8_t* bytes, std::size_t size) {
  if (bytes == nullptr || size < 4) return nullptr;
  const std::uint32_t kind = LoadU32(bytes);
  if (!(kind == kFolderHandle && size >= kFolderHandleBytes) &&
      !(kind == kItemHandle && size >= kItemHandleBytes)) {
    return nullptr;
  }
  auto handle = std::make_unique<REPLOBJECT>();
  handle->kind = kind;
  std::memcpy(handle->name.data(), bytes + 4, kHandleNameBytes);
  handle->name.back() = '\0';
  if (kind == kItemHandle) {
    handle->first = LoadU32(bytes + 4 + kHandleNameBytes);
    handle->second = LoadU32(bytes + 8 + kHandleNameBytes);
  }
  return handle.release();
}

bool IsHandleOf(const REPLOBJECT* handle, std::uint32_t kind) {
  return handle != nullptr && handle->kind == kind;
}

}  // namespace tbm::desksync
