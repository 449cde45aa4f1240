// SDL2's simple message box, where GTK is missing or cannot open the display. Its box goes
// only to an X display that its X11 driver has opened. A box that SDL2 cannot show itself,
// there or on another display (its display gone, its own box process crashed), it hands to
// the zenity command, whose exit it takes as a box shown even when zenity could not show one,
// so that the value would be lost: the box's process leaves SDL2 no command to run, and
// counts only a box that SDL2 drew.
#include "platform/posix/box_text.h"
#include "platform/posix/toolkit_box.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr char SdlLibrary[] = "libSDL2-2.0.so.0";
constexpr std::uint32_t NoIcon = 0; // a box with MB_OK alone has no icon
constexpr char SdlX11Driver[] = "x11";
// SDL2's X11 box neither wraps nor scrolls, and is as wide as its longest line and as tall as
// its lines. Its text is broken into lines that fit the screen on these measures, which are
// wide of its font at 96 dpi; an ASCII character on a bare X server takes 7 pixels, a line
// 15, and the box 30 pixels beside the text and 85 above and below it.
constexpr int SdlColumnWidth = 10; // pixels per column, two for a wide character
constexpr int SdlLineHeight = 20;
constexpr int SdlBoxSides = 64;
constexpr int SdlBoxChrome = 120;
constexpr int SdlMostColumns = 80;     // a line that the eye still follows
constexpr char SdlCutMark[] = "\n..."; // the last line of a box that shows the text's start
// A command search path that names no folder, so that no command is found on it (an empty
// one would name the current folder).
constexpr char NoCommandPath[] = "/dev/null";

struct SdlRect {
    int x, y, w, h;
};

// clang-format off
#define SDL_ENTRIES(NEEDED)                                                                        \
    /* 0 once the driver has opened its display */                                                 \
    NEEDED(videoInit, SDL_VideoInit, int, (const char* driver))                                    \
    /* 0 once the box has been closed */                                                           \
    NEEDED(showBox, SDL_ShowSimpleMessageBox, int,                                                 \
           (std::uint32_t flags, const char* title, const char* message, void* window))            \
    /* 0 once the bounds are set */                                                                \
    NEEDED(displayBounds, SDL_GetDisplayBounds, int, (int display, SdlRect* bounds))               \
    /* empty after a box unless a way to show it failed */                                         \
    NEEDED(getError, SDL_GetError, const char*, ())
// clang-format on

struct SdlEntries {
    SDL_ENTRIES(DECLARE_ENTRY)
};

SdlEntries Sdl;

// Loads SDL2 and opens the X display with it.
bool PrepareSdl() {
    void* library = dlopen(SdlLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return false;
    }
    int missing = 0;
#define FIND_NEEDED(field, name, result, parameters)                                               \
    missing += FindEntry(library, #name, Sdl.field);
    SDL_ENTRIES(FIND_NEEDED)
#undef FIND_NEEDED
    return missing == 0 && Sdl.videoInit(SdlX11Driver) == 0;
}

} // namespace

BoxOutcome ShowSdlBox(const char* text) {
    SdlRect screen{};
    if (!PrepareSdl() || Sdl.displayBounds(0, &screen) != 0) {
        return BoxNotShown;
    }
    int columns = (screen.w - SdlBoxSides) / SdlColumnWidth;
    columns = columns > SdlMostColumns ? SdlMostColumns : columns < 2 ? 2 : columns;
    int rows = (screen.h - SdlBoxChrome) / SdlLineHeight;
    rows = rows < 2 ? 2 : rows;
    char* lines = static_cast<char*>(std::malloc(std::strlen(text) * 2 + sizeof SdlCutMark));
    if (lines == nullptr) {
        return BoxNotShown;
    }
    const auto width = static_cast<std::uint32_t>(columns);
    const auto height = static_cast<std::uint32_t>(rows);
    // A text with more lines than fit shows as many as fit but one, then a mark that more
    // follows.
    const bool whole = BreakIntoLines(text, width, height, lines);
    if (!whole) {
        BreakIntoLines(text, width, height - 1, lines);
        std::strcat(lines, SdlCutMark);
    }
    // SDL2 runs its fallback command from the search path, as execvp does: on this one it
    // finds none, and reports the box unshown. SDL2 clears its error as the box starts; an
    // error left behind a box reported shown means that its own way failed first and
    // something else took the box over.
    setenv("PATH", NoCommandPath, 1);
    const bool shown =
        Sdl.showBox(NoIcon, BoxCaption, lines, nullptr) == 0 && *Sdl.getError() == '\0';
    std::free(lines);
    return !shown ? BoxNotShown : whole ? BoxClosed : BoxClosedInPart;
}
