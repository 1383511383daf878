// Where exchange-file bytes come from and go to.
//
// The device sync agent reads the desktop's copy piece by piece from the
// remote-invocation stream and writes its own changes to a file; the desktop
// side reads and writes files. The exchange-file reader and writer therefore
// see only these two small interfaces, and never need a whole file in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "Status.h"

namespace tbm::sync {

// A source of bytes, read front to back.
class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Copies up to `bytes` bytes into `buffer` and returns how many it copied.
  // A count below `bytes` is allowed (a stream may deliver in pieces); 0
  // means the source is exhausted or failed, and callers stop there.
  virtual std::size_t Read(void* buffer, std::size_t bytes) = 0;

  // After Read returned 0: why, when the source knows more than "the data
  // ended" (an I/O error, say). Empty otherwise.
  virtual std::string FailureReason() const { return {}; }
};

// Takes exactly size bytes from source, asking again after a partial
// answer. A source that runs dry first gives a kTruncated failure saying
// "the <carrier> ends inside <what> (n of size bytes)", with the source's
// reason when it has one.
Status ReadExactly(ByteSource& source, void* buffer, std::size_t size, const char* carrier,
                   const char* what);

// A sink for bytes, written front to back.
class ByteSink {
 public:
  virtual ~ByteSink() = default;

  // Takes up to `bytes` bytes from `data` and returns how many it took.
  // Fewer than `bytes`, and 0 above all, means the sink failed.
  virtual std::size_t Write(const void* data, std::size_t bytes) = 0;

  // Pushes out whatever the sink holds back. Returns false when that fails.
  virtual bool Flush() { return true; }

  // After a failed Write or Flush: why, when known. Empty otherwise.
  virtual std::string FailureReason() const { return {}; }
};

// Reads from bytes held in memory by the caller, who keeps them alive and
// unchanged while the source is used.
class MemoryByteSource final : public ByteSource {
 public:
  explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  MemoryByteSource(const void* data, std::size_t size)
      : bytes_(static_cast<const std::uint8_t*>(data), size) {}
  // A temporary vector would be gone before the first Read.
  explicit MemoryByteSource(const std::vector<std::uint8_t>&&) = delete;

  std::size_t Read(void* buffer, std::size_t bytes) override;

  // Bytes not yet read.
  std::size_t remaining() const { return bytes_.size() - position_; }

 private:
  std::span<const std::uint8_t> bytes_;
  std::size_t position_ = 0;
};

// Appends everything written to a byte vector it owns. Never fails.
class MemoryByteSink final : public ByteSink {
 public:
  std::size_t Write(const void* data, std::size_t bytes) override;

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// Reads a file of this machine (a host path, not a handheld path) through a
// POSIX file descriptor, with a read-ahead buffer: small reads do not each
// cost a system call.
class HostFileSource final : public ByteSource {
 public:
  // Opens `path` for reading. Check ok(); when it is false, FailureReason()
  // says why and every Read returns 0.
  explicit HostFileSource(const std::string& path);
  ~HostFileSource() override;
  HostFileSource(const HostFileSource&) = delete;
  HostFileSource& operator=(const HostFileSource&) = delete;

  bool ok() const { return fd_ >= 0; }
  std::size_t Read(void* buffer, std::size_t bytes) override;
  std::string FailureReason() const override { return failure_; }

 private:
  int fd_ = -1;
  std::vector<std::uint8_t> buffer_;
  std::size_t begin_ = 0;  // next unread byte in buffer_
  std::size_t end_ = 0;    // end of the valid bytes in buffer_
  std::string failure_;
};

// Writes a file of this machine (a host path) through a POSIX file
// descriptor, with a write buffer. The file is created, or emptied when it
// exists ("create always").
class HostFileSink final : public ByteSink {
 public:
  // Creates or empties `path`. Check ok(); when it is false, FailureReason()
  // says why and every Write returns 0.
  explicit HostFileSink(const std::string& path);
  // Closes the file, writing out what is buffered; failures here go
  // unreported, so callers that care call Close() first.
  ~HostFileSink() override;
  HostFileSink(const HostFileSink&) = delete;
  HostFileSink& operator=(const HostFileSink&) = delete;

  bool ok() const { return fd_ >= 0; }
  std::size_t Write(const void* data, std::size_t bytes) override;
  bool Flush() override;
  std::string FailureReason() const override { return failure_; }

  // Writes out the buffer and closes the file. Returns false, with
  // FailureReason() set, when any write since opening failed or the close
  // did. Later calls do nothing and return the same answer.
  bool Close();

 private:
  bool WriteOut(const std::uint8_t* data, std::size_t bytes);

  int fd_ = -1;
  std::vector<std::uint8_t> buffer_;
  std::string failure_;
  bool closed_ = false;
};

}  // namespace tbm::sync
