// The platform services shared by every backend.
#include <cstdio>
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
    bool pumping = false;
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

}  // namespace

SharedState& shared() {
    static SharedState s;
    return s;
}

struct Sound {
    backend::Voice* voice = nullptr;  // null on the silent output
};

void enter_executable_folder() { backend::enter_executable_folder(); }

void start() {
    common() = Common{};
    shared() = SharedState{};
    backend::start();
}

void set_app_title(std::string_view title) { common().title = std::string(title); }
const std::string& app_title() { return common().title; }

void open_window(int width, int height, int /*depth*/, int rate, int /*flags*/) {
    Common& c = common();
    backend::open_window(c.title, width, height);
    c.screen.fill(0);
    backend::present(c.screen);
    c.screen.mark_presented();
    c.schedule.start(rate, backend::clock_ms());
    shared().keyboard.reset();
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
    backend::present(c.screen);
    c.screen.mark_presented();
}

std::int32_t key_down(int code) {
    pump_once();
    return shared().keyboard.state(code);
}

std::int32_t key_hit(int code) {
    pump_once();
    return shared().keyboard.take_hits(code);
}

bool close_requested() {
    pump_once();
    const bool requested = shared().close_request;
    shared().close_request = false;
    return requested;
}

void notice(std::string_view text) {
    SharedState& s = shared();
    s.in_notice = true;
    const bool shown = backend::show_notice(common().title, std::string(text));
    s.in_notice = false;
    if (!shown) {
        std::fprintf(stderr, "%.*s\n", int(text.size()), text.data());
        std::fflush(stderr);
    }
}

Sound* create_sound(PcmSample sample, int flags) {
    Common& c = common();
    if (!c.sound_chosen) {
        c.sound_chosen = true;
        c.sound_device = backend::sound_open();
    }
    // Sounds live until the process ends, like every object made at start-up.
    static std::deque<Sound> sounds;
    Sound& sound = sounds.emplace_back();
    if (c.sound_device) sound.voice = backend::sound_create(sample, (flags & 1) != 0);
    return &sound;
}

void play_sound(Sound* sound) {
    if (sound != nullptr && sound->voice != nullptr) backend::sound_play(sound->voice);
}

}  // namespace platform
