// The desktop box: GTK 3's message dialog, the desktop's own, or where GTK is missing or
// cannot open the display, SDL2's simple message box on an X display.
//
// Each library is opened with dlopen at the first box rather than linked, so that a run
// without a display, or on a machine without either library, loads no toolkit at all and
// starts as fast as a plain console program. The few entry points used have kept their
// signatures across GTK 3 and SDL2, so they are declared here instead of taken from the
// libraries' headers, and the program builds where those are not installed.
//
// While a toolkit runs, standard error points at /dev/null: the toolkits, and any command
// they start, write their diagnostics there, and standard error is where the values go when
// no box can be shown.
#include "platform/posix/desktop_box.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr char Caption[] = "Error"; // what Windows shows for a box without a caption

// A library that is looked for once per process, and whether its box can be shown.
enum Toolkit : std::uint8_t { ToolkitUntried, ToolkitReady, ToolkitUnusable };

// GTK 3. The dialog is modal, has no icon (the "other" message type) and one OK button, which
// Return presses; Escape and the window's close button close it too.
constexpr char GtkLibrary[] = "libgtk-3.so.0";
constexpr int DialogModal = 1;      // GTK_DIALOG_MODAL
constexpr int MessageOther = 4;     // GTK_MESSAGE_OTHER
constexpr int ButtonsOk = 1;        // GTK_BUTTONS_OK
constexpr int ResponseOk = -5;      // GTK_RESPONSE_OK
constexpr char TextFormat[] = "%s"; // the text as it is, '%' included

struct GtkEntries {
    void (*setProgramName)(const char* name); // g_set_prgname, from GLib, which GTK loads
    int (*initCheck)(int* argc, char*** argv);
    void* (*newMessageDialog)(void* parent, int flags, int type, int buttons, const char* format,
                              ...);
    void (*setTitle)(void* window, const char* title);
    void (*setDefaultResponse)(void* dialog, int response);
    int (*runDialog)(void* dialog);
    void (*destroyWidget)(void* widget);
    int (*eventsPending)();
    int (*mainIteration)();
};

// SDL2. Its box goes only to an X display that its X11 driver has opened: elsewhere SDL2
// hands the box to the zenity command, and takes zenity's exit as a box shown even when
// zenity could not show one, so that the value would be lost.
constexpr char SdlLibrary[] = "libSDL2-2.0.so.0";
constexpr std::uint32_t NoIcon = 0; // a box with MB_OK alone has no icon
constexpr char SdlX11Driver[] = "x11";

struct SdlEntries {
    int (*videoInit)(const char* driver); // 0 once the driver has opened its display
    // (flags, title, message, parent window): 0 once the box has been closed.
    int (*showBox)(std::uint32_t flags, const char* title, const char* message, void* window);
};

Toolkit GtkState;
GtkEntries Gtk;
Toolkit SdlState;
SdlEntries Sdl;

// An X server or a Wayland compositor to talk to, as the toolkits themselves find them.
bool HasDisplay() {
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

// Sets entry to the library's procedure of that name; 1 when there is none, else 0.
template <typename Procedure> int FindEntry(void* library, const char* name, Procedure& entry) {
    entry = reinterpret_cast<Procedure>(dlsym(library, name));
    return static_cast<int>(entry == nullptr);
}

// Loads GTK and connects it to the display, at the first box. Every entry point is looked up,
// so that a library that lacks any of them is turned down the same way.
bool PrepareGtk() {
    void* library = dlopen(GtkLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return false;
    }
    const int missing =
        FindEntry(library, "g_set_prgname", Gtk.setProgramName) +
        FindEntry(library, "gtk_init_check", Gtk.initCheck) +
        FindEntry(library, "gtk_message_dialog_new", Gtk.newMessageDialog) +
        FindEntry(library, "gtk_window_set_title", Gtk.setTitle) +
        FindEntry(library, "gtk_dialog_set_default_response", Gtk.setDefaultResponse) +
        FindEntry(library, "gtk_dialog_run", Gtk.runDialog) +
        FindEntry(library, "gtk_widget_destroy", Gtk.destroyWidget) +
        FindEntry(library, "gtk_events_pending", Gtk.eventsPending) +
        FindEntry(library, "gtk_main_iteration", Gtk.mainIteration);
    if (missing != 0) {
        return false;
    }
    // The name screen readers and window lists give the application.
    Gtk.setProgramName(program_invocation_short_name);
    return Gtk.initCheck(nullptr, nullptr) != 0;
}

bool ShowGtkBox(const char* text) {
    if (GtkState == ToolkitUntried) {
        GtkState = PrepareGtk() ? ToolkitReady : ToolkitUnusable;
    }
    if (GtkState != ToolkitReady) {
        return false;
    }
    void* dialog =
        Gtk.newMessageDialog(nullptr, DialogModal, MessageOther, ButtonsOk, TextFormat, text);
    Gtk.setTitle(dialog, Caption);
    Gtk.setDefaultResponse(dialog, ResponseOk);
    Gtk.runDialog(dialog); // OK, Escape and the close button all end the box alike
    Gtk.destroyWidget(dialog);
    // Hands the window's removal to the display now, so that it has gone before the run goes on.
    while (Gtk.eventsPending() != 0) {
        Gtk.mainIteration();
    }
    return true;
}

// Loads SDL2 and opens the X display with it, at the first box that GTK does not show.
bool PrepareSdl() {
    void* library = dlopen(SdlLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return false;
    }
    const int missing = FindEntry(library, "SDL_VideoInit", Sdl.videoInit) +
                        FindEntry(library, "SDL_ShowSimpleMessageBox", Sdl.showBox);
    return missing == 0 && Sdl.videoInit(SdlX11Driver) == 0;
}

bool ShowSdlBox(const char* text) {
    if (SdlState == ToolkitUntried) {
        SdlState = PrepareSdl() ? ToolkitReady : ToolkitUnusable;
    }
    if (SdlState != ToolkitReady) {
        return false;
    }
    return Sdl.showBox(NoIcon, Caption, text, nullptr) == 0;
}

// Points standard error at /dev/null; returns a descriptor of where it pointed, or -1 when it
// was closed.
int SilenceErrors() {
    const int saved = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    // Where standard error was closed, /dev/null takes its place. (Were /dev/null missing, the
    // -1 would leave standard error as it is.)
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null != STDERR_FILENO) {
        dup2(null, STDERR_FILENO);
        close(null);
    }
    return saved;
}

// Puts standard error back as SilenceErrors found it.
void RestoreErrors(int saved) {
    if (saved < 0) {
        close(STDERR_FILENO);
        return;
    }
    dup2(saved, STDERR_FILENO);
    close(saved);
}

bool ShowBox(const char* utf8) {
    const int saved = SilenceErrors();
    const bool shown = ShowGtkBox(utf8) || ShowSdlBox(utf8);
    RestoreErrors(saved);
    return shown;
}

} // namespace

bool ShowDesktopBox(const char* text) {
    if (!HasDisplay()) {
        return false;
    }
    // Text that is valid UTF-8 already, as a Linux user's files are, goes to the box as it is.
    if (IsValidUtf8(text)) {
        return ShowBox(text);
    }
    // Any other text is read as Windows-1252, so that every byte still shows.
    char* utf8 = static_cast<char*>(std::malloc(std::strlen(text) * 3 + 1));
    if (utf8 == nullptr) {
        return false;
    }
    ConvertAnsiToUtf8(text, utf8);
    const bool shown = ShowBox(utf8);
    std::free(utf8);
    return shown;
}
