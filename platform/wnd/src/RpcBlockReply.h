// The caller's reading of the RPC block after the program answered: the
// block is written by another process, so its size word is not trusted.
#pragma once

#include <cstdint>

#include "RpcBlock.h"

namespace tbm {

// Reads the answer to a call of kind from block (kRpcBlockBytes bytes, as
// the program left them): takes as many bytes as the size word says, never
// more than the block, then the result word (0 when the size leaves it
// out) and, for kind 3, the text at offset 16 up to its terminator or the
// end of what was taken. handled is the window's reply to WM_USER.
RpcAnswer ReadRpcAnswer(const std::uint8_t* block, std::uint32_t kind, LRESULT handled);

}  // namespace tbm
