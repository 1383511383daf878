#include "BenchMain.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <vector>

namespace tbm::bench {
namespace {

struct Pair {
  std::string system, peer;
  double target;
};

std::vector<Pair>& Pairs() {
  static std::vector<Pair> pairs;
  return pairs;
}

// Prints as the console reporter does and remembers each run's time.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) {
      if (run.run_type == Run::RT_Iteration || run.aggregate_name == "mean") {
        times_[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
  }
  std::map<std::string, double> times_;
};

}  // namespace

void ComparePair(const std::string& system, const std::string& peer, double target) {
  Pairs().push_back({system, peer, target});
}

}  // namespace tbm::bench

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  tbm::bench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  int over = 0;
  std::printf("\n%-34s %-34s %8s %8s\n", "system", "peer", "ratio", "target");
  for (const auto& p : tbm::bench::Pairs()) {
    const auto s = reporter.times_.find(p.system);
    const auto q = reporter.times_.find(p.peer);
    if (s == reporter.times_.end() || q == reporter.times_.end() || q->second <= 0) continue;
    const double ratio = s->second / q->second;
    over += ratio > p.target;
    std::printf("%-34s %-34s %7.2fx %7.2fx%s\n", p.system.c_str(), p.peer.c_str(), ratio, p.target,
                ratio > p.target ? "  OVER" : "");
  }
  benchmark::Shutdown();
  return 0;
}
