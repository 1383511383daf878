// The stored image of one record: its properties in the order they were
// first written, each as identifier, length and value bytes.
//
//   u16 count
//   count times: u32 property identifier, u32 length, length value bytes
//
// Little-endian. Values: 2-byte unsigned as 2 bytes, 4-byte signed and
// unsigned and boolean as 4 bytes, strings as UTF-16 code units without
// the terminator, byte blocks as they are. Decoding distrusts every length:
// an image that is cut short, overlong, or whose fixed-size values have the
// wrong length is rejected as damaged, never read past its end.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "CeDb.h"

namespace tbm::store {

struct StoredProperty {
  CEPROPID id;
  std::span<const std::uint8_t> value;  // points into the image it was decoded from
};

// The properties of an image, or nothing when the image is damaged.
std::optional<std::vector<StoredProperty>> DecodeRecordImage(std::span<const std::uint8_t> image);

// The value bytes a CEPROPVAL stands for, or nothing when the value is not
// acceptable (unknown type, null data, too large). The bytes are appended
// to out.
bool AppendValueBytes(const CEPROPVAL& value, std::vector<std::uint8_t>& out);

// One property to encode: identifier and value bytes.
struct PropertyBytes {
  CEPROPID id;
  std::vector<std::uint8_t> value;
};

std::vector<std::uint8_t> EncodeRecordImage(std::span<const PropertyBytes> properties);

// The size in bytes a property's data takes as the platform counts it: a
// string's bytes with its terminator, a number's width.
std::uint32_t PropertyDataSize(CEPROPID id, std::size_t valueBytes);

bool IsKnownType(WORD type);

}  // namespace tbm::store
