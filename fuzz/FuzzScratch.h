// A scratch folder for one fuzz process: made at the first call, removed
// when the process ends. Targets that need files (volumes, a handheld's
// device root) keep them here, so that two fuzzing processes never meet.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace tbm::fuzz {

// REQUIRES: the same prefix at every call of one process.
inline const std::filesystem::path& ScratchFolder(const char* prefix) {
  static const std::filesystem::path* folder = [prefix] {
    auto* path = new std::filesystem::path(std::filesystem::temp_directory_path() /
                                           (prefix + std::to_string(::getpid())));
    std::filesystem::create_directories(*path);
    std::atexit([] {
      std::error_code ignored;  // a folder already gone is fine
      std::filesystem::remove_all(*folder, ignored);
    });
    return path;
  }();
  return *folder;
}

// Reads a fuzz input front to back; past its end every read gives zeros.
class InputBytes {
 public:
  InputBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::uint32_t Word() {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
    return value;
  }
  // Up to n bytes (fewer at the end of the input).
  std::vector<std::uint8_t> Bytes(std::size_t n) {
    const std::size_t taken = std::min(n, size_ - std::min(at_, size_));
    std::vector<std::uint8_t> bytes(data_ + at_, data_ + at_ + taken);
    at_ += taken;
    return bytes;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

}  // namespace tbm::fuzz
