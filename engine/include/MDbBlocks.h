// The engine's byte blocks as types: the field-information block of a
// field's definition, its option and extended option blocks, the database's
// attribute block and a record's identity block. The engine stores them as
// opaque bytes; these are their one reader and writer for everything that
// looks inside them (the handheld program, synchronisation, the tools).
//
// Decode reads exactly the block's size from its argument, Encode writes
// exactly that many bytes; every byte is kept, including those no one
// interprets, so that decoding and encoding a block gives it back unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "LittleEndian.h"
#include "MDb.h"

// A counted string in a fixed slot: a length byte, then that many bytes
// (at most the slot less one), the rest of the slot zero.
template <std::size_t Slot>
using MDbCountedBytes = std::array<std::uint8_t, Slot>;

// ---- field-information block (MDbFieldInfoBytes, 18) ----
//   byte 0: the field type (MDbFieldText .. MDbFieldTime); byte 1: zero;
//   bytes 2-17: the field key, a counted string synchronisation recognises
//   the field by.
struct MDbFieldInfo {
  std::uint8_t type = 0;
  std::uint8_t reserved = 0;
  MDbCountedBytes<16> key{};
};

inline MDbFieldInfo MDbDecodeFieldInfo(const std::uint8_t* block) {
  MDbFieldInfo info;
  info.type = block[0];
  info.reserved = block[1];
  std::memcpy(info.key.data(), block + 2, info.key.size());
  return info;
}

inline void MDbEncodeFieldInfo(const MDbFieldInfo& info, std::uint8_t* block) {
  block[0] = info.type;
  block[1] = info.reserved;
  std::memcpy(block + 2, info.key.data(), info.key.size());
}

// ---- field option block (MDbOptionBytes, 6) ----
//   three little-endian words: the flags; the display style (low byte);
//   the value-list number (low byte, 255 for none; synchronisation writes
//   the whole word as -1).
constexpr std::uint16_t MDbFieldLocked = 0x0001;      // no editor opens on the field
constexpr std::uint16_t MDbFieldCapitalise = 0x0002;  // the first letter typed into it is a capital
constexpr std::uint8_t MDbNoValueList = 0xFF;

struct MDbFieldOption {
  std::uint16_t flags = 0;
  std::uint16_t style = 0;
  std::uint16_t valueList = 0xFFFF;

  std::uint8_t displayStyle() const { return static_cast<std::uint8_t>(style); }
  // The value-list number, or MDbNoValueList.
  std::uint8_t valueListNumber() const { return static_cast<std::uint8_t>(valueList); }
};

inline MDbFieldOption MDbDecodeFieldOption(const std::uint8_t* block) {
  return {tbm::LoadU16(block), tbm::LoadU16(block + 2), tbm::LoadU16(block + 4)};
}

inline void MDbEncodeFieldOption(const MDbFieldOption& option, std::uint8_t* block) {
  tbm::StoreU16(block, option.flags);
  tbm::StoreU16(block + 2, option.style);
  tbm::StoreU16(block + 4, option.valueList);
}

// ---- extended option block (MDbOptionExBytes, 9) ----
//   byte 0: the list column's width in pixels (below 16 hides the column);
//   byte 1: alignment (2 centred, 3 right, else left); bytes 2-5: colour,
//   little-endian 0x00BBGGRR; byte 6: the field's display order; bytes 7
//   and 8: kept as written.
struct MDbFieldOptionEx {
  std::uint8_t width = 0;
  std::uint8_t alignment = 0;
  std::uint32_t colour = 0;
  std::uint8_t displayOrder = 0;
  std::array<std::uint8_t, 2> kept{};
};

inline MDbFieldOptionEx MDbDecodeFieldOptionEx(const std::uint8_t* block) {
  MDbFieldOptionEx ex;
  ex.width = block[0];
  ex.alignment = block[1];
  ex.colour = tbm::LoadU32(block + 2);
  ex.displayOrder = block[6];
  ex.kept = {block[7], block[8]};
  return ex;
}

