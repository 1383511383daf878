#include "RulesDigest.h"

namespace tbm::wordbreak {

std::uint64_t RulesDigest(std::span<const std::uint8_t> bytes) {
  constexpr std::uint64_t kOffsetBasis = 0xcbf29ce484222325ULL;
  constexpr std::uint64_t kPrime = 0x100000001b3ULL;
  std::uint64_t digest = kOffsetBasis;
  for (const std::uint8_t byte : bytes) {
    digest ^= byte;
    digest *= kPrime;
  }
  return digest;
}

}  // namespace tbm::wordbreak
