// The bytes that travel on a DDE socket: one reader and one writer for every
// frame of a conversation and of a registration notice.
//
// A frame is a 32-bit little-endian length, then that many bytes of body.
// A body begins with its kind (one byte); what follows depends on the kind:
//
//   Hello        client → server, first frame of a conversation:
//                u32 magic "TBDE", u32 version, u32 client instance,
//                name service, name topic
//   Welcome      server → client, the answer to Hello: u8 accepted (0 or 1)
//   Transaction  client → server: u32 id, u32 type (XTYP_), u32 format,
//                name item, block data
//   Result       server → client, one per Transaction in their order:
//                u32 id, u32 flags (DDE_), u8 has data (0 or 1), block data
//   Goodbye      either way: the sender ends the conversation (empty body)
//   Notice       to every instance that hears registrations: u8 registered
//                (1) or withdrawn (0), name service, name instance's name
//
// A name is a u32 length (at most kMaxNameBytes) and its bytes; a block is a
// u32 length and its bytes, zero bytes included. Every length is checked
// against the bytes that remain before anything is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace tbm::dde {

// A body larger than this is refused by readers and never written: blocks
// of commands and replies are small, and a reader must not be made to hold
// more than a few megabytes for one peer.
inline constexpr std::size_t kMaxFrameBytes = 4 * 1024 * 1024;
inline constexpr std::size_t kFrameLengthBytes = 4;
// The longest service, topic or item name.
inline constexpr std::size_t kMaxNameBytes = 255;
// The largest block a transaction or result can carry: the body's limit less
// the fields around the block.
inline constexpr std::size_t kMaxBlockBytes = kMaxFrameBytes - 32 - kMaxNameBytes;

inline constexpr std::uint32_t kHelloMagic = 0x45444254;  // "TBDE" little-endian
inline constexpr std::uint32_t kProtocolVersion = 1;

struct Hello {
  std::uint32_t instance = 0;  // the client's instance, to tell a self-connection
  std::string service;
  std::string topic;
};
struct Welcome {
  bool accepted = false;
};
struct Transaction {
  std::uint32_t id = 0;
  std::uint32_t type = 0;
  std::uint32_t format = 0;
  std::string item;
  std::vector<std::uint8_t> data;
};
struct Result {
  std::uint32_t id = 0;
  std::uint32_t flags = 0;
  bool hasData = false;
  std::vector<std::uint8_t> data;
};
struct Goodbye {};
struct Notice {
  bool registered = false;
  std::string service;
  std::string instanceName;
};

using Message = std::variant<Hello, Welcome, Transaction, Result, Goodbye, Notice>;

// The whole frame, length prefix included. REQUIRES: names within
// kMaxNameBytes and blocks within kMaxBlockBytes (the callers check them
// before they build a message).
std::vector<std::uint8_t> EncodeFrame(const Message& message);

// The message of one frame body (without its length prefix). nullopt when
// the body is not exactly one well-formed message: an unknown kind, a length
// that runs past the end, a name too long, bytes left over, a Hello of
// another protocol.
std::optional<Message> DecodeFrame(std::span<const std::uint8_t> body);

}  // namespace tbm::dde
