#include "RpcBlock.h"

#include <algorithm>
#include <cstring>

#include "RpcBlockReply.h"
#include "SharedMemory.h"

namespace tbm {

namespace {

constexpr std::size_t kSize = 0;
constexpr std::size_t kId = 4;
constexpr std::size_t kKind = 8;
constexpr std::size_t kResult = 12;
constexpr std::size_t kData = kRpcHeaderBytes;

std::uint32_t Load(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void Store(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The text at offset 16, up to its terminator or the end of the block.
std::u16string TextAt(const std::uint8_t* block) {
  std::u16string text;
  for (std::size_t at = kData; at + 1 < kRpcBlockBytes; at += 2) {
    const char16_t c = static_cast<char16_t>(block[at] | (block[at + 1] << 8));
    if (c == 0) break;
    text.push_back(c);
  }
  return text;
}

}  // namespace

RpcBlockView::RpcBlockView(bool create) {
  section_ = create ? CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                         kRpcBlockBytes, kRpcBlockName)
                    : OpenFileMappingW(FILE_MAP_ALL_ACCESS, FALSE, kRpcBlockName);
  if (section_) {
    view_ = static_cast<std::uint8_t*>(
        MapViewOfFile(section_, FILE_MAP_ALL_ACCESS, 0, 0, kRpcBlockBytes));
  }
}

RpcBlockView::~RpcBlockView() {
  if (view_) UnmapViewOfFile(view_);
  if (section_) CloseSharedHandle(section_);
}

std::optional<RpcAnswer> CallThroughRpcBlock(HWND window, const RpcCall& call, DWORD timeoutMs) {
  RpcBlockView block(true);
  std::uint8_t* view = block.view();
  if (view == nullptr) return std::nullopt;
  std::uint8_t request[kRpcBlockBytes] = {};
  const std::uint32_t size = std::clamp<std::uint32_t>(call.size, kRpcHeaderBytes, kRpcBlockBytes);
  Store(request + kSize, size);
  Store(request + kId, call.id);
  Store(request + kKind, call.kind);
  const std::size_t units = std::min<std::size_t>(call.argument.size(), kRpcTextUnits - 1);
  for (std::size_t u = 0; u < units; ++u) {
    request[kData + 2 * u] = static_cast<std::uint8_t>(call.argument[u]);
    request[kData + 2 * u + 1] = static_cast<std::uint8_t>(call.argument[u] >> 8);
  }
  std::memcpy(view, request, size);

  DWORD_PTR handled = 0;
  if (SendMessageTimeoutW(window, WM_USER, 0, 0, SMTO_NORMAL, timeoutMs, &handled) == 0) {
    return std::nullopt;
  }
  return ReadRpcAnswer(view, call.kind, static_cast<LRESULT>(handled));
}

RpcAnswer ReadRpcAnswer(const std::uint8_t* block, std::uint32_t kind, LRESULT handled) {
  // The size word tells how much of the answer to take, never more than the
  // block holds.
  std::uint8_t reply[kRpcBlockBytes] = {};
  const std::uint32_t said = Load(block + kSize);
  const std::uint32_t back = std::min<std::uint32_t>(said, kRpcBlockBytes);
  std::memcpy(reply, block, back);
  RpcAnswer answer;
  answer.handled = handled;
  answer.size = said;
  answer.result = back >= kResult + 4 ? Load(reply + kResult) : 0;
  if (kind == kRpcArgumentAndResult) answer.reply = TextAt(reply);
  return answer;
}

LRESULT AnswerFromRpcBlock(
    const std::function<bool(std::uint32_t id, std::uint32_t kind, const std::u16string& argument,
                             std::uint32_t* result, std::u16string* reply)>& handle) {
  RpcBlockView block(false);
  std::uint8_t* view = block.view();
  if (view == nullptr) return 0;
  const std::uint32_t id = Load(view + kId);
  const std::uint32_t kind = Load(view + kKind);
  const std::u16string argument = kind == kRpcArgumentAndResult ? TextAt(view) : std::u16string();
  std::uint32_t result = 0;
  std::u16string reply;
  if (!handle(id, kind, argument, &result, &reply)) return 0;
  if (kind == kRpcResult || kind == kRpcArgumentAndResult) Store(view + kResult, result);
  if (kind == kRpcArgumentAndResult) {
    const std::size_t units = std::min<std::size_t>(reply.size(), kRpcTextUnits - 1);
    for (std::size_t u = 0; u <= units; ++u) {
      const char16_t c = u < units ? reply[u] : 0;
      view[kData + 2 * u] = static_cast<std::uint8_t>(c);
      view[kData + 2 * u + 1] = static_cast<std::uint8_t>(c >> 8);
    }
  }
  return 1;
}

}  // namespace tbm
