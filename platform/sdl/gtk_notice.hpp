// The notice box as the desktop's own information dialog, through GTK 3.
//
// GTK is loaded from libgtk-3.so.0 when the first box is shown, not when
// the program starts: until then it costs neither start-up time nor memory,
// and without it the program still runs (the caller falls back to another
// box).
#pragma once

#include <string>

namespace platform::sdl {

enum class NativeNotice {
    Shown,         // the dialog was shown and has been dismissed
    NotAvailable,  // no GTK 3, or it cannot reach the display: nothing shown
};

// Shows a modal information dialog with the theme's information icon, the
// text and one OK button (Enter and Escape both close it), captioned
// `caption`, kept above other windows and, when `parent` is an X window id
// (0: none), transient for that window. Returns once it is dismissed. Keys
// that were down when it appeared do nothing in it until released. GTK
// writes nothing to standard error.
NativeNotice show_native_notice(const std::string& caption, const std::string& text, unsigned long parent);

}  // namespace platform::sdl
