// Encoding and decoding the frames of sent messages.
#include "MessageFrame.h"

namespace tbm::wnd {

namespace {

constexpr std::uint32_t kRequestMagic = 0x51574254;  // "TBWQ" in little-endian order
constexpr std::uint32_t kReplyMagic = 0x41574254;    // "TBWA"
constexpr std::uint16_t kVersion = 1;

void Put(std::span<std::uint8_t> out, std::size_t offset, std::uint64_t value, int width) {
  for (int i = 0; i < width; ++i) out[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint64_t Get(std::span<const std::uint8_t> in, std::size_t offset, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) value |= std::uint64_t{in[offset + i]} << (8 * i);
  return value;
}

// Writes the common start of a frame: magic, version, reserved.
void PutHead(std::span<std::uint8_t> out, std::uint32_t magic) {
  Put(out, 0, magic, 4);
  Put(out, 4, kVersion, 2);
  Put(out, 6, 0, 2);
}

bool HeadIs(std::span<const std::uint8_t> in, std::uint32_t magic) {
  return Get(in, 0, 4) == magic && Get(in, 4, 2) == kVersion && Get(in, 6, 2) == 0;
}

}  // namespace

std::array<std::uint8_t, kRequestBytes> EncodeRequest(const Request& request) {
  std::array<std::uint8_t, kRequestBytes> out{};
  PutHead(out, kRequestMagic);
  Put(out, 8, request.hwnd, 4);
  Put(out, 12, request.message, 4);
  Put(out, 16, request.wParam, 8);
  Put(out, 24, static_cast<std::uint64_t>(request.lParam), 8);
  Put(out, 32, 0, 8);
  return out;
}

std::array<std::uint8_t, kReplyBytes> EncodeReply(std::int64_t result) {
  std::array<std::uint8_t, kReplyBytes> out{};
  PutHead(out, kReplyMagic);
  Put(out, 8, static_cast<std::uint64_t>(result), 8);
  Put(out, 16, 0, 8);
  return out;
}

std::optional<Request> DecodeRequest(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kRequestBytes || !HeadIs(bytes, kRequestMagic) || Get(bytes, 32, 8) != 0) {
    return std::nullopt;
  }
  Request request;
  request.hwnd = static_cast<std::uint32_t>(Get(bytes, 8, 4));
  request.message = static_cast<std::uint32_t>(Get(bytes, 12, 4));
  request.wParam = Get(bytes, 16, 8);
  request.lParam = static_cast<std::int64_t>(Get(bytes, 24, 8));
  return request;
}

std::optional<std::int64_t> DecodeReply(std::span<const std::uint8_t> bytes) {
  if (bytes.size() != kReplyBytes || !HeadIs(bytes, kReplyMagic) || Get(bytes, 16, 8) != 0) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>(Get(bytes, 8, 8));
}

}  // namespace tbm::wnd
