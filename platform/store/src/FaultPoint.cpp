#include "FaultPoint.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string_view>

namespace tbm::store {
namespace {

struct Plan {
  Fault point = Fault::kAfterFlush;
  int signal = 0;  // 0: no fault planned
  long after = 0;
};

Plan ReadPlan() {
  Plan plan;
  const char* value = std::getenv("TBM_STORE_FAULT");
  if (value == nullptr) return plan;
  std::string_view text(value);
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return plan;
  const std::string_view what = text.substr(0, colon);
  if (what == "kill-after-flush" || what == "stop-after-flush") {
    plan.point = Fault::kAfterFlush;
  } else if (what == "kill-after-write" || what == "stop-after-write") {
    plan.point = Fault::kAfterWrite;
  } else {
    return plan;
  }
  plan.signal = what.starts_with("kill") ? SIGKILL : SIGSTOP;
  plan.after = std::strtol(value + colon + 1, nullptr, 10);
  return plan;
}

}  // namespace

void FaultPoint(Fault point) {
  static const Plan plan = ReadPlan();
  static std::atomic<long> reached{0};
  if (plan.signal == 0 || plan.after <= 0 || point != plan.point) return;
  if (++reached == plan.after) ::kill(::getpid(), plan.signal);
}

}  // namespace tbm::store
