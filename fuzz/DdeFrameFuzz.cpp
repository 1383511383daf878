// Frame bodies arriving on a DDE socket: decoding must refuse every body that
// is not exactly one well-formed message, and a message it accepts must
// encode back to the same bytes behind their length.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "WireFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> body(data, data + size);  // exact bounds for the sanitizer
  if (const auto message = tbm::dde::DecodeFrame(body)) {
    const std::vector<std::uint8_t> frame = tbm::dde::EncodeFrame(*message);
    if (frame.size() != body.size() + tbm::dde::kFrameLengthBytes ||
        !std::equal(body.begin(), body.end(), frame.begin() + tbm::dde::kFrameLengthBytes))
      std::abort();
  }
  return 0;
}
