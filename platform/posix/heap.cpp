// Heap: the process heap is the C heap.
#include "platform/posix/posix.h"

#include <cstdlib>

namespace {
char ProcessHeap; // only its address is used, as the heap's handle
}

extern "C" HANDLE GetProcessHeap() {
    return &ProcessHeap;
}

extern "C" LPVOID HeapAlloc(HANDLE, DWORD flags, SIZE_T bytes) {
    // A zero-byte request still gets a block of its own, as on Windows.
    const SIZE_T size = bytes != 0 ? bytes : 1;
    return (flags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, size) : std::malloc(size);
}
