// A fault-injection point for tests of what survives a process killed in
// the middle of its work. With TBM_STORE_FAULT set to "kill-after-flush:N"
// or "kill-after-write:N" in its environment, a process kills itself
// (SIGKILL, as a crash or a power cut would stop it) right after its Nth
// successful flush, or its Nth successful write call. Without the variable
// the points cost one branch.
#pragma once

namespace tbm::store {

enum class Fault { kAfterWrite, kAfterFlush };

void FaultPoint(Fault point);

}  // namespace tbm::store
