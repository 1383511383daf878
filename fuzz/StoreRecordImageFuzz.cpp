// Record images as they come out of a volume file: decoding must reject
// every damaged image without reading past it, and an image it accepts must
// encode back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "RecordImage.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> image(data, data + size);  // exact bounds for the sanitizer
  const auto props = tbm::store::DecodeRecordImage(image);
  if (!props) return 0;
  std::vector<tbm::store::PropertyBytes> copy;
  for (const auto& p : *props) copy.push_back({p.id, {p.value.begin(), p.value.end()}});
  if (tbm::store::EncodeRecordImage(copy) != image) std::abort();
  return 0;
}
