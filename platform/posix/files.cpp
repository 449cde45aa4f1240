// Files: CreateFileA, ReadFile and WriteFile over descriptors.
#include "platform/posix/posix.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

// Opens an existing file for reading, the one kind of open the program makes; the access,
// sharing and creation arguments are not looked at. Non-blocking, so that a FIFO with no
// writer opens at once and reads as empty.
extern "C" HANDLE CreateFileA(LPCSTR fileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                              HANDLE) {
    const int fd = open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return INVALID_HANDLE_VALUE;
    }
    // A directory is not a file to read, as on Windows. (fstat of a descriptor just opened
    // does not fail; if it did, the zero mode would let the read that follows fail instead.)
    struct stat status {};
    fstat(fd, &status);
    if (S_ISDIR(status.st_mode)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return HandleOf(fd);
}

// Reads until the count is reached or the file ends, as a Win32 read of a file does. Input
// that is not there yet (a FIFO whose writer is silent) counts as the end. The descriptor is
// non-blocking, so a read never waits and no signal can interrupt it.
extern "C" BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                         LPOVERLAPPED) {
    char* into = static_cast<char*>(buffer);
    DWORD done = 0;
    BOOL ok = TRUE;
    while (done < bytesToRead) {
        const ssize_t got = read(FdOf(file), into + done, bytesToRead - done);
        if (got <= 0) {
            ok = got == 0 || errno == EAGAIN ? TRUE : FALSE;
            break;
        }
        done += static_cast<DWORD>(got);
    }
    *bytesRead = done;
    return ok;
}

// Writes all the bytes unless the descriptor fails; a full non-blocking pipe is waited on.
extern "C" BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
                          LPOVERLAPPED) {
    const char* from = static_cast<const char*>(buffer);
    DWORD done = 0;
    BOOL ok = TRUE;
    while (done < bytesToWrite) {
        const ssize_t put = write(FdOf(file), from + done, bytesToWrite - done);
        if (put >= 0) {
            done += static_cast<DWORD>(put);
        } else if (errno == EINTR) {
            continue;
        } else if (errno == EAGAIN) {
            pollfd ready{FdOf(file), POLLOUT, 0};
            poll(&ready, 1, -1);
        } else {
            ok = FALSE;
            break;
        }
    }
    *bytesWritten = done;
    return ok;
}
