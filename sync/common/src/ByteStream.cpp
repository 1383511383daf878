#include "ByteStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace tbm::sync {

namespace {

constexpr std::size_t kFileBufferBytes = std::size_t{64} * 1024;

std::string Reason(const char* doing, const std::string& path, int error) {
  return std::string(doing) + " " + path + ": " + std::strerror(error);
}

}  // namespace

std::size_t MemoryByteSource::Read(void* buffer, std::size_t bytes) {
  const std::size_t n = std::min(bytes, remaining());
  if (n > 0) std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += n;
  return n;
}

std::size_t MemoryByteSink::Write(const void* data, std::size_t bytes) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + bytes);
  return bytes;
}

HostFileSource::HostFileSource(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    failure_ = Reason("cannot open", path, errno);
  } else {
    buffer_.resize(kFileBufferBytes);
  }
}

HostFileSource::~HostFileSource() {
  if (fd_ >= 0) ::close(fd_);
}

// Serves from the buffer, refilling it with one read() when it runs dry.
// Reads larger than the buffer go straight into the caller's memory.
std::size_t HostFileSource::Read(void* buffer, std::size_t bytes) {
  if (fd_ < 0 || bytes == 0) return 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < bytes) {
    if (begin_ < end_) {
      const std::size_t n = std::min(bytes - done, end_ - begin_);
      std::memcpy(out + done, buffer_.data() + begin_, n);
      begin_ += n;
      done += n;
      continue;
    }
    const bool direct = bytes - done >= buffer_.size();
    std::uint8_t* target = direct ? out + done : buffer_.data();
    const std::size_t want = direct ? bytes - done : buffer_.size();
    ssize_t got;
    do {
      got = ::read(fd_, target, want);
    } while (got < 0 && errno == EINTR);
    if (got < 0) {
      failure_ = std::string("read failed: ") + std::strerror(errno);
      break;
    }
    if (got == 0) break;  // end of file
    if (direct) {
      done += static_cast<std::size_t>(got);
    } else {
      begin_ = 0;
      end_ = static_cast<std::size_t>(got);
    }
  }
  return done;
}

HostFileSink::HostFileSink(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    failure_ = Reason("cannot create", path, errno);
    closed_ = true;
  } else {
    buffer_.reserve(kFileBufferBytes);
  }
}

HostFileSink::~HostFileSink() { Close(); }

bool HostFileSink::WriteOut(const std::uint8_t* data, std::size_t bytes) {
  while (bytes > 0) {
    const ssize_t put = ::write(fd_, data, bytes);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      failure_ = std::string("write failed: ") + std::strerror(put < 0 ? errno : EIO);
      return false;
    }
    data += put;
    bytes -= static_cast<std::size_t>(put);
  }
  return true;
}

std::size_t HostFileSink::Write(const void* data, std::size_t bytes) {
  if (fd_ < 0 || !failure_.empty()) return 0;
  const auto* p = static_cast<const std::uint8_t*>(data);
  if (buffer_.size() + bytes > kFileBufferBytes) {
    if (!Flush()) return 0;
    if (bytes >= kFileBufferBytes) return WriteOut(p, bytes) ? bytes : 0;
  }
  buffer_.insert(buffer_.end(), p, p + bytes);
  return bytes;
}

bool HostFileSink::Flush() {
  if (fd_ < 0 || !failure_.empty()) return false;
  const bool written = WriteOut(buffer_.data(), buffer_.size());
  buffer_.clear();
  return written;
}

bool HostFileSink::Close() {
  if (closed_) return failure_.empty();
  closed_ = true;
  Flush();
  if (::close(fd_) != 0 && failure_.empty()) {
    failure_ = std::string("close failed: ") + std::strerror(errno);
  }
  fd_ = -1;
  return failure_.empty();
}

Status ReadExactly(ByteSource& source, void* buffer, std::size_t size, const char* carrier,
                   const char* what) {
  auto* out = static_cast<std::uint8_t*>(buffer);
  std::size_t done = 0;
  while (done < size) {
    const std::size_t got = source.Read(out + done, size - done);
    if (got == 0) break;
    done += got;
  }
  if (done == size) return Status();
  std::string message = std::string("the ") + carrier + " ends inside " + what + " (" +
                        std::to_string(done) + " of " + std::to_string(size) + " bytes)";
  const std::string reason = source.FailureReason();
  if (!reason.empty()) message += "; " + reason;
  return Status(StatusCode::kTruncated, std::move(message));
}

}  // namespace tbm::sync
