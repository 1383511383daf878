#include "RapiFrame.h"

#include "LittleEndian.h"

namespace tbm::rapi {

std::string CallName(std::uint16_t call) {
  switch (static_cast<RapiCall>(call & ~kReplyFlag)) {
    case RapiCall::kPair:
      return "pairing";
    case RapiCall::kInit:
      return "CeRapiInit";
    case RapiCall::kGetTempPath:
      return "CeGetTempPath";
    case RapiCall::kGetLastError:
      return "CeGetLastError";
    case RapiCall::kCreateFile:
      return "CeCreateFile";
    case RapiCall::kReadFile:
      return "CeReadFile";
    case RapiCall::kWriteFile:
      return "CeWriteFile";
    case RapiCall::kGetFileSize:
      return "CeGetFileSize";
    case RapiCall::kCloseHandle:
      return "CeCloseHandle";
    case RapiCall::kDeleteFile:
      return "CeDeleteFile";
    case RapiCall::kCreateDirectory:
      return "CeCreateDirectory";
    case RapiCall::kFindFirstFile:
      return "CeFindFirstFile";
    case RapiCall::kFindNextFile:
      return "CeFindNextFile";
    case RapiCall::kFindClose:
      return "CeFindClose";
    case RapiCall::kRegOpenKeyEx:
      return "CeRegOpenKeyEx";
    case RapiCall::kRegCreateKeyEx:
      return "CeRegCreateKeyEx";
    case RapiCall::kRegCloseKey:
      return "CeRegCloseKey";
    case RapiCall::kRegQueryValueEx:
      return "CeRegQueryValueEx";
    case RapiCall::kRegSetValueEx:
      return "CeRegSetValueEx";
    case RapiCall::kRegDeleteKey:
      return "CeRegDeleteKey";
    case RapiCall::kRegDeleteValue:
      return "CeRegDeleteValue";
    case RapiCall::kRegEnumKeyEx:
      return "CeRegEnumKeyEx";
    case RapiCall::kRegEnumValue:
      return "CeRegEnumValue";
    case RapiCall::kMountDBVol:
      return "CeMountDBVol";
    case RapiCall::kUnmountDBVol:
      return "CeUnmountDBVol";
    case RapiCall::kFlushDBVol:
      return "CeFlushDBVol";
    case RapiCall::kCreateDatabaseEx:
      return "CeCreateDatabaseEx";
    case RapiCall::kOpenDatabaseEx:
      return "CeOpenDatabaseEx";
    case RapiCall::kDeleteDatabaseEx:
      return "CeDeleteDatabaseEx";
    case RapiCall::kOidGetInfoEx:
      return "CeOidGetInfoEx";
    case RapiCall::kSeekDatabase:
      return "CeSeekDatabase";
    case RapiCall::kReadRecordPropsEx:
      return "CeReadRecordPropsEx";
    case RapiCall::kWriteRecordProps:
      return "CeWriteRecordProps";
    case RapiCall::kDeleteRecord:
      return "CeDeleteRecord";
    case RapiCall::kSetDatabaseInfoEx:
      return "CeSetDatabaseInfoEx";
    case RapiCall::kBeginBatch:
      return "StoreBeginBatch";
    case RapiCall::kEndBatch:
      return "StoreEndBatch";
    case RapiCall::kInvoke:
      return "CeRapiInvoke";
    case RapiCall::kStreamData:
      return "the stream's bytes";
    case RapiCall::kStreamEnd:
      return "the stream's end";
    case RapiCall::kStreamAlive:
      return "the stream's sign of life";
  }
  return "call " + std::to_string(call & ~kReplyFlag);
}

std::array<std::uint8_t, kFrameHeaderBytes> WriteFrameHeader(std::uint16_t call,
                                                             std::uint32_t requestId,
                                                             std::uint32_t payloadBytes) {
  std::array<std::uint8_t, kFrameHeaderBytes> header{};
  StoreU32(header.data(), kFrameMagic);
  StoreU16(header.data() + 4, kFrameVersion);
  StoreU16(header.data() + 6, call);
  StoreU32(header.data() + 8, requestId);
  StoreU32(header.data() + 12, payloadBytes);
  return header;
}

std::vector<std::uint8_t> WriteFrame(std::uint16_t call, std::uint32_t requestId,
                                     std::span<const std::uint8_t> payload) {
  const auto header = WriteFrameHeader(call, requestId, static_cast<std::uint32_t>(payload.size()));
  std::vector<std::uint8_t> frame(kFrameHeaderBytes + payload.size());
  std::copy(header.begin(), header.end(), frame.begin());
  std::copy(payload.begin(), payload.end(), frame.begin() + kFrameHeaderBytes);
  return frame;
}

Status ReadFrameHeader(std::span<const std::uint8_t> bytes, FrameHeader* header) {
  if (bytes.size() < kFrameHeaderBytes) {
    return Status(StatusCode::kTruncated, "the frame ends after " + std::to_string(bytes.size()) +
                                              " of its " + std::to_string(kFrameHeaderBytes) +
                                              " header bytes");
  }
  if (LoadU32(bytes.data()) != kFrameMagic) {
    return Status(StatusCode::kCorrupt,
                  "the bytes do not start a frame of the remote API (wrong magic number)");
  }
  const std::uint16_t version = LoadU16(bytes.data() + 4);
  if (version != kFrameVersion) {
    return Status(StatusCode::kCorrupt, "the frame has version " + std::to_string(version) +
                                            ", and only version " + std::to_string(kFrameVersion) +
                                            " is understood");
  }
  const std::uint32_t payloadBytes = LoadU32(bytes.data() + 12);
  if (payloadBytes > kMaxPayloadBytes) {
    return Status(StatusCode::kBadLength,
                  "the frame announces a payload of " + std::to_string(payloadBytes) +
                      " bytes, more than the " + std::to_string(kMaxPayloadBytes) + " allowed");
  }
  header->call = LoadU16(bytes.data() + 6);
  header->requestId = LoadU32(bytes.data() + 8);
  header->payloadBytes = payloadBytes;
  return Status();
}

Status ParseFrame(std::span<const std::uint8_t> bytes, Frame* frame, std::size_t* used) {
  FrameHeader header;
  if (Status status = ReadFrameHeader(bytes, &header); !status.ok()) return status;
  const std::size_t have = bytes.size() - kFrameHeaderBytes;
  if (have < header.payloadBytes) {
    return Status(StatusCode::kTruncated,
                  "the frame of " + CallName(header.call) + " announces a payload of " +
                      std::to_string(header.payloadBytes) + " bytes and only " +
                      std::to_string(have) + " are there");
  }
  const auto payload = bytes.subspan(kFrameHeaderBytes, header.payloadBytes);
  frame->header = header;
  frame->payload.assign(payload.begin(), payload.end());
  *used = kFrameHeaderBytes + header.payloadBytes;
  return Status();
}

PayloadWriter& PayloadWriter::U16(std::uint16_t value) {
  bytes_.push_back(static_cast<std::uint8_t>(value));
  bytes_.push_back(static_cast<std::uint8_t>(value >> 8));
  return *this;
}

PayloadWriter& PayloadWriter::U32(std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return *this;
}

PayloadWriter& PayloadWriter::U64(std::uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  return *this;
}

PayloadWriter& PayloadWriter::String(std::u16string_view text) {
  U32(static_cast<std::uint32_t>(text.size()));
  for (const char16_t unit : text) U16(static_cast<std::uint16_t>(unit));
  return *this;
}

PayloadWriter& PayloadWriter::Bytes(std::span<const std::uint8_t> bytes) {
  U32(static_cast<std::uint32_t>(bytes.size()));
  bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  return *this;
}

bool PayloadReader::Take(std::size_t count, const char* what, const std::uint8_t** at) {
  if (!status_.ok()) return false;
  if (bytes_.size() - offset_ < count) {
    status_ =
        Status(StatusCode::kTruncated,
               "value " + std::to_string(valueNumber_) + " of the payload (" + what + ") needs " +
                   std::to_string(count) + " bytes at offset " + std::to_string(offset_) +
                   " and only " + std::to_string(bytes_.size() - offset_) + " are left");
    return false;
  }
  *at = bytes_.data() + offset_;
  offset_ += count;
  return true;
}

bool PayloadReader::U16(std::uint16_t* value) {
  ++valueNumber_;
  const std::uint8_t* at = nullptr;
  if (!Take(2, "a 2-byte integer", &at)) return false;
  *value = LoadU16(at);
  return true;
}

bool PayloadReader::U32(std::uint32_t* value) {
  ++valueNumber_;
  const std::uint8_t* at = nullptr;
  if (!Take(4, "a 4-byte integer", &at)) return false;
  *value = LoadU32(at);
  return true;
}

bool PayloadReader::I32(std::int32_t* value) {
  std::uint32_t raw = 0;
  if (!U32(&raw)) return false;
  *value = static_cast<std::int32_t>(raw);
  return true;
}

bool PayloadReader::U64(std::uint64_t* value) {
  ++valueNumber_;
  const std::uint8_t* at = nullptr;
  if (!Take(8, "an 8-byte integer", &at)) return false;
  *value =
      static_cast<std::uint64_t>(LoadU32(at)) | (static_cast<std::uint64_t>(LoadU32(at + 4)) << 32);
  return true;
}

bool PayloadReader::String(std::u16string* text, std::uint32_t maxUnits) {
  ++valueNumber_;
  const std::uint8_t* at = nullptr;
  if (!Take(4, "a string's length", &at)) return false;
  const std::uint32_t units = LoadU32(at);
  if (units > maxUnits) {
    status_ = Status(StatusCode::kBadLength,
                     "value " + std::to_string(valueNumber_) + " of the payload is a string of " +
                         std::to_string(units) + " characters, more than the " +
                         std::to_string(maxUnits) + " allowed");
    return false;
  }
  if (!Take(std::size_t{units} * 2, "a string", &at)) return false;
  std::u16string result(units, u'\0');
  for (std::uint32_t i = 0; i < units; ++i) result[i] = static_cast<char16_t>(LoadU16(at + 2 * i));
  *text = std::move(result);
  return true;
}

bool PayloadReader::Bytes(std::vector<std::uint8_t>* bytes, std::uint32_t maxBytes) {
  std::span<const std::uint8_t> view;
  if (!BytesView(&view, maxBytes)) return false;
  bytes->assign(view.begin(), view.end());
  return true;
}

bool PayloadReader::BytesView(std::span<const std::uint8_t>* bytes, std::uint32_t maxBytes) {
  ++valueNumber_;
  const std::uint8_t* at = nullptr;
  if (!Take(4, "a byte block's length", &at)) return false;
  const std::uint32_t count = LoadU32(at);
  if (count > maxBytes) {
    status_ = Status(StatusCode::kBadLength, "value " + std::to_string(valueNumber_) +
                                                 " of the payload is a byte block of " +
                                                 std::to_string(count) + " bytes, more than the " +
                                                 std::to_string(maxBytes) + " allowed");
    return false;
  }
  if (!Take(count, "a byte block", &at)) return false;
  *bytes = std::span<const std::uint8_t>(at, count);
  return true;
}

bool PayloadReader::End() {
  if (!status_.ok()) return false;
  if (offset_ != bytes_.size()) {
    status_ = Status(StatusCode::kCorrupt, std::to_string(bytes_.size() - offset_) +
                                               " bytes are left in the payload after its last "
                                               "value");
    return false;
  }
  return true;
}

}  // namespace tbm::rapi
