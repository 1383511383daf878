#include "StreamBytes.h"

#include <algorithm>
#include <cstring>

namespace tbm::sync {

StreamSource::StreamSource(IRAPIStream* stream) : stream_(stream), buffer_(kBufferBytes) {}

std::size_t StreamSource::Read(void* out, std::size_t bytes) {
  if (begin_ == end_) {
    ULONG read = 0;
    if (const HRESULT rc = stream_->Read(buffer_.data(), kBufferBytes, &read); FAILED(rc)) {
      failure_ = rc;
      return 0;
    }
    begin_ = 0;
    end_ = read;
  }
  const std::size_t n = std::min(bytes, end_ - begin_);
  std::memcpy(out, buffer_.data() + begin_, n);
  begin_ += n;
  return n;
}

std::string StreamSource::FailureReason() const {
  return FAILED(failure_) ? DescribeStreamResult(failure_) : std::string();
}

std::size_t StreamSink::Write(const void* data, std::size_t bytes) {
  ULONG written = 0;
  const auto size = static_cast<ULONG>(std::min<std::size_t>(bytes, 1u << 30));
  if (const HRESULT rc = stream_->Write(data, size, &written); FAILED(rc)) failure_ = rc;
  return written;
}

std::string StreamSink::FailureReason() const {
  return FAILED(failure_) ? DescribeStreamResult(failure_) : std::string();
}

}  // namespace tbm::sync
