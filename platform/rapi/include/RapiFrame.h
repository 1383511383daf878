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

#include <array>
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

  // Files. A handle is the 4-byte handle number the handheld gave; paths are
  // handheld paths inside the device root. A find entry is: attributes (4),
  // creation, last access and last write times (8 each, FILETIME as one
  // integer), size (8), object identifier (4), name (string).
  //
  // Path, access, share mode, disposition, flags and attributes in; the
  // handle out.
  kCreateFile = 10,
  // Handle and the bytes wanted (at most kMaxFileChunkBytes) in; the bytes
  // read out (fewer only at the end of the file).
  kReadFile = 11,
  // Handle and the bytes to write (at most kMaxFileChunkBytes) in; the count
  // written out.
  kWriteFile = 12,
  // Handle in; the file's size (8 bytes) out.
  kGetFileSize = 13,
  // Handle in, of anything the desktop has open; nothing out.
  kCloseHandle = 14,
  // Path in; nothing out.
  kDeleteFile = 15,
  // Path in; nothing out.
  kCreateDirectory = 16,
  // Pattern in; the search's handle and its first entry out.
  kFindFirstFile = 17,
  // Search handle in; the next entry out.
  kFindNextFile = 18,
  // Search handle in; nothing out.
  kFindClose = 19,

  // The registry. A key is a predefined key's value (0x80000000 and up) or
  // the handle number of a key the desktop opened. Every reply that reaches
  // the handheld starts with the call's LONG result (4 bytes); the results
  // after it are there whatever the result, so that ERROR_MORE_DATA can say
  // the sizes needed.
  //
  // Key and sub-key path in; result and the new key's handle out.
  kRegOpenKeyEx = 30,
  // Key and sub-key path in; result, the new key's handle and the
  // disposition out.
  kRegCreateKeyEx = 31,
  // Key handle in; result out.
  kRegCloseKey = 32,
  // Key, value name, whether the data is wanted (4) and the room for it in
  // bytes in; result, type, the value's size and its bytes (empty unless
  // they were wanted and fit) out.
  kRegQueryValueEx = 33,
  // Key, value name, type and the value's bytes in; result out.
  kRegSetValueEx = 34,
  // Key and sub-key path in; result out.
  kRegDeleteKey = 35,
  // Key and value name in; result out.
  kRegDeleteValue = 36,
  // Key, index and the room for the name in characters (terminator
  // included) in; result, the name and the characters needed (terminator
  // included) out.
  kRegEnumKeyEx = 37,
  // Key, index, the room for the name in characters, whether the data is
  // wanted and the room for it in bytes in; result, the name, the
  // characters needed for it, type, the value's size and its bytes out.
  kRegEnumValue = 38,

  // Database volumes (RapiDb.h). A volume is named by the handle number its
  // mount was given, a database by the handle number its opening was given;
  // "volume" and "handle" below are those numbers (4 bytes). A database
  // description is: 4 flags, name string, 4 type, 4 record count, 2 count of
  // sort orders, then that many of (4 property identifier, 4 flags). A
  // property value is: 4 identifier, 2 flags, then by its type 2 bytes
  // (CEVT_UI2), 4 bytes (CEVT_I4, CEVT_UI4, CEVT_BOOL), a string
  // (CEVT_LPWSTR) or a byte block (CEVT_BLOB); nothing more when the flags
  // say the property is missing or to be removed. A database handle is
  // closed with kCloseHandle.
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

// The most bytes one kReadFile or kWriteFile carries; the desktop splits
// larger reads and writes into exchanges of at most this size.
inline constexpr std::uint32_t kMaxFileChunkBytes = 1024u * 1024;
// The most bytes of a registry value that travel in one reply.
inline constexpr std::uint32_t kMaxRegistryValueBytes = 1024u * 1024;

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
// The header alone, for a writer that sends a large payload after it
// without copying it. REQUIRES: payloadBytes <= kMaxPayloadBytes.
std::array<std::uint8_t, kFrameHeaderBytes> WriteFrameHeader(std::uint16_t call,
                                                             std::uint32_t requestId,
                                                             std::uint32_t payloadBytes);

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
  // Makes room for bytes more of payload, so that writing a large block
  // allocates once.
  PayloadWriter& Reserve(std::size_t bytes) {
    bytes_.reserve(bytes_.size() + bytes);
    return *this;
  }

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
  // The same without a copy: *bytes points into the payload given to the
  // constructor and is good as long as that is.
  bool BytesView(std::span<const std::uint8_t>* bytes, std::uint32_t maxBytes = kMaxPayloadBytes);
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
