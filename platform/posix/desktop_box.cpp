// The desktop box: GTK 3's message dialog, the desktop's own, or where GTK is missing or
// cannot open the display, SDL2's simple message box on an X display.
//
// Each box is shown by a child process of its own, which loads the toolkit, shows the box and
// ends. A toolkit ends the process whose display goes away (the X library's I/O error handler
// exits), and a crash in a toolkit, or in a theme engine, input method or module that it
// loads, takes its process with it: in the child, either only tells the program that the box
// was not seen through, and the program writes the value to standard error and goes on. The
// program itself never loads a toolkit.
//
// Each library is opened with dlopen in the child rather than linked, so that a run without
// a display, or on a machine without either library, loads no toolkit at all and starts as
// fast as a plain console program. The few entry points used have kept their signatures
// across GTK 3 and SDL2, so they are declared here instead of taken from the libraries'
// headers, and the program builds where those are not installed.
//
// The child's standard input, output and error point at /dev/null: the toolkits, and any
// command they start, write their diagnostics there, and standard error is where the values
// go when no box can be shown.
#include "platform/posix/desktop_box.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr char Caption[] = "Error"; // what Windows shows for a box without a caption

// How the box's process ends. Only BoxClosed, which the child's own code alone gives, counts
// as a box seen through; every other end, a signal included, leaves the value to standard
// error.
constexpr int BoxClosed = 64;       // the box showed the whole text and the user closed it
constexpr int BoxClosedInPart = 65; // the box showed the text's start only, then was closed
constexpr int BoxNotShown = 66;     // no toolkit could show it
constexpr int BoxLeftByExit = 67;   // something in the child called exit, as on a lost display

enum BoxResult : std::uint8_t { BoxUnshown, BoxShownWhole, BoxShownInPart };

// GTK 3. The dialog is modal, has no icon (the "other" message type) and one OK button, which
// Return presses; Escape and the window's close button close it too.
constexpr char GtkLibrary[] = "libgtk-3.so.0";
constexpr int DialogModal = 1;         // GTK_DIALOG_MODAL
constexpr int MessageOther = 4;        // GTK_MESSAGE_OTHER
constexpr int ButtonsOk = 1;           // GTK_BUTTONS_OK
constexpr int ResponseOk = -5;         // GTK_RESPONSE_OK
constexpr char TextFormat[] = "%s";    // the text as it is, '%' included
constexpr int WrapWordOrCharacter = 2; // PANGO_WRAP_WORD_CHAR: a word longer than the line breaks
constexpr int PolicyAutomatic = 1;     // GTK_POLICY_AUTOMATIC: a scroll bar where needed
constexpr int PolicyNever = 2;         // GTK_POLICY_NEVER
// Room kept above a dialog for the title bar that a window manager adds, in the display's
// logical pixels.
constexpr int TitleBarRoom = 48;

struct GdkRectangle {
    int x, y, width, height;
};
struct GtkRequisition {
    int width, height;
};
struct GList {
    void* data;
    GList* next;
    GList* previous;
};

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
    // The dialog's label in a scrolled window no larger than the screen.
    void* (*getMessageArea)(void* dialog);
    GList* (*getChildren)(void* container);
    void (*freeList)(GList* list);
    void (*setWrapMode)(void* label, int mode);
    void* (*newAttributeList)();
    void* (*insertHyphens)(int insert);
    void (*insertAttribute)(void* list, void* attribute);
    void (*setAttributes)(void* label, void* list);
    void (*unreferenceAttributes)(void* list);
    void (*getPreferredSize)(void* widget, GtkRequisition* least, GtkRequisition* natural);
    void* (*newScrolledWindow)(void* horizontal, void* vertical);
    void (*setPolicy)(void* scrolled, int horizontal, int vertical);
    void (*propagateNaturalWidth)(void* scrolled, int propagate);
    void (*propagateNaturalHeight)(void* scrolled, int propagate);
    void (*setMaxContentWidth)(void* scrolled, int width);
    void (*setMaxContentHeight)(void* scrolled, int height);
    void* (*reference)(void* object);
    void (*unreference)(void* object);
    void (*removeChild)(void* container, void* widget);
    void (*addChild)(void* container, void* widget);
    void (*packStart)(void* box, void* widget, int expand, int fill, unsigned padding);
    void (*reorderChild)(void* box, void* widget, int position);
    void (*showAll)(void* widget);
    // The screen the box goes to, and the display's round trip.
    void* (*defaultDisplay)();
    void* (*primaryMonitor)(void* display);
    void* (*monitorNumber)(void* display, int number);
    void (*getWorkArea)(void* monitor, GdkRectangle* area);
    void (*syncDisplay)(void* display);
};

