// What the box's process (desktop_box.cpp) and the toolkits' boxes (gtk_box.cpp,
// sdl_box.cpp) share: how a box ends, and how a toolkit's entry points are found.
//
// Each library is opened with dlopen in the box's process rather than linked, so that a run
// without a display, or on a machine without either library, loads no toolkit at all and
// starts as fast as a plain console program. The few entry points used have kept their
// signatures across GTK 3 and SDL2, so they are declared here instead of taken from the
// libraries' headers, and the program builds where those are not installed.
#pragma once

#include <dlfcn.h>

// How the box's process ends: its exit code. Only BoxClosed, which the process's own code
// alone gives, counts as a box seen through; every other end, a signal included, leaves the
// value to standard error. The codes are clear of those that the C library, a shell or a
// toolkit's own exit give.
enum BoxOutcome : int {
    BoxClosed = 64,       // the box showed the whole text and the user closed it
    BoxClosedInPart = 65, // the box showed the text's start only, then was closed
    BoxNotShown = 66,     // no toolkit could show it
    BoxLeftByExit = 67,   // something in the process called exit, as on a lost display
};

// What Windows shows for a box without a caption.
constexpr char BoxCaption[] = "Error";

// Each shows the UTF-8 text in the toolkit's box, in the box's process, and returns once the
// box is closed: BoxNotShown where the toolkit is missing or cannot open the display.
BoxOutcome ShowGtkBox(const char* text);
BoxOutcome ShowSdlBox(const char* text);

// A toolkit's entry points are listed once, one ENTRY(field, name, result, parameters) each,
// in a macro that takes ENTRY: expanded with DECLARE_ENTRY, the list gives the table of
// pointers, and expanded with a macro that calls FindEntry, their look-ups, so that an
// entry's name and its type cannot drift apart.
#define DECLARE_ENTRY(field, name, result, parameters) result(*field) parameters;

// Sets entry to the library's procedure of that name; 1 when there is none, else 0.
template <typename Procedure> int FindEntry(void* library, const char* name, Procedure& entry) {
    entry = reinterpret_cast<Procedure>(dlsym(library, name));
    return static_cast<int>(entry == nullptr);
}