inline void MDbEncodeFieldOptionEx(const MDbFieldOptionEx& ex, std::uint8_t* block) {
  block[0] = ex.width;
  block[1] = ex.alignment;
  tbm::StoreU32(block + 2, ex.colour);
  block[6] = ex.displayOrder;
  block[7] = ex.kept[0];
  block[8] = ex.kept[1];
}

// ---- attribute block (MDbAttrBytes, 78) ----
//   bytes 0-7: not read by the engine (a new database has byte 4 = 1);
//   bytes 8-23: four little-endian attribute words (the handheld program
//   keeps its views' settings in words 2 and 3); bytes 24-29: the date
//   format (MDbDateFormatBytes); bytes 30-77: the time format
//   (MDbTimeFormatBytes).
constexpr std::size_t MDbAttrDateFormatOffset = 24;
constexpr std::size_t MDbAttrTimeFormatOffset = 30;

struct MDbAttributes {
  std::array<std::uint8_t, 8> lead{};
  std::array<std::uint32_t, 4> words{};
  std::array<std::uint8_t, MDbDateFormatBytes> dateFormat{};
  std::array<std::uint8_t, MDbTimeFormatBytes> timeFormat{};
};

inline MDbAttributes MDbDecodeAttributes(const std::uint8_t* block) {
  MDbAttributes attrs;
  std::memcpy(attrs.lead.data(), block, attrs.lead.size());
  for (std::size_t w = 0; w < attrs.words.size(); ++w)
    attrs.words[w] = tbm::LoadU32(block + 8 + 4 * w);
  std::memcpy(attrs.dateFormat.data(), block + MDbAttrDateFormatOffset, attrs.dateFormat.size());
  std::memcpy(attrs.timeFormat.data(), block + MDbAttrTimeFormatOffset, attrs.timeFormat.size());
  return attrs;
}

inline void MDbEncodeAttributes(const MDbAttributes& attrs, std::uint8_t* block) {
  std::memcpy(block, attrs.lead.data(), attrs.lead.size());
  for (std::size_t w = 0; w < attrs.words.size(); ++w)
    tbm::StoreU32(block + 8 + 4 * w, attrs.words[w]);
  std::memcpy(block + MDbAttrDateFormatOffset, attrs.dateFormat.data(), attrs.dateFormat.size());
  std::memcpy(block + MDbAttrTimeFormatOffset, attrs.timeFormat.data(), attrs.timeFormat.size());
}

// ---- date format (MDbDateFormatBytes, 6) and time format
// (MDbTimeFormatBytes, 48), the two formats inside the attribute block ----
// Unlike the blocks above, these are decoded as the engine reads them: an
// order outside 0-5 reads as 0, a flag byte as set or not, a suffix up to
// its terminator. Encoding writes the bytes the engine reads back the same.

//   Date: separator (UTF-16 LE) at 0, component order at 2, two-digit month
//   at 3, two-digit day at 4, "prefer the separator the user typed" at 5.
struct MDbDateFormat {
  char16_t separator = u'/';
  // 0 month-day-year, 1 day-month-year, 2 year-month-day, 3 month-year-day,
  // 4 day-year-month, 5 year-day-month.
  std::uint8_t order = 0;
  bool monthTwoDigits = false;
  bool dayTwoDigits = false;
  bool preferTypedSeparator = false;
};

inline MDbDateFormat MDbDecodeDateFormat(const std::uint8_t* block) {
  MDbDateFormat f;
  f.separator = static_cast<char16_t>(tbm::LoadU16(block));
  f.order = block[2] < 6 ? block[2] : 0;
  f.monthTwoDigits = block[3] != 0;
  f.dayTwoDigits = block[4] != 0;
  f.preferTypedSeparator = block[5] != 0;
  return f;
}

inline void MDbEncodeDateFormat(const MDbDateFormat& f, std::uint8_t* block) {
  tbm::StoreU16(block, f.separator);
  block[2] = f.order < 6 ? f.order : 0;
  block[3] = f.monthTwoDigits ? 1 : 0;
  block[4] = f.dayTwoDigits ? 1 : 0;
  block[5] = f.preferTypedSeparator ? 1 : 0;
}