// SDL2. Its box goes only to an X display that its X11 driver has opened. A box that SDL2
// cannot show itself, there or on another display, it hands to the zenity command, whose exit
// it takes as a box shown even when zenity could not show one, so that the value would be
// lost: the box's process leaves SDL2 no command to run, and counts only a box SDL2 drew.
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

struct SdlRect {
    int x, y, w, h;
};

struct SdlEntries {
    int (*videoInit)(const char* driver); // 0 once the driver has opened its display
    // (flags, title, message, parent window): 0 once the box has been closed.
    int (*showBox)(std::uint32_t flags, const char* title, const char* message, void* window);
    int (*displayBounds)(int display, SdlRect* bounds); // 0 once the bounds are set
    const char* (*getError)(); // empty after a box unless a way to show it failed
};

GtkEntries Gtk;
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

// Loads GTK and connects it to the display. Every entry point is looked up, so that a
// library that lacks any of them is turned down the same way.
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
        FindEntry(library, "gtk_main_iteration", Gtk.mainIteration) +
        FindEntry(library, "gtk_message_dialog_get_message_area", Gtk.getMessageArea) +
        FindEntry(library, "gtk_container_get_children", Gtk.getChildren) +
        FindEntry(library, "g_list_free", Gtk.freeList) +
        FindEntry(library, "gtk_label_set_line_wrap_mode", Gtk.setWrapMode) +
        FindEntry(library, "pango_attr_list_new", Gtk.newAttributeList) +
        FindEntry(library, "pango_attr_list_insert", Gtk.insertAttribute) +
        FindEntry(library, "gtk_label_set_attributes", Gtk.setAttributes) +
        FindEntry(library, "pango_attr_list_unref", Gtk.unreferenceAttributes) +
        FindEntry(library, "gtk_widget_get_preferred_size", Gtk.getPreferredSize) +
        FindEntry(library, "gtk_scrolled_window_new", Gtk.newScrolledWindow) +
        FindEntry(library, "gtk_scrolled_window_set_policy", Gtk.setPolicy) +
        FindEntry(library, "gtk_scrolled_window_set_propagate_natural_width",
                  Gtk.propagateNaturalWidth) +
        FindEntry(library, "gtk_scrolled_window_set_propagate_natural_height",
                  Gtk.propagateNaturalHeight) +
        FindEntry(library, "gtk_scrolled_window_set_max_content_width", Gtk.setMaxContentWidth) +
        FindEntry(library, "gtk_scrolled_window_set_max_content_height", Gtk.setMaxContentHeight) +
        FindEntry(library, "g_object_ref", Gtk.reference) +
        FindEntry(library, "g_object_unref", Gtk.unreference) +
        FindEntry(library, "gtk_container_remove", Gtk.removeChild) +
        FindEntry(library, "gtk_container_add", Gtk.addChild) +
        FindEntry(library, "gtk_box_pack_start", Gtk.packStart) +
        FindEntry(library, "gtk_box_reorder_child", Gtk.reorderChild) +
        FindEntry(library, "gtk_widget_show_all", Gtk.showAll) +
        FindEntry(library, "gdk_display_get_default", Gtk.defaultDisplay) +
        FindEntry(library, "gdk_display_get_primary_monitor", Gtk.primaryMonitor) +
        FindEntry(library, "gdk_display_get_monitor", Gtk.monitorNumber) +
        FindEntry(library, "gdk_monitor_get_workarea", Gtk.getWorkArea) +
        FindEntry(library, "gdk_display_sync", Gtk.syncDisplay);
    if (missing != 0) {
        return false;
    }
    // Pango before 1.44 has no hyphens to turn off, nor this entry.
    FindEntry(library, "pango_attr_insert_hyphens_new", Gtk.insertHyphens);
    // The name screen readers and window lists give the application.
    Gtk.setProgramName(program_invocation_short_name);
    return Gtk.initCheck(nullptr, nullptr) != 0;
}

