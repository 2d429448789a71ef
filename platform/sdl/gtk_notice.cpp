// The notice box through GTK 3, loaded with dlopen when the first box is
// shown. GTK's headers give the functions' types; the program does not link
// against GTK, so a system without it runs as before, and one with it pays
// nothing until a box is shown.
#include "platform/sdl/gtk_notice.hpp"

#include <dlfcn.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <bitset>
#include <cstdlib>

#include "platform/quit_signals.hpp"

namespace platform::sdl {
namespace {

// The functions used, resolved by name from libgtk-3 and the libraries it
// loads (GDK, GObject, GLib). gtk_message_dialog_set_image is deprecated
// but is GTK 3's one way to give a message dialog its icon: since 3.12
// message dialogs show none of their own.
#define TWINDIAL_GTK_FUNCTIONS(X)              \
    X(g_log_set_writer_func)                   \
    X(g_set_print_handler)                     \
    X(g_set_printerr_handler)                  \
    X(g_signal_connect_data)                   \
    X(g_timeout_add)                           \
    X(g_source_remove)                         \
    X(g_object_unref)                          \
    X(gdk_set_allowed_backends)                \
    X(gdk_display_get_default)                 \
    X(gdk_window_set_transient_for)            \
    X(gdk_x11_display_get_xdisplay)            \
    X(gdk_x11_get_server_time)                 \
    X(gdk_x11_window_foreign_new_for_display)  \
    X(gdk_x11_window_set_user_time)            \
    X(gtk_disable_setlocale)                   \
    X(gtk_init_check)                          \
    X(gtk_message_dialog_new)                  \
    X(gtk_message_dialog_set_image)            \
    X(gtk_image_new_from_icon_name)            \
    X(gtk_dialog_set_default_response)         \
    X(gtk_dialog_run)                          \
    X(gtk_dialog_response)                     \
    X(gtk_window_set_title)                    \
    X(gtk_window_set_keep_above)               \
    X(gtk_window_set_resizable)                \
    X(gtk_widget_show)                         \
    X(gtk_widget_realize)                      \
    X(gtk_widget_get_window)                   \
    X(gtk_widget_destroy)                      \
    X(gtk_events_pending)                      \
    X(gtk_main_iteration)

G_GNUC_BEGIN_IGNORE_DEPRECATIONS
struct Gtk {
#define TWINDIAL_GTK_POINTER(name) decltype(&::name) name = nullptr;
    TWINDIAL_GTK_FUNCTIONS(TWINDIAL_GTK_POINTER)
#undef TWINDIAL_GTK_POINTER
};
G_GNUC_END_IGNORE_DEPRECATIONS

struct Toolkit {
    enum class Stage { Untried, Ready, Missing };
    Stage stage = Stage::Untried;
    bool x11 = false;  // GDK talks to the X server of the parent window
    Gtk fn;
};

Toolkit& toolkit() {
    static Toolkit t;
    return t;
}

bool load(Gtk& fn) {
    void* lib = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return false;
    bool complete = true;
#define TWINDIAL_GTK_RESOLVE(name)                                           \
    fn.name = reinterpret_cast<decltype(fn.name)>(dlsym(lib, #name));        \
    complete = complete && fn.name != nullptr;
    TWINDIAL_GTK_FUNCTIONS(TWINDIAL_GTK_RESOLVE)
#undef TWINDIAL_GTK_RESOLVE
    // A library by that name without these functions is no GTK 3 that can
    // show the dialog; it stays loaded, since a GTK may not be unloaded.
    return complete;
}

// The program writes no text but its own: GTK's warnings and messages (for
// instance that there is no accessibility bus without a session bus) are
// dropped.
GLogWriterOutput drop_log(GLogLevelFlags, const GLogField*, gsize, gpointer) { return G_LOG_WRITER_HANDLED; }
void drop_text(const gchar*) {}

// Loads and starts GTK once; later calls return the first outcome.
Toolkit* ready(bool x11) {
    Toolkit& t = toolkit();
    if (t.stage == Toolkit::Stage::Untried) {
        t.stage = Toolkit::Stage::Missing;
        if (!load(t.fn)) return nullptr;
        const Gtk& g = t.fn;
        g.g_log_set_writer_func(drop_log, nullptr, nullptr);
        g.g_set_print_handler(drop_text);
        g.g_set_printerr_handler(drop_text);
        // GTK would set the process's locale from the environment, which
        // would change the texts and formats of the rest of the program.
        g.gtk_disable_setlocale();
        // A dialog needs no OpenGL. GDK would otherwise load the GL driver
        // to choose its visuals: with Mesa's software driver that is
        // some 55 MiB more memory and a slower first box. A setting of the
        // user's own is kept.
        setenv("GDK_GL", "disable", 0);
        // The owner is an X window: the dialog must be on the same server
        // even where GTK would prefer Wayland.
        if (x11) g.gdk_set_allowed_backends("x11");
        // GDK replaces the X connection's fatal-error handler with one that
        // ends the process without a word (its message goes with GTK's
        // other texts); the program's own handler is put back.
        const XIOErrorHandler own_handler = XSetIOErrorHandler(nullptr);
        XSetIOErrorHandler(own_handler);
        const bool started = g.gtk_init_check(nullptr, nullptr);
        XSetIOErrorHandler(own_handler);
        if (!started) return nullptr;
        t.x11 = x11;
        t.stage = Toolkit::Stage::Ready;
    }
    return t.stage == Toolkit::Stage::Ready ? &t : nullptr;
}

// X key codes that were already down when the dialog got the focus: their
// presses (auto-repeat) and their release belong to what opened the box, and
// neither may close it.
struct HeldKeys {
    Display* x = nullptr;
    std::bitset<256> down;

    // Keeps only the keys that are still down now.
    void keep_down_now() {
        char keys[32];
        XQueryKeymap(x, keys);
        for (std::size_t code = 0; code < down.size(); ++code)
            if (((keys[code / 8] >> (code % 8)) & 1) == 0) down[code] = false;
    }
};

gboolean swallow_held_key(GtkWidget*, GdkEventKey* event, gpointer user) {
    HeldKeys& held = *static_cast<HeldKeys*>(user);
    const std::size_t code = event->hardware_keycode & 0xFFu;
    if (!held.down[code]) return FALSE;
    if (event->type == GDK_KEY_RELEASE) held.down[code] = false;
    return TRUE;
}

// A key released between the dialog's appearing and its getting the focus
// was released outside it and is no longer held.
gboolean on_focus_in(GtkWidget*, GdkEventFocus*, gpointer user) {
    HeldKeys& held = *static_cast<HeldKeys*>(user);
    if (held.x != nullptr) held.keep_down_now();
    return FALSE;
}

// SIGINT or SIGTERM closes the dialog, so that the program can end.
gboolean close_on_quit_signal(gpointer dialog) {
    if (posix::quit_signal_pending())
        toolkit().fn.gtk_dialog_response(static_cast<GtkDialog*>(dialog), GTK_RESPONSE_DELETE_EVENT);
    return TRUE;
}

}  // namespace

NativeNotice show_native_notice(const std::string& caption, const std::string& text, unsigned long parent) {
    Toolkit* t = ready(parent != 0);
    if (t == nullptr) return NativeNotice::NotAvailable;
    const Gtk& g = t->fn;

    GtkWidget* dialog = g.gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_INFO, GTK_BUTTONS_OK, "%s",
                                                 text.c_str());
    auto* window = reinterpret_cast<GtkWindow*>(dialog);
    g.gtk_window_set_title(window, caption.c_str());
    g.gtk_window_set_keep_above(window, TRUE);
    g.gtk_window_set_resizable(window, FALSE);
    GtkWidget* icon = g.gtk_image_new_from_icon_name("dialog-information", GTK_ICON_SIZE_DIALOG);
    g.gtk_widget_show(icon);
    g.gtk_message_dialog_set_image(reinterpret_cast<GtkMessageDialog*>(dialog), icon);
    g.gtk_dialog_set_default_response(reinterpret_cast<GtkDialog*>(dialog), GTK_RESPONSE_OK);

    HeldKeys held;
    for (const char* signal : {"key-press-event", "key-release-event"})
        g.g_signal_connect_data(dialog, signal, G_CALLBACK(swallow_held_key), &held, nullptr, GConnectFlags(0));
    g.g_signal_connect_data(dialog, "focus-in-event", G_CALLBACK(on_focus_in), &held, nullptr, GConnectFlags(0));

    g.gtk_widget_realize(dialog);
    GdkWindow* own = g.gtk_widget_get_window(dialog);
    GdkWindow* owner = nullptr;
    if (t->x11) {
        GdkDisplay* display = g.gdk_display_get_default();
        if (parent != 0) owner = g.gdk_x11_window_foreign_new_for_display(display, Window(parent));
        if (owner != nullptr) g.gdk_window_set_transient_for(own, owner);
        // The box answers the key just pressed. GTK would give it the time
        // of the last key GTK itself saw (in an earlier box), and window
        // managers that hold the focus back from windows older than the
        // user's last action would leave it unfocused.
        g.gdk_x11_window_set_user_time(own, g.gdk_x11_get_server_time(own));
        held.x = g.gdk_x11_display_get_xdisplay(display);
        held.down.set();
        held.keep_down_now();
    }

    const guint watch = g.g_timeout_add(50, close_on_quit_signal, dialog);
    g.gtk_dialog_run(reinterpret_cast<GtkDialog*>(dialog));
    g.g_source_remove(watch);
    g.gtk_widget_destroy(dialog);
    if (owner != nullptr) g.g_object_unref(owner);
    // Let GTK take the dialog off the screen now, not at the next box.
    while (g.gtk_events_pending()) g.gtk_main_iteration();
    return NativeNotice::Shown;
}

}  // namespace platform::sdl
