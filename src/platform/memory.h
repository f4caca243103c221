// Heap allocation for the whole program. Every allocation goes through here
// so that a test build can make the N-th one fail.
#ifndef DUSTPAIL_PLATFORM_MEMORY_H
#define DUSTPAIL_PLATFORM_MEMORY_H

#include <cstddef>

void* MemAlloc(size_t size);
void* MemRealloc(void* block, size_t size);
void MemFree(void* block);

// Fault injection: the allocation numbered `failAt` (1-based, counted from
// the call) and every one after it fails; 0 turns failures off.
void MemSetFailAt(long failAt);
// The allocation numbered `failAt` alone fails; the ones after it succeed,
// as when a large request fails but small ones still fit. 0 turns it off.
void MemSetFailOnce(long failAt);
// Allocations attempted so far, and whether an injected failure has been met.
long MemAllocCount();
bool MemFailureMet();

#endif
