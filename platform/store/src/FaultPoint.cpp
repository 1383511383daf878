#include "FaultPoint.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace tbm::store {
namespace {

struct Plan {
  Fault point = Fault::kAfterFlush;
  long after = 0;  // 0: never
};

Plan ReadPlan() {
  Plan plan;
  const char* text = std::getenv("TBM_STORE_FAULT");
  if (text == nullptr) return plan;
  const char* number = nullptr;
  if (std::strncmp(text, "kill-after-flush:", 17) == 0) {
    plan.point = Fault::kAfterFlush;
    number = text + 17;
  } else if (std::strncmp(text, "kill-after-write:", 17) == 0) {
    plan.point = Fault::kAfterWrite;
    number = text + 17;
  } else {
    return plan;
  }
  plan.after = std::strtol(number, nullptr, 10);
  return plan;
}

}  // namespace

void FaultPoint(Fault point) {
  static const Plan plan = ReadPlan();
  static std::atomic<long> reached{0};
  if (plan.after <= 0 || point != plan.point) return;
  if (++reached == plan.after) ::kill(::getpid(), SIGKILL);
}

}  // namespace tbm::store
