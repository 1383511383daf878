// The byte layout of an exchange file, written down once. ExchangeReader and
// ExchangeWriter are its only users; everyone else goes through them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tbm::sync::layout {

// ---- exchange header, 300 bytes ----
constexpr std::size_t kHeaderBytes = 300;
constexpr std::size_t kNameOffset = 0;  // counted string
constexpr std::size_t kNameSlot = 256;
constexpr std::size_t kFieldCountOffset = 256;       // i32
constexpr std::size_t kRecordCountOffset = 260;      // i32, the one readers use
constexpr std::size_t kFullRecordCountOffset = 264;  // i32
constexpr std::size_t kDateSeparatorOffset = 268;    // u16
constexpr std::size_t kDateOrderOffset = 270;        // u8
constexpr std::size_t kTwoDigitMonthOffset = 271;    // u8
constexpr std::size_t kTwoDigitDayOffset = 272;      // u8
constexpr std::size_t kPreferTypedOffset = 273;      // u8
constexpr std::size_t kTimeSeparatorOffset = 274;    // u16
constexpr std::size_t kMorningOffset = 276;          // counted string
constexpr std::size_t kMorningSlot = 6;
constexpr std::size_t kAfternoonOffset = 282;  // counted string
constexpr std::size_t kAfternoonSlot = 6;
constexpr std::size_t kTwentyFourOffset = 288;  // counted string
constexpr std::size_t kTwentyFourSlot = 10;
constexpr std::size_t kLeadingZeroOffset = 298;  // u8
constexpr std::size_t kTwelveHourOffset = 299;   // u8

// ---- value-list count, right after the header ----
constexpr std::size_t kValueListCountBytes = 2;  // i16

// ---- field descriptor, 88 bytes ----
constexpr std::size_t kDescriptorBytes = 88;
constexpr std::size_t kTypeOffset = 0;       // i16
constexpr std::size_t kFieldNameOffset = 2;  // counted string
constexpr std::size_t kFieldNameSlot = 64;
constexpr std::size_t kKeyOffset = 66;  // counted string
constexpr std::size_t kKeySlot = 16;
constexpr std::size_t kOptionWord1Offset = 82;     // i16
constexpr std::size_t kOptionWord2Offset = 84;     // i16
constexpr std::size_t kValueListIndexOffset = 86;  // i16, -1 for none

// ---- record header, 20 bytes (also heads the value-list block) ----
constexpr std::size_t kRecordHeaderBytes = 20;
constexpr std::size_t kChangeCodeOffset = 0;    // i16
constexpr std::size_t kIdentityTailOffset = 2;  // identity bytes 8 and 9
constexpr std::size_t kIdentityTailBytes = 2;
constexpr std::size_t kFlagsOffset = 8;  // u8
constexpr std::uint8_t kNoValuesFlag = 0x01;
constexpr std::size_t kIdentityHeadOffset = 12;  // identity bytes 0 to 7, counted string
constexpr std::size_t kIdentityHeadSlot = 8;
// Bytes 4 to 7 and 9 to 11 are zero.

// ---- value text ----
// An i32 length L, the L bytes, a zero, and one more zero when L + 1 is odd:
// every text occupies an even number of bytes after its length.
constexpr std::size_t kTextLengthBytes = 4;
constexpr std::size_t TextTailBytes(std::size_t length) { return (length + 1) % 2 == 0 ? 1 : 2; }

// The field types the engine knows; any other type travels as 0.
constexpr std::int16_t FilterFieldType(std::int16_t type) {
  return type >= 1 && type <= 4 ? type : 0;
}

// Date component orders 1 to 5 travel as they are; any other as 0.
constexpr std::uint8_t FilterDateOrder(std::uint8_t order) {
  return order >= 1 && order <= 5 ? order : 0;
}

// ---- little-endian access ----
inline std::uint16_t GetU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::int16_t GetI16(const std::uint8_t* p) { return static_cast<std::int16_t>(GetU16(p)); }
inline std::int32_t GetI32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
}
inline void PutU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutI16(std::uint8_t* p, std::int16_t v) { PutU16(p, static_cast<std::uint16_t>(v)); }
inline void PutI32(std::uint8_t* p, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  p[0] = static_cast<std::uint8_t>(u);
  p[1] = static_cast<std::uint8_t>(u >> 8);
  p[2] = static_cast<std::uint8_t>(u >> 16);
  p[3] = static_cast<std::uint8_t>(u >> 24);
}

}  // namespace tbm::sync::layout
