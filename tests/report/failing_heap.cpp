// A process heap that has nothing to give, for a build of the program that shows what the run
// does when no dump block can be had. Linked ahead of the platform library, so its heap
// calls take the place of the usual ones.
#include "platform/platform.h"

extern "C" HANDLE GetProcessHeap() {
    return nullptr;
}

extern "C" LPVOID HeapAlloc(HANDLE, DWORD, SIZE_T) {
    return nullptr;
}

extern "C" BOOL HeapFree(HANDLE, DWORD, LPVOID) {
    return FALSE;
}
