#include "CommandOutcome.h"

#include <cstdio>

#include "TextTable.h"

namespace tbm::tools {

int ReportOutcome(const char* program, const Status& status) {
  if (!status.ok()) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", program, EscapeControls(status.message()).c_str());
    return 1;
  }
  if (std::fflush(stdout) != 0) {
    std::fprintf(stderr, "%s: standard output could not be written\n", program);
    return 1;
  }
  return 0;
}

}  // namespace tbm::tools
