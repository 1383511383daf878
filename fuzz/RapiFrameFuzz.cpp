// Bytes arriving on a remote API connection: the frame reader must refuse
// every frame that is cut or announces more than it has, and a frame it
// accepts must write back to the same bytes. The payload is then read as a
// string, a byte block and integers, as the calls read their arguments.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "RapiFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);  // exact bounds for the sanitizer
  tbm::rapi::Frame frame;
  std::size_t used = 0;
  if (!tbm::rapi::ParseFrame(bytes, &frame, &used).ok()) return 0;
  const std::vector<std::uint8_t> again =
      tbm::rapi::WriteFrame(frame.header.call, frame.header.requestId, frame.payload);
  if (used > bytes.size() || again.size() != used ||
      !std::equal(again.begin(), again.end(), bytes.begin()))
    std::abort();
  tbm::rapi::PayloadReader reader(frame.payload);
  std::u16string text;
  std::vector<std::uint8_t> block;
  std::uint32_t number = 0;
  std::uint64_t wide = 0;
  reader.String(&text) && reader.Bytes(&block) && reader.U32(&number) && reader.U64(&wide);
  reader.End();
  return 0;
}
