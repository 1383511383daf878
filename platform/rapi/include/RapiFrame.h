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

// The call numbers. They are part of the layout: never renumber one. Each
// group has its own range, new calls go at the end of their group's range:
//   1-9 the session, 10-29 files, 30-49 the registry, 50-79 database
//   volumes, 80-99 invocations and their streams.
enum class RapiCall : std::uint16_t {
  // Pairing only: the desktop's name in; the partner identifier and the
  // partnership key out.
  kPair = 1,
  // The first request of every session: the desktop's protocol version in;
  // the handheld's protocol version and its device name out.
  kInit = 2,
  // No arguments; the handheld's temporary folder as a handheld path.
  kGetTempPath = 3,
  // No arguments; the last error the handheld set for this connection.
  kGetLastError = 4,

  // Database volumes (RapiDb.h). A volume is named by the handle number its
  // mount was given, a database by the handle number its opening was given;
  // "volume" and "handle" below are those numbers (4 bytes). A database
  // description is: 4 flags, name string, 4 type, 4 record count, 2 count of
  // sort orders, then that many of (4 property identifier, 4 flags). A
  // property value is: 4 identifier, 2 flags, then by its type 2 bytes
  // (CEVT_UI2), 4 bytes (CEVT_I4, CEVT_UI4, CEVT_BOOL), a string
  // (CEVT_LPWSTR) or a byte block (CEVT_BLOB); nothing more when the flags
  // say the property is missing or to be removed.
  //
  // Handheld path, 4 disposition; the volume.
  kMountDBVol = 50,
  // Volume; nothing. Ends the mount.
  kUnmountDBVol = 51,
  // Volume; nothing.
  kFlushDBVol = 52,
  // Volume, database description; 4 object identifier.
  kCreateDatabaseEx = 53,
  // Volume, 4 object identifier (0: by name), name string, 4 sort property,
  // 4 flags; the handle, 4 object identifier.
  kOpenDatabaseEx = 54,
  // Volume, 4 object identifier; nothing.
  kDeleteDatabaseEx = 55,
  // Volume, 4 object identifier; 2 object type, then a database
  // description (OBJTYPE_DATABASE) or 4 parent identifier (OBJTYPE_RECORD).
  kOidGetInfoEx = 56,
  // Handle, 4 seek type, then a property value for the value seeks or 8
  // bytes of value for the others; 4 object identifier, 4 index.
  kSeekDatabase = 57,
  // Handle, 4 flags, 2 all (1: every property), 2 count, count times 4
  // property identifier, 4 bytes the desktop's buffer holds (0: no
  // buffer); 4 object identifier, 4 bytes needed, and when the identifier
  // is not 0, 2 count and that many property values. Identifier 0 is the
  // insufficient-buffer answer: the handheld's last error is then
  // ERROR_INSUFFICIENT_BUFFER.
  kReadRecordPropsEx = 58,
  // Handle, 4 object identifier (0: a new record), 2 count, that many
  // property values; 4 object identifier.
  kWriteRecordProps = 59,
  // Handle, 4 object identifier; nothing.
  kDeleteRecord = 60,
  // Volume, 4 object identifier, database description; nothing.
  kSetDatabaseInfoEx = 61,
  // Volume; nothing. Batches of one connection end, without keeping their
  // writes, when the connection ends.
  kBeginBatch = 62,
  // Volume, 4 keep; nothing.
  kEndBatch = 63,
  // Handle; nothing. Closes an open database handle.
  kCloseDatabase = 64,
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
