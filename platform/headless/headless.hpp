// Headless backend: no window and no device, for tests and benchmarks.
//
// Implemented features:
//  [x] Clock: a virtual millisecond clock that sleeps advance.
//  [x] Events: key presses (with the auto-repeat and held-across-a-return
//      flags), releases, activation changes, close requests and exposes,
//      scripted to arrive at a given pump or in a given pass, and reported
//      through the same event calls as a real backend's.
//  [x] Present: copies the changed rectangle it is given into a picture of
//      its own, which the present hook sees, and records the time.
//  [x] Notice: answered at once and recorded; the box takes activation
//      while it is up, and scripted events arrive during it.
//  [x] Sound: plays recorded.
//  [x] Files: the native POSIX files; the working folder set on request.
// Missing features:
//  [ ] Everything a person could see or hear.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/screen.hpp"

namespace platform::headless {

struct Event {
    enum class Kind {
        KeyDown,     // a press (repeat: an auto-repeat of a held key; held:
                     // the key was held when activation came back)
        KeyUp,
        Close,       // a close request from the window system
        FocusLost,   // activation passes to another program
        FocusGained, // activation comes back from another program
        Expose,      // the window lost its content
        Stall,       // the pass takes `ms` longer (the clock advances)
        Query,       // something inside the pump asks key_down(code)
    };
    Kind kind = Kind::KeyDown;
    int code = 0;
    bool repeat = false;
    bool held = false;
    std::int32_t ms = 0;

    static Event down(int code, bool repeat = false) { return {Kind::KeyDown, code, repeat, false, 0}; }
    static Event held_down(int code) { return {Kind::KeyDown, code, false, true, 0}; }
    static Event up(int code) { return {Kind::KeyUp, code, false, false, 0}; }
    static Event close() { return {Kind::Close, 0, false, false, 0}; }
    static Event focus_lost() { return {Kind::FocusLost, 0, false, false, 0}; }
    static Event focus_gained() { return {Kind::FocusGained, 0, false, false, 0}; }
    static Event expose() { return {Kind::Expose, 0, false, false, 0}; }
    static Event stall(std::int32_t ms) { return {Kind::Stall, 0, false, false, ms}; }
    static Event query(int code) { return {Kind::Query, code, false, false, 0}; }
};

struct Notice {
    std::string caption;
    std::string text;
    int after_presents = 0;  // how many frames had been presented
};

struct SoundPlay {
    std::uint32_t time = 0;
    std::uint32_t frames = 0;  // length of the sample played
};

// Forgets every script and recording; the clock starts at `clock_ms`.
void reset(std::uint32_t clock_ms = 1000);

// Event delivered by pump number `pump` (0 = the first pump of the run).
void at_pump(int pump, Event event);
// Event that arrives while pass `pass` (1 = the first) runs, before its
// first query: after the previous pass's present and its close-request
// query. A close request delivered so ends that pass.
void in_pass(int pass, Event event);
// Event that arrives while the next notice box is up, after the box took
// activation from the window and before it gives it back.
void during_next_notice(Event event);

// Called for every frame presented (not the opening one), with its index
// and the picture the presents have built up, changed rectangle by changed
// rectangle.
void on_present(std::function<void(int index, const Screen& picture)> hook);
// A close request is injected after this many frames so a test that forgot
// to end the program cannot hang (default 100000).
void set_present_limit(int presents);

// Whether a notice box can be shown (default yes) and a sound device
// opened (default yes).
void set_notice_box_available(bool available);
void set_sound_device_available(bool available);
// The folder enter_executable_folder() makes current; empty: stay.
void set_executable_folder(std::string folder);

// Whether the window can be opened (default yes).
void set_window_available(bool available);

// Recordings.
std::uint32_t clock();
// What each Event::query answered, in order.
const std::vector<std::int32_t>& query_answers();
// The rectangle each present was given (the opening one included).
const std::vector<Rect>& presented_rects();
const std::vector<std::uint32_t>& present_times();
const std::vector<Notice>& notices();
const std::vector<SoundPlay>& sound_plays();
// Empties the recordings above and gives their memory back (a long run
// that measures its heap calls it where it measures).
void forget_recordings();
bool window_open();
bool pointer_hidden();
bool sound_device_opened();
int shutdowns();

}  // namespace platform::headless
