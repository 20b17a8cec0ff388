// Counts the heap allocations that any thread of the test process makes while
// counting is on. Linked only into the allocation test's own executable,
// which it changes for the whole process (see allocation_counter.cpp).
#pragma once

#include <cstddef>

namespace testing_support {

// Prepares the counter for allocations made by the code of the module loaded
// from `path` (Windows: by patching its imports; elsewhere every module is
// counted already, and this does nothing). Returns false when the module is
// not loaded.
bool CountAllocationsOf(const char* path);

// Opens the counting window: allocations from now on are counted, on every
// thread, until StopCountingAllocations, which returns their number. Neither
// allocates.
void StartCountingAllocations();
std::size_t StopCountingAllocations();

// What this build's counter sees, for the test's messages.
const char* AllocationsSeen();

}  // namespace testing_support
