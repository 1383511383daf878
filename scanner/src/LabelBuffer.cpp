#include "LabelBuffer.h"

#include <algorithm>
#include <cstring>

#include "ScnApi.h"
#include "TBMScan.h"

namespace tbm::scan {
namespace {

std::uint32_t Member(std::span<const BYTE> buffer, std::size_t offset) {
  std::uint32_t value = 0;
  if (offset + sizeof value <= buffer.size()) {
    std::memcpy(&value, buffer.data() + offset, sizeof value);
  }
  return value;
}

void SetMember(std::span<BYTE> buffer, std::size_t offset, std::uint32_t value) {
  if (offset + sizeof value <= buffer.size()) {
    std::memcpy(buffer.data() + offset, &value, sizeof value);
  }
}

// The status is the one member two threads touch: the interface's reading
// thread finishes a read while the library's thread asks whether it is
// still pending. Buffers made by the interface are aligned for it.
bool StatusAligned(const BYTE* buffer) {
  return reinterpret_cast<std::uintptr_t>(buffer + kLabelStatusOffset) % alignof(std::uint32_t) ==
         0;
}

void StoreStatus(std::span<BYTE> buffer, DWORD status) {
  if (buffer.size() < kLabelStatusOffset + 4) return;
  if (StatusAligned(buffer.data())) {
    __atomic_store_n(reinterpret_cast<std::uint32_t*>(buffer.data() + kLabelStatusOffset), status,
                     __ATOMIC_RELEASE);
  } else {
    SetMember(buffer, kLabelStatusOffset, status);
  }
}

DWORD LoadStatus(std::span<const BYTE> buffer) {
  if (StatusAligned(buffer.data())) {
    return __atomic_load_n(
        reinterpret_cast<const std::uint32_t*>(buffer.data() + kLabelStatusOffset),
        __ATOMIC_ACQUIRE);
  }
  return Member(buffer, kLabelStatusOffset);
}

// Empties the label: length 0 and a terminator at the start of the data.
void ClearLabel(std::span<BYTE> buffer) {
  SetMember(buffer, kLabelDataLengthOffset, 0);
  const std::uint32_t offset = Member(buffer, kLabelDataOffsetOffset);
  if (offset + 2 <= buffer.size()) std::memset(buffer.data() + offset, 0, 2);
}

}  // namespace

std::size_t LabelBufferBytes(DWORD mode, DWORD size) {
  if (size == 0) return 0;
  if (mode == kLabelModeText) return kLabelHeaderBytes + std::size_t{size} * 2;
  if (mode == kLabelModeBinary) return kLabelHeaderBytes + std::size_t{size};
  return 0;
}

void FormatLabelBuffer(std::span<BYTE> buffer, DWORD mode, DWORD size) {
  std::fill(buffer.begin(), buffer.end(), BYTE{0});
  if (buffer.size() < kLabelHeaderBytes) return;
  SetMember(buffer, kLabelAllocatedOffset, kLabelHeaderBytes);
  SetMember(buffer, kLabelUsedOffset, kLabelHeaderBytes);
  SetMember(buffer, kLabelTotalBytesOffset, static_cast<std::uint32_t>(buffer.size()));
  SetMember(buffer, kLabelDataOffsetOffset, kLabelDefaultDataOffset);
  const std::size_t asked = LabelBufferBytes(mode, size);
  const std::size_t room =
      std::min(buffer.size(), asked == 0 ? buffer.size() : asked) - kLabelDefaultDataOffset;
  SetMember(buffer, kLabelDataRoomOffset, static_cast<std::uint32_t>(room));
  SetMember(buffer, kLabelModeOffset, mode);
}

void MarkLabelPending(std::span<BYTE> buffer, DWORD requestId) {
  ClearLabel(buffer);
  SetMember(buffer, kLabelSymbologyOffset, 0);
  SetMember(buffer, kLabelSourceOffset, 0);
  SetMember(buffer, kLabelRequestIdOffset, requestId);
  StoreStatus(buffer, kScnStatusReadPending);
}

DWORD StoreLabel(std::span<BYTE> buffer, std::u16string_view text, LabelSymbology symbology,
                 LabelSource source) {
  const std::uint32_t offset = Member(buffer, kLabelDataOffsetOffset);
  const std::uint32_t room = Member(buffer, kLabelDataRoomOffset);
  const bool text_mode = Member(buffer, kLabelModeOffset) == kLabelModeText;
  // Units the label takes in this mode: UTF-16 in text mode; one byte each
  // in binary mode, which holds only text of single bytes.
  const std::size_t unit_bytes = text_mode ? 2 : 1;
  const bool bytes_fit = std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 256; });
  const std::size_t needed = (text.size() + 1) * unit_bytes;
  if (offset > buffer.size() || room > buffer.size() - offset || needed > room ||
      (!text_mode && !bytes_fit)) {
    ClearLabel(buffer);
    StoreStatus(buffer, kScnStatusLabelTooLong);
    return kScnStatusLabelTooLong;
  }
  BYTE* data = buffer.data() + offset;
  if (text_mode) {
    std::memcpy(data, text.data(), text.size() * 2);
    std::memset(data + text.size() * 2, 0, 2);
  } else {
    for (std::size_t i = 0; i < text.size(); ++i) data[i] = static_cast<BYTE>(text[i]);
    data[text.size()] = 0;
  }
  SetMember(buffer, kLabelDataLengthOffset, static_cast<std::uint32_t>(text.size() * unit_bytes));
  SetMember(buffer, kLabelSymbologyOffset, static_cast<std::uint32_t>(symbology));
  SetMember(buffer, kLabelSourceOffset, static_cast<std::uint32_t>(source));
  StoreStatus(buffer, kScnSuccess);
  return kScnSuccess;
}

void FinishLabelRead(std::span<BYTE> buffer, DWORD status) {
  ClearLabel(buffer);
  StoreStatus(buffer, status);
}

std::uint32_t LabelHeaderUsed(std::span<const BYTE> buffer) {
  return Member(buffer, kLabelUsedOffset);
}

DWORD LabelStatus(std::span<const BYTE> buffer) {
  if (LabelHeaderUsed(buffer) <= kLabelStatusOffset + 3 || buffer.size() < kLabelStatusOffset + 4) {
    return kTBMScanErrorNoBufferStatus;
  }
  return LoadStatus(buffer);
}

bool LabelReadPending(std::span<const BYTE> buffer) {
  return LabelStatus(buffer) == kScnStatusReadPending;
}

const char16_t* LabelText(std::span<const BYTE> buffer) {
  const std::size_t offset = LabelHeaderUsed(buffer) > kLabelDataOffsetOffset + 3
                                 ? Member(buffer, kLabelDataOffsetOffset)
                                 : kLabelDefaultDataOffset;
  if (offset % 2 != 0 || offset >= buffer.size()) return nullptr;
  const BYTE* data = buffer.data() + offset;
  const std::size_t units = (buffer.size() - offset) / 2;
  for (std::size_t i = 0; i < units; ++i) {
    if (data[2 * i] == 0 && data[2 * i + 1] == 0) {
      return reinterpret_cast<const char16_t*>(data);
    }
  }
  return nullptr;
}

}  // namespace tbm::scan
