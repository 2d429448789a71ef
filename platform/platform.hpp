// The services the application and the assets call. Nothing here names a
// backend: the executable links exactly one of platform/sdl, platform/win32
// or platform/headless, each implementing platform/backend.hpp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/keyboard.hpp"
#include "platform/pcm.hpp"
#include "platform/screen.hpp"

namespace platform {

// --- start-up and exit ------------------------------------------------------

// Makes the folder holding the executable the working directory.
void enter_executable_folder();
// Raises the timer resolution to 1 ms and chooses the drawing back end.
void start();
void set_app_title(std::string_view title);
const std::string& app_title();
// Opens the window on the desktop with a client area of width x height,
// clears the Screen to black and shows it, starts the frame schedule at
// `rate` presents a second and resets the keyboard state. A window that
// cannot be opened ends the program: one line on standard error, status 1.
void open_window(int width, int height, int rate);
// Hides the pointer while it is over the client area.
void hide_pointer();
// Closes the window, shuts sound output down and restores the timer.
void exit_steps();

// --- Screen and present -----------------------------------------------------

Screen& screen();
// sync -1: the paced present (sleep to the frame schedule, then show the
// Screen without waiting for vertical sync). Never processes window events.
void present(int sync);

// --- keyboard and close requests ---------------------------------------------

// Each query first handles every pending window event.
std::int32_t key_down(int code);
std::int32_t key_hit(int code);
// True once after a close request (window close button, Alt+F4, a close
// message from outside), then false until the next one.
bool close_requested();

// --- notice box ----------------------------------------------------------------

// Modal information box captioned with the application title; returns when
// the user dismissed it. Where no box can be shown, the text goes to
// standard error and the call returns at once.
void notice(std::string_view text);

// --- sound ---------------------------------------------------------------------

// A sound made for the chosen output. Owned by the platform, lives until
// the process ends.
struct Sound;

// The first call chooses the sound output: a device, or the silent output
// when none can be opened.
Sound* create_sound(PcmSample sample);
// Starts a new voice from the sample's first frame, played once to its end;
// never waits.
void play_sound(Sound* sound);

}  // namespace platform
