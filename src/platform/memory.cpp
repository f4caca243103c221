#include "platform/memory.h"

#include <cstdlib>

namespace {
long sAllocCount = 0;
long sFailAt = 0;
bool sFailOnce = false;
bool sFailureMet = false;

bool AllocationShouldFail() {
    ++sAllocCount;
    if (sFailAt > 0 && (sFailOnce ? sAllocCount == sFailAt : sAllocCount >= sFailAt)) {
        sFailureMet = true;
        return true;
    }
    return false;
}
}  // namespace

void* MemAlloc(size_t size) {
    if (AllocationShouldFail()) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

void* MemRealloc(void* block, size_t size) {
    if (AllocationShouldFail()) return nullptr;
    return std::realloc(block, size == 0 ? 1 : size);
}

void MemFree(void* block) { std::free(block); }

void MemSetFailAt(long failAt) {
    sFailAt = failAt;
    sFailOnce = false;
    sAllocCount = 0;
    sFailureMet = false;
}

void MemSetFailOnce(long failAt) {
    MemSetFailAt(failAt);
    sFailOnce = true;
}

long MemAllocCount() { return sAllocCount; }
bool MemFailureMet() { return sFailureMet; }
