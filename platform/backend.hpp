// The contract between the shared platform code and a backend.
//
// A backend is one folder under platform/ (sdl, win32, headless) that
// implements every function of `platform::backend` below and nothing else.
// It translates its operating system's events into the calls of
// `platform::events` and moves pixels and samples; every rule (keyboard
// feeding, activation, the notice box's focus, the frame schedule, which
// part of the Screen to send) is applied once, in platform/.
//
// Each backend's file starts with the same comment block:
//   Implemented features:  [x] one line per feature
//   Missing features:      [ ] one line per feature
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.hpp"
#include "platform/pcm.hpp"
#include "platform/screen.hpp"

namespace platform {

// --- calls a backend makes upwards ---------------------------------------------
//
// Only from inside backend::pump() or backend::show_notice() (or the
// window procedure they dispatch to), on the program's one thread.
namespace events {

// A key went down. `code`: Windows virtual-key code (anything outside 1-255
// is dropped). `repeat`: the window system's auto-repeat of a held key.
// `held_across_return`: the key was already held when the window got its
// activation back, so this report is the window system re-announcing it.
void key_down(int code, bool repeat, bool held_across_return);
void key_up(int code);

// The window gained or lost activation. `own_box`: the other side is a
// notice box of this program (only a backend that can tell says so; the
// platform also knows while its box is up).
void activation(bool gained, bool own_box);

// The window was asked to close (close button, window menu, Alt+F4, a close
// message from another program).
void close_request();

// The window's content was lost (uncovered, mapped): the next present
// sends the whole Screen.
void expose();

// True while a notice box of this program is up.
bool notice_showing();

}  // namespace events

// --- what every backend implements ---------------------------------------------
namespace backend {

// Makes the folder holding the executable the working directory.
void enter_executable_folder();
// Raises the timer resolution and chooses the drawing back end, once.
// False, with `why` set, when there is no display to open a window on.
bool start(std::string& why);
// Creates the visible window: the caption, a fixed client area of
// width x height centred on the primary display, and its drawing surface.
// False, with `why` set, when it cannot.
bool open_window(const std::string& caption, int width, int height, std::string& why);
// Hides the pointer while it is over the client area.
void hide_pointer();
// Handles every pending window event, reporting each through `events`.
void pump();
// Shows the pixels of `changed` from `screen` in the client area and sends
// nothing else; an empty rectangle costs nothing. Never waits for vertical
// sync and never handles events.
void present(const Screen& screen, const Rect& changed);
// Shows a modal information box owned by the window and returns once it is
// dismissed; false when no box could be shown.
bool show_notice(const std::string& caption, const std::string& text);
// Milliseconds since boot, wrapping after 2^32; a sleep accurate to ~1 ms.
std::uint32_t clock_ms();
void sleep_ms(std::int32_t ms);

// Sound: open the output (false: the program stays silent), make a
// backend voice from a sample, play it once from its first frame, mixed
// with voices still playing.
struct Voice;
bool sound_open();
Voice* sound_create(const PcmSample& sample);
void sound_play(Voice* voice);

// The operating system's files.
FileSystem& native_files();

// The exit steps: window and surface closed, sound shut down, timer restored.
void shutdown();

}  // namespace backend
}  // namespace platform
