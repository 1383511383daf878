// The byte source and sink over one end of a remote-invocation stream
// (RapiStream.h), through which the agent's conversation with the desktop
// (DesktopConversation.h) and the exchange files it streams are read and
// written, on either side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ByteStream.h"
#include "RapiStream.h"

namespace tbm::sync {

// Reads what the other end wrote. The readers ask for a few bytes at a
// time; taking whatever has arrived (up to a buffer's worth) in one stream
// call keeps the stream's locking out of every small read. Nothing is read
// beyond what the other end has sent.
class StreamSource final : public ByteSource {
 public:
  explicit StreamSource(IRAPIStream* stream);
  std::size_t Read(void* out, std::size_t bytes) override;
  std::string FailureReason() const override;

 private:
  static constexpr ULONG kBufferBytes = 64 * 1024;
  IRAPIStream* stream_;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  HRESULT failure_ = S_OK;
};

// Hands bytes to the other end; a write that fails returns the bytes that
// were delivered before it.
class StreamSink final : public ByteSink {
 public:
  explicit StreamSink(IRAPIStream* stream) : stream_(stream) {}
  std::size_t Write(const void* data, std::size_t bytes) override;
  std::string FailureReason() const override;

 private:
  IRAPIStream* stream_;
  HRESULT failure_ = S_OK;
};

}  // namespace tbm::sync
