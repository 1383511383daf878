// The benchmarks' shared main: runs every benchmark, then prints, for each
// pair registered with ComparePair, the system's time over its peer's.
#pragma once

#include <string>

namespace tbm::bench {

// Declares that benchmark `system` is measured against benchmark `peer`,
// with the highest ratio the project accepts.
void ComparePair(const std::string& system, const std::string& peer, double target);

}  // namespace tbm::bench
