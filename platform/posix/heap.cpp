// Heap: the process heap is the C heap. The program asks for blocks of at least one byte and
// no flags, so a block is plain malloc, and goes back with free.
#include "platform/posix/posix.h"

#include <cstdlib>

namespace {
char ProcessHeap; // only its address is used, as the heap's handle
}

extern "C" HANDLE GetProcessHeap() {
    return &ProcessHeap;
}

extern "C" LPVOID HeapAlloc(HANDLE, DWORD, SIZE_T bytes) {
    return std::malloc(bytes);
}

extern "C" BOOL HeapFree(HANDLE, DWORD, LPVOID block) {
    std::free(block);
    return TRUE;
}
