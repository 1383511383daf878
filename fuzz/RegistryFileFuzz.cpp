// Registry files as a person, another program or a damaged disk could
// leave them: reading must never crash, and whatever is read must be
// written back as a file that reads again to the same thing without a
// single problem.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "RegistryText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tbm::registry;
  std::vector<Problem> problems;
  const Tree tree =
      ParseRegistryText(std::string_view(reinterpret_cast<const char*>(data), size), problems);
  for (const Problem& problem : problems) {
    if (problem.line == 0 || problem.message.empty()) std::abort();
  }
  const std::string text = FormatRegistryText(tree, "fuzz");
  std::vector<Problem> again;
  const Tree reread = ParseRegistryText(text, again);
  if (!again.empty()) std::abort();
  if (FormatRegistryText(reread, "fuzz") != text) std::abort();
  return 0;
}
