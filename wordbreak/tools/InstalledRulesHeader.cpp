// Run by the build once it has compiled the word-break rules: writes the
// header that tells the library the size and digest of the rules it is
// installed with.
//   tbm_installed_rules_header <compiled rules> <header to write>
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "RulesDigest.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s RULES HEADER\n", argv[0]);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::vector<std::uint8_t> rules((std::istreambuf_iterator<char>(in)), {});
  if (!in || rules.empty()) {
    std::fprintf(stderr, "%s: cannot read the compiled rules\n", argv[1]);
    return 1;
  }
  std::FILE* out = std::fopen(argv[2], "w");
  if (out == nullptr) {
    std::perror(argv[2]);
    return 1;
  }
  std::fprintf(out,
               "// Written by the build from the compiled word-break rules; do not edit.\n"
               "#pragma once\n#include <cstddef>\n#include <cstdint>\n"
               "namespace tbm::wordbreak {\n"
               "inline constexpr std::size_t kInstalledRulesBytes = %zu;\n"
               "inline constexpr std::uint64_t kInstalledRulesDigest = 0x%016" PRIx64
               "ULL;\n"
               "}  // namespace tbm::wordbreak\n",
               rules.size(), tbm::wordbreak::RulesDigest(rules));
  return std::fclose(out) == 0 ? 0 : 1;
}
