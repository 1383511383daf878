// Calls into a running program through the RPC block: a shared section of
// 4096 bytes, "TBMRpcMemBlock", through which another process asks the
// program's main window to perform a call. Layout (little-endian):
//
//   0   u32  size: bytes of the request copied in, and of the reply copied
//            back (the program sets it for its answer)
//   4   u32  call identifier
//   8   u32  call kind: 1 no argument, no result; 2 no argument, result;
//            3 argument and result
//   12  u32  result (kinds 2 and 3)
//   16  ...  argument and reply data for kind 3: a NUL-terminated UTF-16
//            string
//
// The caller copies its request into the section, sends the program's main
// window WM_USER with both parameters 0, waits for the answer, then copies
// back as many bytes as the size word then says. The block itself is not
// locked: one caller at a time uses it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "WinUser.h"

namespace tbm {

inline constexpr char16_t kRpcBlockName[] = u"TBMRpcMemBlock";
inline constexpr DWORD kRpcBlockBytes = 4096;
inline constexpr DWORD kRpcHeaderBytes = 16;
// The most UTF-16 units of an argument or reply, with its terminator.
inline constexpr DWORD kRpcTextUnits = (kRpcBlockBytes - kRpcHeaderBytes) / 2;

inline constexpr std::uint32_t kRpcNoResult = 1;
inline constexpr std::uint32_t kRpcResult = 2;
inline constexpr std::uint32_t kRpcArgumentAndResult = 3;

struct RpcCall {
  std::uint32_t size = kRpcHeaderBytes;  // bytes of the request
  std::uint32_t id = 0;
  std::uint32_t kind = kRpcResult;
  std::u16string argument;  // kind 3 only
};

struct RpcAnswer {
  // The window answered the message: its reply value (1 when the program
  // handled the call).
  LRESULT handled = 0;
  std::uint32_t result = 0;
  std::u16string reply;  // kind 3: the text at offset 16
  // The size word as the program left it: how many bytes of the answer it
  // says there are. It may say more than the block holds; no more than the
  // block was taken.
  std::uint32_t size = 0;
};

// The block mapped for as long as the object lives: made when create is
// true (or opened when another process made it), else only opened. view()
// is null when the section could not be had.
class RpcBlockView {
 public:
  explicit RpcBlockView(bool create);
  ~RpcBlockView();
  RpcBlockView(const RpcBlockView&) = delete;
  RpcBlockView& operator=(const RpcBlockView&) = delete;
  std::uint8_t* view() { return view_; }

 private:
  HANDLE section_ = nullptr;
  std::uint8_t* view_ = nullptr;
};

// Asks window to perform call and waits at most timeoutMs for the answer.
// Nothing when the section cannot be made or the message not delivered
// (the program ended, or did not answer in time); the last error says why.
std::optional<RpcAnswer> CallThroughRpcBlock(HWND window, const RpcCall& call, DWORD timeoutMs);

// The program's side: reads the call from the block, lets handle perform it
// (returning whether it was handled, and filling result and, for kind 3,
// the reply), writes the answer back and returns what the window procedure
// returns for WM_USER (1 handled, 0 not). A missing section answers 0.
LRESULT AnswerFromRpcBlock(
    const std::function<bool(std::uint32_t id, std::uint32_t kind, const std::u16string& argument,
                             std::uint32_t* result, std::u16string* reply)>& handle);

}  // namespace tbm
