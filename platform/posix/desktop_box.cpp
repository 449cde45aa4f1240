// The desktop box: SDL2's simple message box, loaded only when a box is to be shown.
//
// The library is opened with dlopen at the first box rather than linked, so that a run
// without a display, or on a machine without SDL2, loads no toolkit at all and starts as
// fast as a plain console program. The one entry point used has kept its signature across
// all of SDL2, so it is declared here instead of taken from SDL's headers, and the program
// builds where they are not installed.
#include "platform/posix/desktop_box.h"

#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

namespace {

constexpr char ToolkitLibrary[] = "libSDL2-2.0.so.0";
constexpr char ShowBoxName[] = "SDL_ShowSimpleMessageBox";
constexpr std::uint32_t NoIcon = 0; // a box with MB_OK alone has no icon
constexpr char Caption[] = "Error"; // what Windows shows for a box without a caption

// SDL_ShowSimpleMessageBox (flags, title, message, parent window): 0 once the box has been
// closed, negative when it could not be shown.
using ShowBoxProc = int (*)(std::uint32_t flags, const char* title, const char* message,
                            void* window);

bool LoadTried;
ShowBoxProc ShowBox;

// An X server or a Wayland compositor to talk to, as the toolkit itself finds them.
bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// The toolkit's box procedure, or none; the library is looked for once per process.
ShowBoxProc LoadShowBox() {
    if (!LoadTried) {
        LoadTried = true;
        void* library = dlopen(ToolkitLibrary, RTLD_NOW | RTLD_LOCAL);
        if (library != nullptr) {
            ShowBox = reinterpret_cast<ShowBoxProc>(dlsym(library, ShowBoxName));
        }
    }
    return ShowBox;
}

} // namespace

bool ShowDesktopBox(const char* text) {
    if (!HasDisplay()) {
        return false;
    }
    const ShowBoxProc showBox = LoadShowBox();
    if (showBox == nullptr) {
        return false;
    }
    // Text that is valid UTF-8 already, as a Linux user's files are, goes to the box as it is.
    if (IsValidUtf8(text)) {
        return showBox(NoIcon, Caption, text, nullptr) == 0;
    }
    // Any other text is read as Windows-1252, so that every byte still shows.
    char* utf8 = static_cast<char*>(std::malloc(std::strlen(text) * 3 + 1));
    if (utf8 == nullptr) {
        return false;
    }
    ConvertAnsiToUtf8(text, utf8);
    const bool shown = showBox(NoIcon, Caption, utf8, nullptr) == 0;
    std::free(utf8);
    return shown;
}
