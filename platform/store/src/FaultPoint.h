// A fault-injection point for tests of what survives a process killed or
// stopped in the middle of its work. With TBM_STORE_FAULT set to
// "ACTION-after-POINT:N" in its environment, where ACTION is kill (SIGKILL,
// as a crash or a power cut stops a process) or stop (SIGSTOP, as Ctrl-Z
// leaves it) and POINT is flush or write, a process does that to itself
// right after its Nth successful flush, or its Nth successful write call.
// Without the variable a point costs one branch.
#pragma once

namespace tbm::store {

enum class Fault { kAfterWrite, kAfterFlush };

void FaultPoint(Fault point);

}  // namespace tbm::store
