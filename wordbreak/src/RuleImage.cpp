#include "RuleImage.h"

#include <cstdint>
#include <cstring>
#include <fstream>
#include <span>
#include <vector>

#include "IcuDataHeader.h"
#include "InstalledRules.h"
#include "RulesDigest.h"

namespace tbm::wordbreak {

namespace {

// The data format of compiled break rules.
constexpr char kBreakRulesFormat[] = "Brk ";

// The compiled rules after the header open with their own signature and
// format version (which must be the header's). ICU checks both as well, but
// ICU 72 loses a little memory each time it refuses rules on these grounds,
// so they are checked here first.
constexpr std::uint32_t kRulesSignature = 0xb1a0;
constexpr std::size_t kRulesSignatureOffset = 0;
constexpr std::size_t kRulesFormatVersionOffset = 4;
constexpr std::size_t kRulesOpeningSize = 8;

bool OpensLikeCompiledRules(std::span<const std::uint8_t> rules, const IcuDataHeader& header) {
  if (rules.size() < kRulesOpeningSize) return false;
  std::uint32_t signature = 0;
  std::memcpy(&signature, rules.data() + kRulesSignatureOffset, sizeof signature);
  return signature == kRulesSignature &&
         std::memcmp(rules.data() + kRulesFormatVersionOffset, header.formatVersion.data(),
                     header.formatVersion.size()) == 0;
}

// Rule files are a few tens of kilobytes; anything far larger is not ours.
constexpr std::size_t kLargestRuleFile = 16 * 1024 * 1024;

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::vector<std::uint8_t> bytes;
  char chunk[16 * 1024];
  while (file.read(chunk, sizeof chunk) || file.gcount() > 0) {
    bytes.insert(bytes.end(), chunk, chunk + file.gcount());
    if (bytes.size() > kLargestRuleFile) return std::nullopt;
  }
  if (file.bad()) return std::nullopt;
  return bytes;
}

}  // namespace

std::optional<RuleImage> ReadRuleImage(const std::string& path) {
  const std::optional<std::vector<std::uint8_t>> file = ReadWholeFile(path);
  if (!file) return std::nullopt;
  const std::optional<IcuDataHeader> header = ReadIcuDataHeader(*file);
  if (!header || !IsNativeIcuData(*header) || !HasDataFormat(*header, kBreakRulesFormat) ||
      !OpensLikeCompiledRules(std::span(*file).subspan(header->headerSize), *header)) {
    return std::nullopt;
  }
  // ICU trusts the tables inside the rules; only the rules this library was
  // built with are handed to it.
  if (file->size() != kInstalledRulesBytes || RulesDigest(*file) != kInstalledRulesDigest) {
    return std::nullopt;
  }
  // malloc's blocks are aligned for any type, which covers the 4-byte
  // alignment ICU checks; the header size need not keep that alignment in
  // the file, so the rules are copied rather than pointed into.
  RuleImage image;
  image.size = file->size() - header->headerSize;
  image.bytes.reset(std::malloc(image.size));
  if (!image.bytes) return std::nullopt;
  std::memcpy(image.bytes.get(), file->data() + header->headerSize, image.size);
  return image;
}

}  // namespace tbm::wordbreak
