// What a barcode reader sends down its line, and what a label buffer holds
// when its offsets come from the scanner interface. The first byte says how
// the bytes arrive in pieces. Every label taken must be one line of text
// that fits a label buffer; a label text found in a buffer must start and
// end inside it.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "LabelBuffer.h"
#include "LabelLines.h"
#include "ScnApi.h"

namespace {

void CheckLabel(const std::u16string& label) {
  if (label.empty() || label.size() > kScnMaxLabelUnits) std::abort();
  for (char16_t c : label) {
    if (c == u'\r' || c == u'\n' || c == 0) std::abort();
  }
}

void CheckBuffer(const std::uint8_t* data, std::size_t size) {
  // Aligned as the interface's buffers are.
  std::vector<std::uint32_t> words((size + 3) / 4);
  if (size > 0) std::memcpy(words.data(), data, size);
  const std::span<const BYTE> buffer(reinterpret_cast<const BYTE*>(words.data()), size);
  tbm::scan::LabelReadPending(buffer);
  const char16_t* text = tbm::scan::LabelText(buffer);
  if (text == nullptr) return;
  const BYTE* start = reinterpret_cast<const BYTE*>(text);
  if (start < buffer.data() || start >= buffer.data() + size) std::abort();
  const std::size_t units = (buffer.data() + size - start) / 2;
  bool terminated = false;
  for (std::size_t i = 0; i < units && !terminated; ++i) terminated = text[i] == 0;
  if (!terminated) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 64;
  const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  tbm::scan::LabelLines lines;
  std::vector<std::u16string> labels;
  std::vector<std::string> dropped;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    lines.Feed(bytes.substr(at, piece), labels, dropped);
  }
  for (const std::u16string& label : labels) CheckLabel(label);
  CheckBuffer(data + 1, size - 1);
  return 0;
}
