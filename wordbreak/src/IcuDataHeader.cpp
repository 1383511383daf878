#include "IcuDataHeader.h"

#include <bit>

namespace tbm::wordbreak {

namespace {

constexpr std::size_t kHeaderSizeOffset = 0;
constexpr std::size_t kMagic1Offset = 2;
constexpr std::size_t kMagic2Offset = 3;
constexpr std::uint8_t kMagic1 = 0xda;
constexpr std::uint8_t kMagic2 = 0x27;
constexpr std::size_t kInfoOffset = 4;
// Offsets inside the UDataInfo.
constexpr std::size_t kInfoSizeOffset = 0;
constexpr std::size_t kBigEndianOffset = 4;
constexpr std::size_t kCharsetFamilyOffset = 5;
constexpr std::size_t kUnitSizeOffset = 6;
constexpr std::size_t kDataFormatOffset = 8;
constexpr std::size_t kFormatVersionOffset = 12;
constexpr std::size_t kInfoMinimumSize = 20;  // up to and including the data version
constexpr std::size_t kHeaderMinimumSize = kInfoOffset + kInfoMinimumSize;

constexpr std::uint8_t kAsciiFamily = 0;  // U_ASCII_FAMILY

std::uint16_t ReadUint16(std::span<const std::uint8_t> bytes, std::size_t offset, bool bigEndian) {
  const auto first = static_cast<std::uint16_t>(bytes[offset]);
  const auto second = static_cast<std::uint16_t>(bytes[offset + 1]);
  return bigEndian ? static_cast<std::uint16_t>(first << 8 | second)
                   : static_cast<std::uint16_t>(second << 8 | first);
}

}  // namespace

std::optional<IcuDataHeader> ReadIcuDataHeader(std::span<const std::uint8_t> item) {
  if (item.size() < kHeaderMinimumSize) return std::nullopt;
  if (item[kMagic1Offset] != kMagic1 || item[kMagic2Offset] != kMagic2) return std::nullopt;
  const auto info = item.subspan(kInfoOffset);

  IcuDataHeader header;
  header.bigEndian = info[kBigEndianOffset] != 0;
  header.charsetFamily = info[kCharsetFamilyOffset];
  header.unitSize = info[kUnitSizeOffset];
  for (std::size_t i = 0; i < 4; ++i) {
    header.dataFormat[i] = info[kDataFormatOffset + i];
    header.formatVersion[i] = info[kFormatVersionOffset + i];
  }
  const std::size_t infoSize = ReadUint16(info, kInfoSizeOffset, header.bigEndian);
  header.headerSize = ReadUint16(item, kHeaderSizeOffset, header.bigEndian);
  if (infoSize < kInfoMinimumSize || header.headerSize < kInfoOffset + infoSize ||
      header.headerSize > item.size()) {
    return std::nullopt;
  }
  return header;
}

bool IsNativeIcuData(const IcuDataHeader& header) {
  return header.bigEndian == (std::endian::native == std::endian::big) &&
         header.charsetFamily == kAsciiFamily && header.unitSize == 2;
}

bool HasDataFormat(const IcuDataHeader& header, const char (&format)[5]) {
  for (std::size_t i = 0; i < 4; ++i) {
    if (header.dataFormat[i] != static_cast<std::uint8_t>(format[i])) return false;
  }
  return true;
}

}  // namespace tbm::wordbreak
