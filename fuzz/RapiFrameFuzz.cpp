// Bytes arriving on a remote API connection: the frame reader must refuse
// every frame that is cut or announces more than it has, and a frame it
// accepts must write back to the same bytes. The payload is then read as a
// string, a byte block and integers, as the calls read their arguments, and
// as the property values, database descriptions and listing entries the
// database-volume and file calls carry.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "RapiDb.h"
#include "RapiFindEntry.h"
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

  tbm::rapi::PayloadReader values(frame.payload);
  std::uint16_t count = 0;
  std::vector<tbm::rapi::PropertyValue> read;
  if (values.U16(&count) && tbm::rapi::ReadPropertyValues(values, count, &read).ok()) {
    std::vector<BYTE> buffer(tbm::rapi::ReadBufferBytes(read) + 1);
    tbm::rapi::FillReadBuffer(read, buffer.data());
    tbm::rapi::AsPropVals(read);
  }
  tbm::rapi::PayloadReader description(frame.payload);
  CEDBASEINFO info{};
  tbm::rapi::ReadDatabaseInfo(description, &info);
  tbm::rapi::PayloadReader listing(frame.payload);
  tbm::rapi::FindEntry entry;
  tbm::rapi::ReadFindEntry(listing, &entry);
  return 0;
}
