// Running out of memory on purpose. A test program that links
// FailingAllocation.cpp has its operator new replaced (for every library it
// loads): once armed, one chosen allocation made by code of chosen
// libraries throws std::bad_alloc, as it would when memory runs out, and
// every other allocation is served as usual.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace tbm::engine::testing {

// Makes the nth allocation from now on (1 the next one) made by code of the
// libraries holding `inLibraries` (any function of each) throw. Allocations
// made by other libraries, those the chosen ones call included, are not
// counted. At most four libraries.
void FailAllocation(std::uint64_t n, std::initializer_list<const void*> inLibraries);

// Disarms the failure; true when the chosen allocation was reached (and
// failed).
bool StopFailingAllocations();

}  // namespace tbm::engine::testing
