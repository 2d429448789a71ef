// Headless backend: no window and no device, for tests and benchmarks.
//
// Implements: a virtual millisecond clock that sleeps advance, key events
// and close requests scripted to arrive at a given pump or in a given pass, presents recorded with their
// time, notice boxes answered at once and recorded, sound plays recorded,
// the working folder set on request, the native POSIX files.
// Lacks: everything a person could see or hear.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/screen.hpp"

namespace platform::headless {

struct Event {
    enum class Kind {
        KeyDown,     // a press (repeat: an auto-repeat of a held key)
        KeyUp,
        Close,       // a close request from the window system
        FocusAway,   // activation passes to another program and back
        Stall,       // the pass takes `ms` longer (the clock advances)
    };
    Kind kind = Kind::KeyDown;
    int code = 0;
    bool repeat = false;
    std::int32_t ms = 0;

    static Event down(int code, bool repeat = false) { return {Kind::KeyDown, code, repeat, 0}; }
    static Event up(int code) { return {Kind::KeyUp, code, false, 0}; }
    static Event close() { return {Kind::Close, 0, false, 0}; }
    static Event focus_away() { return {Kind::FocusAway, 0, false, 0}; }
    static Event stall(std::int32_t ms) { return {Kind::Stall, 0, false, ms}; }
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
// Event that arrives while the next notice box is up: the box takes key
// presses, releases still reach the window.
void during_next_notice(Event event);

// Called for every frame presented (not the opening one), with its index.
void on_present(std::function<void(int index, const Screen& screen)> hook);
// A close request is injected after this many frames so a test that forgot
// to end the program cannot hang (default 100000).
void set_present_limit(int presents);

// Whether a notice box can be shown (default yes) and a sound device
// opened (default yes).
void set_notice_box_available(bool available);
void set_sound_device_available(bool available);
// The folder enter_executable_folder() makes current; empty: stay.
void set_executable_folder(std::string folder);

// Recordings.
std::uint32_t clock();
const std::vector<std::uint32_t>& present_times();
const std::vector<Notice>& notices();
const std::vector<SoundPlay>& sound_plays();
bool window_open();
bool pointer_hidden();
bool sound_device_opened();
int shutdowns();

}  // namespace platform::headless
