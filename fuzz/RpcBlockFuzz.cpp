// The RPC block as another process may leave it. Any process of the user
// can write the shared section, so both of its readers take it as outside
// bytes: the program reading a call (through the real section) and the
// caller reading the answer.
//
//   byte 0   the call kind the caller reads an answer to
//   byte 1-  the block's bytes (at most 4096; the rest of the block is 0)
//
// Beyond ending cleanly: the program sees an argument without NULs that
// fits the block, and the result and reply it gives are what the block
// then holds; the caller's reply fits the block and holds no NUL.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "FuzzScratch.h"
#include "RpcBlock.h"
#include "RpcBlockReply.h"
#include "SharedMemory.h"

namespace {

using namespace tbm;

std::uint32_t Load(const std::uint8_t* at) {
  return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

// A machine of this process's own, so that no other program's block is met.
// REQUIRES: called before the first section call.
void OwnMachine() {
  static const bool set = [] {
    ::setenv("TBM_DEVICE_ROOT", tbm::fuzz::ScratchFolder("tbm-rpc-block-fuzz-").c_str(), 1);
    return true;
  }();
  (void)set;
}

bool HasNul(const std::u16string& text) { return text.find(u'\0') != std::u16string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  OwnMachine();
  const std::uint32_t callerKind = size > 0 ? data[0] % 4 : 0;
  std::uint8_t image[kRpcBlockBytes] = {};
  if (size > 1) std::memcpy(image, data + 1, std::min<std::size_t>(size - 1, kRpcBlockBytes));

  // The caller's side.
  const RpcAnswer answer = ReadRpcAnswer(image, callerKind, 1);
  if (answer.reply.size() > kRpcTextUnits || HasNul(answer.reply)) std::abort();
  if (Load(image) < 16 && answer.result != 0) std::abort();

  // The program's side, through the section, which lives as long as the
  // process (and goes with it, so that no leftover stays in the host).
  static RpcBlockView block(true);
  std::uint8_t* const view = block.view();
  if (view == nullptr) std::abort();
  std::memcpy(view, image, kRpcBlockBytes);
  const std::uint32_t kind = Load(image + 8);
  std::u16string given;
  const LRESULT handled =
      AnswerFromRpcBlock([&](std::uint32_t id, std::uint32_t, const std::u16string& argument,
                             std::uint32_t* result, std::u16string* reply) {
        if (argument.size() > kRpcTextUnits || HasNul(argument)) std::abort();
        given = argument;
        *result = id ^ 0x5A5A5A5A;
        *reply = argument + u"!";
        return true;
      });
  if (handled != 1) std::abort();
  if ((kind == kRpcResult || kind == kRpcArgumentAndResult) &&
      Load(view + 12) != (Load(image + 4) ^ 0x5A5A5A5A)) {
    std::abort();
  }
  if (kind == kRpcArgumentAndResult) {
    const std::u16string expected = (given + u"!").substr(0, kRpcTextUnits - 1);
    for (std::size_t u = 0; u <= expected.size(); ++u) {
      const char16_t unit = static_cast<char16_t>(view[16 + 2 * u] | (view[17 + 2 * u] << 8));
      if (unit != (u < expected.size() ? expected[u] : 0)) std::abort();
    }
  }
  return 0;
}
