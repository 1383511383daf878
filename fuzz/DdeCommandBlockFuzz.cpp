// The DDE command and reply blocks as the desktop plug-in receives
// commands and the desktop sync provider receives replies: any bytes.
//
// Beyond ending cleanly: a block that reads has a type 1 to 9, as many
// strings as its kind carries, each within the block and without a zero
// byte; built again it reads back to the same command, within the
// 520-byte buffer; and a reply reads only from a block of type 1.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "DdeCommandBlock.h"

using namespace tbm::sync;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  DdeCommand command;
  const bool read = ReadDdeBlock(bytes, &command).ok();
  std::int32_t number = 0;
  const bool reply = ReadDdeReply(bytes, &number).ok();
  if (reply != (read && command.type == 1)) std::abort();
  if (!read) return 0;

  if (command.type < 1 || command.type > 9) std::abort();
  const DdeArgumentKind kind = DdeArgumentKindOf(command.type);
  const std::size_t strings = kind == DdeArgumentKind::kTwoStrings  ? 2
                              : kind == DdeArgumentKind::kOneString ? 1
                                                                    : 0;
  if (command.strings.size() != strings) std::abort();
  std::size_t carried = 2 + 1;
  for (const std::string& text : command.strings) {
    if (text.size() > kMaxDdeStringBytes || text.find('\0') != std::string::npos) std::abort();
    carried += 1 + text.size();
  }
  if (carried > size) std::abort();
  if (reply && number != command.number) std::abort();

  DdeBlock block;
  if (!BuildDdeBlock(command, &block).ok() || block.size > kDdeBlockBytes) std::abort();
  DdeCommand again;
  if (!ReadDdeBlock(block.bytes(), &again).ok() || again.type != command.type ||
      again.strings != command.strings || again.number != command.number) {
    std::abort();
  }
  return 0;
}
