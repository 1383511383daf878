// The bytes of one sent message and of its answer on a window's socket,
// written and read only here.
//
// Request, 40 bytes, little-endian:
//   0  u32  magic "TBWQ"
//   4  u16  version (1)
//   6  u16  reserved, 0
//   8  u32  window handle the request is for
//  12  u32  message
//  16  u64  wParam
//  24  i64  lParam
//  32  u64  reserved, 0
//
// Reply, 24 bytes, little-endian:
//   0  u32  magic "TBWA"
//   4  u16  version (1)
//   6  u16  reserved, 0
//   8  i64  the window procedure's answer
//  16  u64  reserved, 0
//
// Both are fixed in size, so a reader takes exactly that many bytes and
// refuses anything whose magic, version or reserved bytes are not as above.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace tbm::wnd {

constexpr std::size_t kRequestBytes = 40;
constexpr std::size_t kReplyBytes = 24;

struct Request {
  std::uint32_t hwnd = 0;
  std::uint32_t message = 0;
  std::uint64_t wParam = 0;
  std::int64_t lParam = 0;

  bool operator==(const Request&) const = default;
};

std::array<std::uint8_t, kRequestBytes> EncodeRequest(const Request& request);
std::array<std::uint8_t, kReplyBytes> EncodeReply(std::int64_t result);

// The request or answer in bytes, or nullopt when bytes is not exactly one
// well-formed frame of its kind.
std::optional<Request> DecodeRequest(std::span<const std::uint8_t> bytes);
std::optional<std::int64_t> DecodeReply(std::span<const std::uint8_t> bytes);

}  // namespace tbm::wnd
