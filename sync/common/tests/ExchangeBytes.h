// Exchange files built by hand, byte by byte, from the layout as it is
// written down for the format (offsets, widths, the padding rule) rather than
// from the writer: the tests compare the writer against these and feed the
// reader with them, including damaged ones.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace tbm::sync::testing {

class ExchangeBytes {
 public:
  ExchangeBytes& U8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
  }
  ExchangeBytes& I16(std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    return U8(static_cast<std::uint8_t>(u & 0xFF)).U8(static_cast<std::uint8_t>(u >> 8));
  }
  ExchangeBytes& I32(std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int shift = 0; shift < 32; shift += 8) U8(static_cast<std::uint8_t>((u >> shift) & 0xFF));
    return *this;
  }
  ExchangeBytes& Raw(std::string_view text) {
    for (char c : text) U8(static_cast<std::uint8_t>(c));
    return *this;
  }
  ExchangeBytes& Raw(std::initializer_list<int> values) {
    for (int v : values) U8(static_cast<std::uint8_t>(v));
    return *this;
  }
  ExchangeBytes& Zeros(std::size_t n) {
    bytes_.insert(bytes_.end(), n, 0);
    return *this;
  }
  // A counted string in a slot: length byte, the bytes, zeros to the end.
  ExchangeBytes& Counted(std::string_view text, std::size_t slot) {
    U8(static_cast<std::uint8_t>(text.size())).Raw(text);
    return Zeros(slot - 1 - text.size());
  }

  // The 300-byte header with zeros in the date and time formats, as the
  // handheld writes it.
  ExchangeBytes& Header(std::string_view name, std::int32_t fields, std::int32_t records) {
    return Counted(name, 256).I32(fields).I32(records).I32(records).Zeros(32);
  }
  // A field descriptor of 88 bytes.
  ExchangeBytes& Descriptor(std::int16_t type, std::string_view name, std::string_view key,
                            std::int16_t option1 = 0, std::int16_t option2 = 0,
                            std::int16_t valueList = -1) {
    return I16(type).Counted(name, 64).Counted(key, 16).I16(option1).I16(option2).I16(valueList);
  }
  // A record header of 20 bytes; identityHead is the counted string of
  // identity bytes 0 to 7, tail are bytes 8 and 9.
  ExchangeBytes& RecordHeader(std::int16_t change, std::string_view identityHead = "",
                              std::uint8_t tail0 = 0, std::uint8_t tail1 = 0,
                              bool noValues = false) {
    I16(change).U8(tail0).U8(tail1).Zeros(4).U8(noValues ? 1 : 0).Zeros(3);
    return Counted(identityHead, 8);
  }
  // A value text: length, bytes, zero, and one more zero when the length is
  // even (so that length + 1 is made even).
  ExchangeBytes& Text(std::string_view text) {
    I32(static_cast<std::int32_t>(text.size())).Raw(text).U8(0);
    if (text.size() % 2 == 0) U8(0);
    return *this;
  }

  const std::vector<std::uint8_t>& bytes() const { return bytes_; }
  std::size_t size() const { return bytes_.size(); }
  // A copy cut after `n` bytes.
  std::vector<std::uint8_t> Cut(std::size_t n) const {
    return std::vector<std::uint8_t>(bytes_.begin(), bytes_.begin() + static_cast<long>(n));
  }
  // Overwrites bytes at `offset` (for damaging a good file).
  ExchangeBytes& Patch(std::size_t offset, std::initializer_list<int> values) {
    for (int v : values) bytes_.at(offset++) = static_cast<std::uint8_t>(v);
    return *this;
  }

 private:
  std::vector<std::uint8_t> bytes_;
};

}  // namespace tbm::sync::testing
