// The scan parameter record: how the scanner scans. One layout, read and
// written here by both the scanner interface and the scanner library.
//
//   byte  0  bytes allocated for the record by its owner
//   byte  4  bytes used: a member counts only when this covers it
//   byte  8  reserved, 0
//   byte 12  scan type: kScanTypeForeground (read only while the program
//            is active), kScanTypeBackground or kScanTypeMonitor
//   the rest, up to kScanParametersBytes, reserved
//
// Writing a member raises the used size to cover it. The owner sets the
// allocated size before handing the record over; whoever fills the record
// never writes past it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "WinTypes.h"

namespace tbm::scan {

inline constexpr std::uint32_t kScanParametersBytes = 3212;
inline constexpr std::size_t kScanAllocatedOffset = 0;
inline constexpr std::size_t kScanUsedOffset = 4;
inline constexpr std::size_t kScanReservedOffset = 8;
inline constexpr std::size_t kScanTypeOffset = 12;
// The first byte past the members that mean something.
inline constexpr std::uint32_t kScanKnownBytes = 16;

inline constexpr std::uint32_t kScanTypeForeground = 0;
inline constexpr std::uint32_t kScanTypeBackground = 1;
inline constexpr std::uint32_t kScanTypeMonitor = 2;

// Members of a record given by pointer (at least 8 bytes: the two sizes).
std::uint32_t ScanRecordAllocated(const BYTE* record);
std::uint32_t ScanRecordUsed(const BYTE* record);
// The member at offset when the used size covers it and stays within the
// allocated size.
std::optional<std::uint32_t> ScanRecordMember(const BYTE* record, std::size_t offset);
// Stores the member and raises the used size; false (nothing stored) when
// the allocated size does not reach it.
bool StoreScanRecordMember(BYTE* record, std::size_t offset, std::uint32_t value);

// A whole record, allocated at full size, with nothing but the two sizes in
// use yet.
class ScanParameterRecord {
 public:
  ScanParameterRecord();

  BYTE* data() { return bytes_.data(); }
  const BYTE* data() const { return bytes_.data(); }
  std::optional<std::uint32_t> Member(std::size_t offset) const {
    return ScanRecordMember(bytes_.data(), offset);
  }
  void SetMember(std::size_t offset, std::uint32_t value) {
    StoreScanRecordMember(bytes_.data(), offset, value);
  }

 private:
  alignas(4) std::array<BYTE, kScanParametersBytes> bytes_{};
};

}  // namespace tbm::scan
