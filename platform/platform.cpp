// The platform services shared by every backend, and the rules applied to
// the events the backends report.
#include <cstdio>
#include <cstdlib>
#include <deque>

#include "platform/backend.hpp"
#include "platform/frame_schedule.hpp"
#include "platform/platform.hpp"

namespace platform {

namespace {

struct Common {
    std::string title;
    Screen screen;
    FrameSchedule schedule;
    Keyboard keyboard;
    bool close_request = false;
    bool in_notice = false;    // a notice box of ours is up
    bool pumping = false;
    bool repaint_all = true;   // the window lost its content
    bool sound_chosen = false;
    bool sound_device = false;
};

Common& common() {
    static Common c;
    return c;
}

// Handles pending events unless a pump is already running (a query made
// from inside the backend's event handling does not pump again).
void pump_once() {
    Common& c = common();
    if (c.pumping) return;
    c.pumping = true;
    backend::pump();
    c.pumping = false;
}

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "twindial: %s\n", why.c_str());
    std::fflush(stderr);
    backend::shutdown();
    std::exit(1);
}

}  // namespace

// --- events reported by the backend ----------------------------------------------

namespace events {

void key_down(int code, bool repeat, bool held_across_return) {
    Common& c = common();
    // A press made while our box is up belongs to the box.
    if (c.in_notice) return;
    // A key held across a return of activation is re-announced by the window
    // system; it counts as released until it is released and pressed anew.
    if (held_across_return) c.keyboard.mark_stale(code);
    else c.keyboard.key_down(code, repeat);
}

// A release only ever clears a key, so it is taken even while a box is up.
void key_up(int code) { common().keyboard.key_up(code); }

void activation(bool, bool own_box) {
    Common& c = common();
    // Activation passing to or from another program releases every key and
    // drops every hit not yet read; our own box is no such switch.
    if (!own_box && !c.in_notice) c.keyboard.reset();
}

void close_request() { common().close_request = true; }
void expose() { common().repaint_all = true; }
bool notice_showing() { return common().in_notice; }

}  // namespace events

// --- services of the application -------------------------------------------------

struct Sound {
    backend::Voice* voice = nullptr;  // null on the silent output
};

void enter_executable_folder() { backend::enter_executable_folder(); }

void start() {
    common() = Common{};
    std::string why;
    if (!backend::start(why)) fail(why);
}

void set_app_title(std::string_view title) { common().title = std::string(title); }
const std::string& app_title() { return common().title; }

void open_window(int width, int height, int rate) {
    Common& c = common();
    std::string why;
    if (!backend::open_window(c.title, width, height, why)) fail("cannot open the window: " + why);
    c.screen.fill(0);
    c.repaint_all = true;
    present(0);
    c.schedule.start(rate, backend::clock_ms());
    c.keyboard.reset();
}

void hide_pointer() { backend::hide_pointer(); }
void exit_steps() { backend::shutdown(); }

Screen& screen() { return common().screen; }

void present(int sync) {
    Common& c = common();
    if (sync == -1) {
        const std::int32_t wait = c.schedule.advance(backend::clock_ms());
        if (wait > 0) backend::sleep_ms(wait);
    }
    const Rect all{0, 0, Screen::kWidth, Screen::kHeight};
    backend::present(c.screen, c.repaint_all ? all : c.screen.changed());
    c.screen.mark_presented();
    c.repaint_all = false;
}

std::int32_t key_down(int code) {
    pump_once();
    return common().keyboard.state(code);
}

std::int32_t key_hit(int code) {
    pump_once();
    return common().keyboard.take_hits(code);
}

bool close_requested() {
    pump_once();
    Common& c = common();
    const bool requested = c.close_request;
    c.close_request = false;
    return requested;
}

void notice(std::string_view text) {
    Common& c = common();
    c.in_notice = true;
    const bool shown = backend::show_notice(c.title, std::string(text));
    c.in_notice = false;
    if (!shown) {
        std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
        std::fflush(stderr);
    }
}

Sound* create_sound(PcmSample sample) {
    Common& c = common();
    if (!c.sound_chosen) {
        c.sound_chosen = true;
        c.sound_device = backend::sound_open();
    }
    // Sounds live until the process ends, like every object made at start-up.
    static std::deque<Sound> sounds;
    Sound& sound = sounds.emplace_back();
    if (c.sound_device) sound.voice = backend::sound_create(sample);
    return &sound;
}

void play_sound(Sound* sound) {
    if (sound != nullptr && sound->voice != nullptr) backend::sound_play(sound->voice);
}

}  // namespace platform