// Keeps the dialog within the screen: its label breaks a word too long for a line and, where
// the dialog would still be wider or taller than the screen, goes into a scrolled window that
// leaves the rest of the dialog room on the screen, so that the text scrolls and OK stays in
// view. The label keeps its text, so screen readers read it as before; a dialog that fits is
// left as it is, since a scrolled window is never shorter than its scroll bar.
void FitGtkBox(void* dialog, void* display) {
    void* area = Gtk.getMessageArea(dialog);
    GList* children = Gtk.getChildren(area);
    if (children == nullptr) {
        return;
    }
    void* label = children->data; // the first is the text, the second the unused secondary
    Gtk.freeList(children);
    Gtk.setWrapMode(label, WrapWordOrCharacter);
    // A broken word gets no hyphen: a token or a path must read as it is.
    if (Gtk.insertHyphens != nullptr) {
        void* attributes = Gtk.newAttributeList();
        Gtk.insertAttribute(attributes, Gtk.insertHyphens(0));
        Gtk.setAttributes(label, attributes);
        Gtk.unreferenceAttributes(attributes);
    }

    void* monitor = Gtk.primaryMonitor(display); // none on Wayland, which names no primary
    if (monitor == nullptr) {
        monitor = Gtk.monitorNumber(display, 0);
    }
    if (monitor == nullptr) {
        return;
    }
    GdkRectangle screen{};
    Gtk.getWorkArea(monitor, &screen);
    GtkRequisition least{};
    GtkRequisition box{};
    GtkRequisition text{};
    Gtk.getPreferredSize(dialog, &least, &box);
    Gtk.getPreferredSize(label, &least, &text);
    if (box.width <= screen.width && box.height + TitleBarRoom <= screen.height) {
        return;
    }
    void* scrolled = Gtk.newScrolledWindow(nullptr, nullptr);
    Gtk.setPolicy(scrolled, PolicyNever, PolicyAutomatic);
    Gtk.propagateNaturalWidth(scrolled, 1);
    Gtk.propagateNaturalHeight(scrolled, 1);
    // The label's own size leaves what the rest of the dialog takes.
    Gtk.setMaxContentWidth(scrolled, screen.width - (box.width - text.width));
    Gtk.setMaxContentHeight(scrolled, screen.height - TitleBarRoom - (box.height - text.height));
    Gtk.reference(label);
    Gtk.removeChild(area, label);
    Gtk.addChild(scrolled, label);
    Gtk.unreference(label);
    Gtk.packStart(area, scrolled, 1, 1, 0);
    Gtk.reorderChild(area, scrolled, 0);
    Gtk.showAll(scrolled);
}

BoxResult ShowGtkBox(const char* text) {
    if (!PrepareGtk()) {
        return BoxUnshown;
    }
    void* display = Gtk.defaultDisplay();
    void* dialog =
        Gtk.newMessageDialog(nullptr, DialogModal, MessageOther, ButtonsOk, TextFormat, text);
    Gtk.setTitle(dialog, Caption);
    Gtk.setDefaultResponse(dialog, ResponseOk);
    FitGtkBox(dialog, display);
    Gtk.runDialog(dialog); // OK, Escape and the close button all end the box alike
    Gtk.destroyWidget(dialog);
    // Hands the window's removal to the display and waits until the display has done it, so
    // that the box has gone before the run goes on.
    while (Gtk.eventsPending() != 0) {
        Gtk.mainIteration();
    }
    Gtk.syncDisplay(display);
    return BoxShownWhole;
}

// Loads SDL2 and opens the X display with it.
bool PrepareSdl() {
    void* library = dlopen(SdlLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return false;
    }
    const int missing = FindEntry(library, "SDL_VideoInit", Sdl.videoInit) +
                        FindEntry(library, "SDL_ShowSimpleMessageBox", Sdl.showBox) +
                        FindEntry(library, "SDL_GetDisplayBounds", Sdl.displayBounds) +
                        FindEntry(library, "SDL_GetError", Sdl.getError);
    return missing == 0 && Sdl.videoInit(SdlX11Driver) == 0;
}

