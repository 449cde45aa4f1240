// Files: CreateFileA, ReadFile and WriteFile over descriptors.
#include "platform/posix/posix.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int OpenFlags(DWORD desiredAccess, DWORD creationDisposition) {
    const bool read = (desiredAccess & GENERIC_READ) != 0;
    const bool write = (desiredAccess & GENERIC_WRITE) != 0;
    int flags = read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    switch (creationDisposition) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT | O_TRUNC;
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        flags |= O_TRUNC;
        break;
    default: // OPEN_EXISTING
        break;
    }
    return flags;
}

} // namespace

extern "C" HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES,
                              DWORD creationDisposition, DWORD, HANDLE) {
    // Non-blocking, so that a FIFO with no writer opens at once and reads as empty.
    const int fd = open(
        fileName, OpenFlags(desiredAccess, creationDisposition) | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        return INVALID_HANDLE_VALUE;
    }
    // A directory is not a file to read, as on Windows.
    struct stat status;
    if (fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        close(fd);
        return INVALID_HANDLE_VALUE;
    }
    return HandleOf(fd);
}

// Reads until the count is reached or the file ends, as a Win32 read of a file does. Input
// that is not there yet (a FIFO whose writer is silent) counts as the end.
extern "C" BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
                         LPOVERLAPPED) {
    char* into = static_cast<char*>(buffer);
    DWORD done = 0;
    BOOL ok = TRUE;
    while (done < bytesToRead) {
        const ssize_t got = read(FdOf(file), into + done, bytesToRead - done);
        if (got > 0) {
            done += static_cast<DWORD>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            ok = got == 0 || errno == EAGAIN ? TRUE : FALSE;
            break;
        }
    }
    if (bytesRead != nullptr) {
        *bytesRead = done;
    }
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
    if (bytesWritten != nullptr) {
        *bytesWritten = done;
    }
    return ok;
}
