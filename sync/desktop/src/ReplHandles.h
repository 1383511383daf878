// The folder and item handles the store gives the connection service, and
// their byte forms, which the service keeps between synchronisations.
//
// A handle is a kind (1 folder, 2 item), a name of 260 bytes (a
// NUL-terminated multibyte string) and, for an item, two 32-bit values
// (the low and high half of its file time). Byte forms, little-endian:
//   folder  264 bytes: u32 kind, name
//   item    272 bytes: u32 kind, name, u32 first value, u32 second value
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "ReplStore.h"

namespace tbm::desksync {

inline constexpr std::uint32_t kFolderHandle = 1;
inline constexpr std::uint32_t kItemHandle = 2;
inline constexpr std::size_t kHandleNameBytes = 260;
inline constexpr std::size_t kFolderHandleBytes = 4 + kHandleNameBytes;    // 264
inline constexpr std::size_t kItemHandleBytes = 4 + kHandleNameBytes + 8;  // 272

}  // namespace tbm::desksync

// The handle object behind HREPLOBJ.
struct REPLOBJECT {
  std::uint32_t kind = 0;
  std::array<char, tbm::desksync::kHandleNameBytes> name{};
  std::uint32_t first = 0;   // items only
  std::uint32_t second = 0;  // items only
};

namespace tbm::desksync {

// A new handle of kind with name (cut to 259 bytes).
HREPLOBJ MakeHandle(std::uint32_t kind, std::string_view name);

// The handle's byte count (0 for a null handle or an unknown kind), and its
// bytes written into bytes when that is not null (bytes holds at least
// that many).
std::size_t HandleToBytes(const REPLOBJECT* handle, std::uint8_t* bytes);

// A new handle from its byte form, or null when the bytes are fewer than
// their kind needs or the kind is unknown. A name without its NUL inside
// its 260 bytes ends at the slot.
HREPLOBJ HandleFromBytes(const std::uint8_t* bytes, std::size_t size);

// Whether handle is a handle of kind.
bool IsHandleOf(const REPLOBJECT* handle, std::uint32_t kind);

}  // namespace tbm::desksync