//   Time: separator (UTF-16 LE) at 0; the morning suffix in the 6 units at
//   2, the afternoon suffix in the 6 units at 14, the 24-hour suffix in the
//   10 units at 26, each zero-terminated inside its slot (a slot without a
//   terminator holds a suffix of its whole length); hours below 10 with a
//   leading zero at 46; the 12-hour clock at 47.
struct MDbTimeFormat {
  char16_t separator = u':';
  std::u16string morning;
  std::u16string afternoon;
  std::u16string twentyFour;
  bool hoursLeadingZero = false;
  bool twelveHourClock = false;
};

inline constexpr std::size_t MDbTimeMorningAt = 2;
inline constexpr std::size_t MDbTimeAfternoonAt = 14;
inline constexpr std::size_t MDbTimeTwentyFourAt = 26;

inline std::u16string MDbLoadTimeSuffix(const std::uint8_t* slot, std::size_t units) {
  std::u16string text;
  for (std::size_t i = 0; i < units; ++i) {
    const auto c = static_cast<char16_t>(tbm::LoadU16(slot + 2 * i));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

// Writes text cut to units - 1 units, then zeros to the end of the slot.
inline void MDbStoreTimeSuffix(std::u16string_view text, std::uint8_t* slot, std::size_t units) {
  const std::size_t kept = text.size() < units ? text.size() : units - 1;
  for (std::size_t i = 0; i < units; ++i) tbm::StoreU16(slot + 2 * i, i < kept ? text[i] : 0);
}

inline MDbTimeFormat MDbDecodeTimeFormat(const std::uint8_t* block) {
  MDbTimeFormat f;
  f.separator = static_cast<char16_t>(tbm::LoadU16(block));
  f.morning = MDbLoadTimeSuffix(block + MDbTimeMorningAt, 6);
  f.afternoon = MDbLoadTimeSuffix(block + MDbTimeAfternoonAt, 6);
  f.twentyFour = MDbLoadTimeSuffix(block + MDbTimeTwentyFourAt, 10);
  f.hoursLeadingZero = block[46] != 0;
  f.twelveHourClock = block[47] != 0;
  return f;
}

inline void MDbEncodeTimeFormat(const MDbTimeFormat& f, std::uint8_t* block) {
  tbm::StoreU16(block, f.separator);
  MDbStoreTimeSuffix(f.morning, block + MDbTimeMorningAt, 6);
  MDbStoreTimeSuffix(f.afternoon, block + MDbTimeAfternoonAt, 6);
  MDbStoreTimeSuffix(f.twentyFour, block + MDbTimeTwentyFourAt, 10);
  block[46] = f.hoursLeadingZero ? 1 : 0;
  block[47] = f.twelveHourClock ? 1 : 0;
}

// ---- record identity block (MDbIdentityBytes, 10) ----
//   bytes 0-7: the desktop's identity of the record, a counted string of at
//   most 7 bytes; bytes 8-9: the desktop's modification count at the last
//   synchronisation, little-endian. A record made on the handheld has ten
//   zero bytes.
struct MDbIdentity {
  MDbCountedBytes<8> desktopId{};
  std::uint16_t modificationCount = 0;

  // The ten zero bytes of a record the desktop has not seen.
  bool empty() const {
    for (const std::uint8_t b : desktopId) {
      if (b != 0) return false;
    }
    return modificationCount == 0;
  }
};

inline MDbIdentity MDbDecodeIdentity(const std::uint8_t* block) {
  MDbIdentity identity;
  std::memcpy(identity.desktopId.data(), block, identity.desktopId.size());
  identity.modificationCount = tbm::LoadU16(block + 8);
  return identity;
}

inline void MDbEncodeIdentity(const MDbIdentity& identity, std::uint8_t* block) {
  std::memcpy(block, identity.desktopId.data(), identity.desktopId.size());
  tbm::StoreU16(block + 8, identity.modificationCount);
}
