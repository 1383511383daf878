// The label buffer: where the scanner interface leaves a read label and
// its status, and where the scanner library finds them. One layout, one
// writer (the interface's side) and one reader (the library's side), both
// here.
//
// A buffer is a header of 32-bit members followed by the label data:
//
//   byte  0  header bytes made (kLabelHeaderBytes)
//   byte  4  header bytes used: a member counts only when this covers it
//   byte  8  bytes of the whole buffer
//   byte 12  offset of the label data from the buffer's start (used > 15);
//            when the header does not reach it, the data starts at byte 124
//   byte 16  room for the data in bytes, terminator included
//   byte 20  length of the label in bytes, terminator not included
//   byte 24  status of the last read (used > 27): 0 a label was read,
//            kScnStatusReadPending while a read is pending, else why the
//            read ended without one (ScnApi.h)
//   byte 28  mode: kLabelModeText (UTF-16 label) or kLabelModeBinary
//   byte 32  symbology of the label (LabelSymbology)
//   byte 36  where it came from (LabelSource)
//   byte 40  number of the read
//   bytes 44 to 123 reserved, 0
//
// Members are in the host's byte order: the buffer never leaves the process.
// The status is written last and with release order, read with acquire
// order, so a reader that sees a read finished sees its label too.
//
// The reader trusts nothing it reads: every offset and length is checked
// against the buffer's size, which the reader knows from having asked for
// the buffer, not from the header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "WinTypes.h"

namespace tbm::scan {

inline constexpr DWORD kLabelModeBinary = 0;
inline constexpr DWORD kLabelModeText = 1;

inline constexpr std::size_t kLabelAllocatedOffset = 0;
inline constexpr std::size_t kLabelUsedOffset = 4;
inline constexpr std::size_t kLabelTotalBytesOffset = 8;
inline constexpr std::size_t kLabelDataOffsetOffset = 12;
inline constexpr std::size_t kLabelDataRoomOffset = 16;
inline constexpr std::size_t kLabelDataLengthOffset = 20;
inline constexpr std::size_t kLabelStatusOffset = 24;
inline constexpr std::size_t kLabelModeOffset = 28;
inline constexpr std::size_t kLabelSymbologyOffset = 32;
inline constexpr std::size_t kLabelSourceOffset = 36;
inline constexpr std::size_t kLabelRequestIdOffset = 40;
inline constexpr std::uint32_t kLabelHeaderBytes = 124;
inline constexpr std::uint32_t kLabelDefaultDataOffset = 124;

enum class LabelSymbology : std::uint32_t {
  kUnknown = 0,  // a line from a serial reader, which does not say
  kEan13 = 1,
  kUpcA = 2,
  kCode128 = 3,
  kCode39 = 4,
  kQrCode = 5,
};

enum class LabelSource : std::uint32_t { kNone = 0, kPort = 1, kImage = 2 };

// Bytes of a buffer of mode with room for size units (terminator included);
// 0 for an unknown mode or a size of 0.
std::size_t LabelBufferBytes(DWORD mode, DWORD size);

// --- The interface's side -------------------------------------------------

// Lays out a fresh buffer of LabelBufferBytes(mode, size) bytes: the whole
// header used, no read yet (status 0, empty label).
void FormatLabelBuffer(std::span<BYTE> buffer, DWORD mode, DWORD size);

// Marks a read begun: the label emptied, the read's number kept, the status
// kScnStatusReadPending.
void MarkLabelPending(std::span<BYTE> buffer, DWORD requestId);

// Stores a label and finishes the read with status 0. A label that does not
// fit the buffer's room (or a buffer in binary mode that is given text it
// cannot hold) is not stored: the read finishes with kScnStatusLabelTooLong
// and an empty label. Returns the status set.
DWORD StoreLabel(std::span<BYTE> buffer, std::u16string_view text, LabelSymbology symbology,
                 LabelSource source);

// Finishes the read without a label, with status.
void FinishLabelRead(std::span<BYTE> buffer, DWORD status);

// --- The library's side ---------------------------------------------------

// The header's used size; 0 when the buffer is too short to hold it.
std::uint32_t LabelHeaderUsed(std::span<const BYTE> buffer);

// The status of the last read, when the header covers it; else
// kTBMScanErrorNoBufferStatus (0xA0000022).
DWORD LabelStatus(std::span<const BYTE> buffer);

// True while a read is pending in the buffer.
bool LabelReadPending(std::span<const BYTE> buffer);

// Where the label text starts: the data offset when the used size is over
// 15, else byte 124. Null unless that offset is even, lies inside the buffer
// and a terminating 0 unit follows it inside the buffer.
const char16_t* LabelText(std::span<const BYTE> buffer);

}  // namespace tbm::scan