BoxResult ShowSdlBox(const char* text) {
    SdlRect screen{};
    if (!PrepareSdl() || Sdl.displayBounds(0, &screen) != 0) {
        return BoxUnshown;
    }
    int columns = (screen.w - SdlBoxSides) / SdlColumnWidth;
    columns = columns > SdlMostColumns ? SdlMostColumns : columns < 2 ? 2 : columns;
    int rows = (screen.h - SdlBoxChrome) / SdlLineHeight;
    rows = rows < 2 ? 2 : rows;
    char* lines = static_cast<char*>(std::malloc(std::strlen(text) * 2 + sizeof SdlCutMark));
    if (lines == nullptr) {
        return BoxUnshown;
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
    // SDL2 runs a command found on the search path, as execvp does: one that names no folder
    // (an empty one would name the current folder) finds none, and SDL2 then reports the box
    // unshown. SDL2 clears its error as the box starts; an error left behind a box reported
    // shown means that its own way failed first and something else took the box over.
    setenv("PATH", "/dev/null", 1);
    const bool shown =
        Sdl.showBox(NoIcon, Caption, lines, nullptr) == 0 && *Sdl.getError() == '\0';
    std::free(lines);
    return !shown ? BoxUnshown : whole ? BoxShownWhole : BoxShownInPart;
}

// The end of a child that something in it made call exit: the program's own handlers, such
// as its C++ destructors, and its standard output's buffer are the parent's, not the child's.
// Registered first in the child, this handler runs before them and ends the child at once.
void LeaveOnExit() {
    _exit(BoxLeftByExit);
}

// Points a descriptor at /dev/null (left as it is were /dev/null missing).
void SilenceDescriptor(int fd, int mode) {
    const int null = open("/dev/null", mode | O_CLOEXEC);
    if (null >= 0 && null != fd) {
        dup2(null, fd);
        close(null);
    }
}

pid_t BoxProcess; // the child's own process id, in the child

// Gives a process that a toolkit forks in the child, as SDL2 does for its box, the same tie:
// it is killed when the child ends.
void TieForkedProcess() {
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != BoxProcess) {
        _exit(BoxNotShown);
    }
}

// The child: shows the box and ends with the code that says how it went. It leaves the
// terminal as it is: the program's handlers that restore it on a signal give way to the
// signals' default actions, and its standard descriptors point at /dev/null.
[[noreturn]] void RunBoxProcess(pid_t parent, const char* text) {
    // The box does not outlive the program: the child is killed when the program ends, and
    // gives up where the program has ended already, before that could be arranged. So are
    // the processes the toolkit forks, when the child ends.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) {
        _exit(BoxNotShown);
    }
    BoxProcess = getpid();
    pthread_atfork(nullptr, nullptr, TieForkedProcess);
    for (int signal = 1; signal < NSIG; ++signal) {
        struct sigaction action {};
        if (sigaction(signal, nullptr, &action) == 0 && action.sa_handler != SIG_DFL &&
            action.sa_handler != SIG_IGN) {
            std::signal(signal, SIG_DFL);
        }
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    std::atexit(LeaveOnExit);
    SilenceDescriptor(STDIN_FILENO, O_RDONLY);
    SilenceDescriptor(STDOUT_FILENO, O_WRONLY);
    SilenceDescriptor(STDERR_FILENO, O_WRONLY);

    BoxResult result = ShowGtkBox(text);
    if (result == BoxUnshown) {
        result = ShowSdlBox(text);
    }
    _exit(result == BoxShownWhole    ? BoxClosed
          : result == BoxShownInPart ? BoxClosedInPart
                                     : BoxNotShown);
}

// Shows the box from a child process and waits until it ends. True when the child says that
// it showed the whole text and the box was closed.
bool ShowBox(const char* utf8) {
    // The child's end is collected here, so it must not be left to the system, as a SIGCHLD
    // that the program's caller ignored would have it.
    std::signal(SIGCHLD, SIG_DFL);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        return false;
    }
    if (child == 0) {
        RunBoxProcess(parent, utf8);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == BoxClosed;
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
