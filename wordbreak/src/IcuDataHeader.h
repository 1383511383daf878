// The header that begins every ICU data item: the compiled break rules we
// load (tbmwd.brk), the Unicode property data we ship (uprops.dat) and
// ICU's common data package that the latter is taken from.
//
// Layout, in the byte order the item declares:
//   0  uint16  header size: the bytes before the item's own data
//   2  uint8   0xda
//   3  uint8   0x27
//   4  ICU's UDataInfo (unicode/udata.h): its own size (uint16), a reserved
//      uint16, then one byte each for big-endian, charset family and the
//      size of a UTF-16 unit, a reserved byte, the 4-byte data format, the
//      4-byte format version and the 4-byte data version.
// Anything after the UDataInfo up to the header size (a copyright notice,
// padding) belongs to the header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace tbm::wordbreak {

struct IcuDataHeader {
  std::size_t headerSize = 0;  // where the item's own data starts
  bool bigEndian = false;
  std::uint8_t charsetFamily = 0;
  std::uint8_t unitSize = 0;  // bytes in one UTF-16 unit
  std::array<std::uint8_t, 4> dataFormat{};
  std::array<std::uint8_t, 4> formatVersion{};
};

// Reads the header at the start of item. Returns nothing when the bytes are
// too few for a header, the two magic bytes are wrong, or the header size is
// smaller than the header's fixed part or larger than item.
std::optional<IcuDataHeader> ReadIcuDataHeader(std::span<const std::uint8_t> item);

// Whether an item with this header can be used as it is on this machine: our
// byte order, ASCII names, 2-byte UTF-16 units.
bool IsNativeIcuData(const IcuDataHeader& header);

// Whether the header names the given 4-character data format ("Brk ", "CmnD").
bool HasDataFormat(const IcuDataHeader& header, const char (&format)[5]);

}  // namespace tbm::wordbreak
