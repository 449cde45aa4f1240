// Strings: lstrcpyA.
#include "platform/posix/posix.h"

extern "C" LPSTR lstrcpyA(LPSTR destination, LPCSTR source) {
    char* to = destination;
    while ((*to++ = *source++) != '\0') {
    }
    return destination;
}
