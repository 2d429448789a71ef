// The fixed set of functions every backend implements, one file pair per
// backend under platform/<name>/. The shared code in platform/ (keyboard
// tables, frame schedule, Screen and drawing, notice fallback) calls these;
// the application never does.
//
// A backend only translates the operating system's events into calls on
// `shared()` (keyboard, close request) and moves pixels and samples.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.hpp"
#include "platform/keyboard.hpp"
#include "platform/platform.hpp"
#include "platform/screen.hpp"

namespace platform {

// State shared by the platform's common code and the backend.
struct SharedState {
    Keyboard keyboard;
    bool close_request = false;
    bool in_notice = false;  // a notice box of ours is up
};
SharedState& shared();

namespace backend {

void enter_executable_folder();
// Timer resolution and the choice of drawing back end.
void start();
// Creates the visible window with the caption and an 800x600 client area
// centred on the primary display, and its drawing surface.
bool open_window(const std::string& caption, int width, int height);
void hide_pointer();
// Handles every pending window event, feeding shared().keyboard and
// shared().close_request.
void pump();
// Shows the Screen in the client area; never waits for vertical sync and
// never handles events.
void present(const Screen& screen);
// Shows a modal box; false when no box could be shown.
bool show_notice(const std::string& caption, const std::string& text);
// Milliseconds since boot, wrapping after 2^32; a sleep accurate to ~1 ms.
std::uint32_t clock_ms();
void sleep_ms(std::int32_t ms);

// Sound: open the output (false: the silent output is used instead), make a
// backend sound from a sample, play it as a new voice.
struct Voice;
bool sound_open();
Voice* sound_create(const PcmSample& sample, bool loop);
void sound_play(Voice* voice);

// The operating system's files (shared by the POSIX backends).
FileSystem& native_files();

// The exit steps: window and surface closed, sound shut down, timer restored.
void shutdown();

}  // namespace backend
}  // namespace platform
