#include "ScanParameters.h"

#include <cstring>

namespace tbm::scan {
namespace {

std::uint32_t Read32(const BYTE* record, std::size_t offset) {
  std::uint32_t value = 0;
  std::memcpy(&value, record + offset, sizeof value);
  return value;
}

void Write32(BYTE* record, std::size_t offset, std::uint32_t value) {
  std::memcpy(record + offset, &value, sizeof value);
}

}  // namespace

std::uint32_t ScanRecordAllocated(const BYTE* record) {
  return Read32(record, kScanAllocatedOffset);
}

std::uint32_t ScanRecordUsed(const BYTE* record) { return Read32(record, kScanUsedOffset); }

std::optional<std::uint32_t> ScanRecordMember(const BYTE* record, std::size_t offset) {
  const std::uint32_t used = ScanRecordUsed(record);
  if (used > ScanRecordAllocated(record) || offset + 4 > used) return std::nullopt;
  return Read32(record, offset);
}

bool StoreScanRecordMember(BYTE* record, std::size_t offset, std::uint32_t value) {
  if (offset < kScanReservedOffset || offset + 4 > ScanRecordAllocated(record)) return false;
  Write32(record, offset, value);
  if (ScanRecordUsed(record) < offset + 4) {
    Write32(record, kScanUsedOffset, static_cast<std::uint32_t>(offset + 4));
  }
  return true;
}

ScanParameterRecord::ScanParameterRecord() {
  Write32(bytes_.data(), kScanAllocatedOffset, kScanParametersBytes);
  Write32(bytes_.data(), kScanUsedOffset, kScanReservedOffset);
}

}  // namespace tbm::scan
