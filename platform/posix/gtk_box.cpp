// GTK 3's message dialog, the desktop's own box, on X11 or natively on Wayland. The dialog is
// modal, has no icon (the "other" message type) and one OK button, which Return presses;
// Escape and the window's close button close it too. A text too wide or too tall for the
// screen scrolls inside it.
#include "platform/posix/toolkit_box.h"

#include <cerrno>

namespace {

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

// The entry points, from GTK and the GLib, GDK and Pango libraries that it loads. The one
// OPTIONAL entry may be missing: Pango before 1.44 has no hyphens to turn off.
// clang-format off
#define GTK_ENTRIES(NEEDED, OPTIONAL)                                                              \
    NEEDED(setProgramName, g_set_prgname, void, (const char* name))                                \
    NEEDED(initCheck, gtk_init_check, int, (int* argc, char*** argv))                              \
    NEEDED(newMessageDialog, gtk_message_dialog_new, void*,                                        \
           (void* parent, int flags, int type, int buttons, const char* format, ...))              \
    NEEDED(setTitle, gtk_window_set_title, void, (void* window, const char* title))                \
    NEEDED(setDefaultResponse, gtk_dialog_set_default_response, void,                              \
           (void* dialog, int response))                                                           \
    NEEDED(runDialog, gtk_dialog_run, int, (void* dialog))                                         \
    NEEDED(destroyWidget, gtk_widget_destroy, void, (void* widget))                                \
    NEEDED(eventsPending, gtk_events_pending, int, ())                                             \
    NEEDED(mainIteration, gtk_main_iteration, int, ())                                             \
    /* The dialog's label in a scrolled window no larger than the screen. */                       \
    NEEDED(getMessageArea, gtk_message_dialog_get_message_area, void*, (void* dialog))             \
    NEEDED(getChildren, gtk_container_get_children, GList*, (void* container))                     \
    NEEDED(freeList, g_list_free, void, (GList* list))                                             \
    NEEDED(setWrapMode, gtk_label_set_line_wrap_mode, void, (void* label, int mode))               \
    NEEDED(newAttributeList, pango_attr_list_new, void*, ())                                       \
    OPTIONAL(insertHyphens, pango_attr_insert_hyphens_new, void*, (int insert))                    \
    NEEDED(insertAttribute, pango_attr_list_insert, void, (void* list, void* attribute))           \
    NEEDED(setAttributes, gtk_label_set_attributes, void, (void* label, void* list))               \
    NEEDED(unreferenceAttributes, pango_attr_list_unref, void, (void* list))                       \
    NEEDED(getPreferredSize, gtk_widget_get_preferred_size, void,                                  \
           (void* widget, GtkRequisition* least, GtkRequisition* natural))                         \
    NEEDED(newScrolledWindow, gtk_scrolled_window_new, void*, (void* horizontal, void* vertical))  \
    NEEDED(setPolicy, gtk_scrolled_window_set_policy, void,                                        \
           (void* scrolled, int horizontal, int vertical))                                         \
    NEEDED(propagateNaturalWidth, gtk_scrolled_window_set_propagate_natural_width, void,           \
           (void* scrolled, int propagate))                                                        \
    NEEDED(propagateNaturalHeight, gtk_scrolled_window_set_propagate_natural_height, void,         \
           (void* scrolled, int propagate))                                                        \
    NEEDED(setMaxContentWidth, gtk_scrolled_window_set_max_content_width, void,                    \
           (void* scrolled, int width))                                                            \
    NEEDED(setMaxContentHeight, gtk_scrolled_window_set_max_content_height, void,                  \
           (void* scrolled, int height))                                                           \
    NEEDED(reference, g_object_ref, void*, (void* object))                                         \
    NEEDED(unreference, g_object_unref, void, (void* object))                                      \
    NEEDED(removeChild, gtk_container_remove, void, (void* container, void* widget))               \
    NEEDED(addChild, gtk_container_add, void, (void* container, void* widget))                     \
    NEEDED(packStart, gtk_box_pack_start, void,                                                    \
           (void* box, void* widget, int expand, int fill, unsigned padding))                      \
    NEEDED(reorderChild, gtk_box_reorder_child, void, (void* box, void* widget, int position))     \
    NEEDED(showAll, gtk_widget_show_all, void, (void* widget))                                     \
    /* The screen the box goes to, and the display's round trip. */                                \
    NEEDED(defaultDisplay, gdk_display_get_default, void*, ())                                     \
    NEEDED(primaryMonitor, gdk_display_get_primary_monitor, void*, (void* display))                \
    NEEDED(monitorNumber, gdk_display_get_monitor, void*, (void* display, int number))             \
    NEEDED(getWorkArea, gdk_monitor_get_workarea, void, (void* monitor, GdkRectangle* area))       \
    NEEDED(syncDisplay, gdk_display_sync, void, (void* display))
// clang-format on

struct GtkEntries {
    GTK_ENTRIES(DECLARE_ENTRY, DECLARE_ENTRY)
};

GtkEntries Gtk;

// Loads GTK and connects it to the display. Every entry point is looked up, so that a
// library that lacks any needed one is turned down the same way.
bool PrepareGtk() {
    void* library = dlopen(GtkLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        return false;
    }
    int missing = 0;
#define FIND_NEEDED(field, name, result, parameters)                                               \
    missing += FindEntry(library, #name, Gtk.field);
#define FIND_OPTIONAL(field, name, result, parameters) FindEntry(library, #name, Gtk.field);
    GTK_ENTRIES(FIND_NEEDED, FIND_OPTIONAL)
#undef FIND_NEEDED
#undef FIND_OPTIONAL
    if (missing != 0) {
        return false;
    }
    // The name screen readers and window lists give the application: the command's own,
    // whatever the file that holds it is called.
    Gtk.setProgramName("keyreport");
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

} // namespace

BoxOutcome ShowGtkBox(const char* text) {
    if (!PrepareGtk()) {
        return BoxNotShown;
    }
    void* display = Gtk.defaultDisplay();
    void* dialog =
        Gtk.newMessageDialog(nullptr, DialogModal, MessageOther, ButtonsOk, TextFormat, text);
    Gtk.setTitle(dialog, BoxCaption);
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
    return BoxClosed;
}
