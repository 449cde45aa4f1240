// A stand-in for the desktop box's toolkit library, found under its file name through
// LD_LIBRARY_PATH. It shows nothing: each box's title and text, each with its zero byte, are
// appended to the file BOX_RECORD names, and the box counts as shown and closed, once the file
// BOX_HOLD names exists where it is set. Its screen is 1024x768, or BOX_SCREEN_WIDTH pixels
// wide. BOX_CRASH makes the box die of SIGSEGV; BOX_FALLBACK hands it, as SDL2 does one its own
// box cannot show, to zenity on the search path, whose exit below 128 counts as shown.
// BOX_ERROR is the error the box call leaves behind.
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>

extern "C" const char* SDL_GetError() {
    const char* error = std::getenv("BOX_ERROR");
    return error != nullptr ? error : "";
}

extern "C" int SDL_ShowSimpleMessageBox(std::uint32_t, const char* title, const char* text, void*) {
    if (std::getenv("BOX_CRASH") != nullptr) {
        std::raise(SIGSEGV);
    }
    if (std::getenv("BOX_FALLBACK") != nullptr) {
        const pid_t zenity = fork();
        if (zenity == 0) {
            execlp("zenity", "zenity", "--question", "--text", text, nullptr);
            _exit(129);
        }
        int status = 0;
        return zenity > 0 && waitpid(zenity, &status, 0) == zenity && WIFEXITED(status) &&
                       WEXITSTATUS(status) < 128
                   ? 0
                   : -1;
    }
    const char* path = std::getenv("BOX_RECORD");
    std::FILE* record = path != nullptr ? std::fopen(path, "ab") : nullptr;
    if (record == nullptr) {
        return -1;
    }
    std::fwrite(title, 1, std::strlen(title) + 1, record);
    std::fwrite(text, 1, std::strlen(text) + 1, record);
    std::fclose(record);
    if (const char* hold = std::getenv("BOX_HOLD")) {
        while (access(hold, F_OK) != 0) {
            usleep(10000);
        }
    }
    return 0;
}

// The box goes only to a display that the X11 driver opens: here, any X display named.
extern "C" int SDL_VideoInit(const char*) {
    const char* display = std::getenv("DISPLAY");
    return display != nullptr && *display != '\0' ? 0 : -1;
}

struct Rect {
    int x, y, w, h;
};

extern "C" int SDL_GetDisplayBounds(int, Rect* bounds) {
    const char* width = std::getenv("BOX_SCREEN_WIDTH");
    *bounds = Rect{0, 0, width != nullptr ? std::atoi(width) : 1024, 768};
    return 0;
}
