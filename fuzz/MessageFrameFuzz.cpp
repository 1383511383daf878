// Bytes arriving on a window's socket, and answers coming back: decoding
// must refuse every frame that is not exactly one well-formed frame, and a
// frame it accepts must encode back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "MessageFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);  // exact bounds for the sanitizer
  if (const auto request = tbm::wnd::DecodeRequest(bytes)) {
    const auto again = tbm::wnd::EncodeRequest(*request);
    if (!std::equal(again.begin(), again.end(), bytes.begin(), bytes.end())) std::abort();
  }
  if (const auto reply = tbm::wnd::DecodeReply(bytes)) {
    const auto again = tbm::wnd::EncodeReply(*reply);
    if (!std::equal(again.begin(), again.end(), bytes.begin(), bytes.end())) std::abort();
  }
  return 0;
}
