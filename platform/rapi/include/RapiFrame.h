// The one byte layout of the remote API: every request the desktop sends
// and every reply the handheld gives is one frame, written by WriteFrame and
// read by ReadFrameHeader/ParseFrame, and the arguments inside it are
// written by PayloadWriter and read by PayloadReader. Nothing else builds or
// takes apart these bytes.
//
// Frame (all integers little-endian):
//
//   offset  size  field
//   0       4     magic "TBRA" (kFrameMagic)
//   4       2     version, kFrameVersion
//   6       2     call number (RapiCall); a reply carries its request's call
//                 number with kReplyFlag set
//   8       4     request id: chosen by the desktop, echoed by the reply
//   12      4     payload length in bytes, at most kMaxPayloadBytes
//   16      ...   payload
//
// A reply's payload starts with the call's HRESULT (4 bytes). When it is a
// failure (negative), a UTF-16 string follows saying in words what went
// wrong on the handheld; otherwise the call's results follow.
//
// Payload values, in the order each call lists them:
//   integer      2, 4 or 8 bytes, little-endian
//   string       4-byte count of UTF-16 units, then the units (no terminator)
//   byte block   4-byte count of bytes, then the bytes
//
// Readers trust no length: a count that goes past the bytes there are, a
// payload longer than kMaxPayloadBytes or than the frame, a wrong magic or
// version, bytes left over after the last value, each is a Status with a
// sentence naming what was wrong and where. They never read outside what
// they were given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Status.h"

namespace tbm::rapi {

inline constexpr std::uint32_t kFrameMagic = 0x41524254;  // "TBRA" as bytes on the wire
inline constexpr std::uint16_t kFrameVersion = 1;
inline constexpr std::size_t kFrameHeaderBytes = 16;
inline constexpr std::uint32_t kMaxPayloadBytes = 16u * 1024 * 1024;
inline constexpr std::uint16_t kReplyFlag = 0x8000;
// What the desktop and the handheld compare in CeRapiInit's greeting: the
// calls and their arguments as both understand them. Raised whenever a
// call's arguments or results change.
inline constexpr std::uint32_t kProtocolVersion = 2;

// The call numbers. They are part of the layout: never renumber one. Each
// group has its own range, new calls go at the end of their group's range:
//   1-9 the session, 10-29 files, 30-49 the registry, 50-79 database
//   volumes, 80-99 invocations and their streams.
enum class RapiCall : std::uint16_t {
  // Pairing only: the desktop's name in; the partner identifier and the
  // partnership key out.
  kPair = 1,
  // The first request of every session: the desktop's protocol version
  // (kProtocolVersion) in; the handheld's protocol version, its device name
  // and the partner identifier the desktop was let in under out.
  kInit = 2,
  // No arguments; the handheld's temporary folder as a handheld path.
  kGetTempPath = 3,
  // No arguments; the last error the handheld set for this connection.
  kGetLastError = 4,

  // Invocations (RapiInvoke.cpp, DeviceInvoke.cpp). A stream's frames carry
  // the request id of the kInvoke that opened it and get no reply.
  //
  // A handheld library's export called: the library's handheld path, the
  // function's name, the input bytes, a 4-byte flag (1: with a stream, 0:
  // without) and the 4-byte interval in milliseconds at which the handheld
  // shows it is alive while the stream is open. Without a stream, the
  // function's 4-byte HRESULT and its output bytes out. With a stream,
  // nothing out: the function now runs on the handheld and the stream is
  // open.
  kInvoke = 80,
  // Stream bytes, either way: one byte block.
  kStreamData = 81,
  // No arguments: the sender's end of the stream is closed; it sends no
  // more stream frames.
  kStreamEnd = 82,
  // No arguments: the sender is alive, while the stream is open and it has
  // nothing else to send.
  kStreamAlive = 83,
};

// A readable name of a call number, "call 77" for numbers not in RapiCall.
std::string CallName(std::uint16_t call);

struct FrameHeader {
  std::uint16_t call = 0;  // with kReplyFlag on a reply
  std::uint32_t requestId = 0;
  std::uint32_t payloadBytes = 0;
};

struct Frame {
  FrameHeader header;
  std::vector<std::uint8_t> payload;
};

// The whole frame for header (whose payloadBytes is taken from payload) and
// payload. REQUIRES: payload.size() <= kMaxPayloadBytes.
std::vector<std::uint8_t> WriteFrame(std::uint16_t call, std::uint32_t requestId,
                                     std::span<const std::uint8_t> payload);

// Reads the 16 header bytes in bytes (which must hold at least
// kFrameHeaderBytes, else kTruncated) and checks the magic, the version and
// the payload length limit (kCorrupt, kBadLength).
Status ReadFrameHeader(std::span<const std::uint8_t> bytes, FrameHeader* header);

// Reads one whole frame from the start of bytes into *frame and the number
// of bytes it took into *used. Fails with kTruncated when bytes end before
// the header or the payload does, and as ReadFrameHeader otherwise; on
// failure *frame and *used are left unchanged.
Status ParseFrame(std::span<const std::uint8_t> bytes, Frame* frame, std::size_t* used);

// Builds a payload value by value.
class PayloadWriter {
 public:
  PayloadWriter& U16(std::uint16_t value);
  PayloadWriter& U32(std::uint32_t value);
  PayloadWriter& I32(std::int32_t value) { return U32(static_cast<std::uint32_t>(value)); }
  PayloadWriter& U64(std::uint64_t value);
  PayloadWriter& String(std::u16string_view text);
  PayloadWriter& Bytes(std::span<const std::uint8_t> bytes);

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::vector<std::uint8_t> Take() { return std::move(bytes_); }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Takes a payload apart value by value. The first failure sticks: later
// reads fail too and leave their outputs alone, so a caller may read all
// values and check status() once. Each failure says which value (counting
// from 1) was wrong.
class PayloadReader {
 public:
  explicit PayloadReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  bool U16(std::uint16_t* value);
  bool U32(std::uint32_t* value);
  bool I32(std::int32_t* value);
  bool U64(std::uint64_t* value);
  // A string of at most maxUnits UTF-16 units.
  bool String(std::u16string* text, std::uint32_t maxUnits = kMaxPayloadBytes / 2);
  // A byte block of at most maxBytes bytes.
  bool Bytes(std::vector<std::uint8_t>* bytes, std::uint32_t maxBytes = kMaxPayloadBytes);
  // Fails (kCorrupt) when bytes are left after the last value read.
  bool End();

  const Status& status() const { return status_; }

 private:
  bool Take(std::size_t count, const char* what, const std::uint8_t** at);
  std::span<const std::uint8_t> bytes_;
  std::size_t offset_ = 0;
  int valueNumber_ = 0;
  Status status_;
};

}  // namespace tbm::rapi
