#include "platform/headless/headless.hpp"

#include <unistd.h>

#include <cstring>
#include <deque>

#include "platform/backend.hpp"
#include "platform/quit_signals.hpp"
#include "platform/platform.hpp"

namespace platform::headless {
namespace {

struct Timed {
    int when;  // pump index or present count
    Event event;
};

struct State {
    std::uint32_t clock = 1000;
    int pumps = 0;
    int presents = -1;  // the opening present makes it 0
    int present_limit = 100000;
    std::vector<Timed> by_pump;
    std::vector<Timed> by_pass;
    bool close_query_next = false;  // the pump right after a present
    std::vector<Event> during_notice;
    std::function<void(int, const Screen&)> present_hook;
    bool box_available = true;
    bool device_available = true;
    bool window_available = true;
    Screen picture;  // what the presents have shown
    std::vector<Rect> rects;
    std::vector<std::int32_t> answers;
    std::string folder;
    std::vector<std::uint32_t> present_times;
    std::vector<Notice> notices;
    std::vector<SoundPlay> plays;
    bool window = false;
    bool pointer_hidden = false;
    bool device_opened = false;
    int shutdowns = 0;
};

State& state() {
    static State s;
    return s;
}

void deliver(const Event& e) {
    switch (e.kind) {
        case Event::Kind::KeyDown: events::key_down(e.code, e.repeat, e.held); break;
        case Event::Kind::KeyUp: events::key_up(e.code); break;
        case Event::Kind::Close: events::close_request(); break;
        case Event::Kind::FocusLost: events::activation(false, false); break;
        case Event::Kind::FocusGained: events::activation(true, false); break;
        case Event::Kind::Expose: events::expose(); break;
        case Event::Kind::Stall: state().clock += std::uint32_t(e.ms); break;
        case Event::Kind::Query: state().answers.push_back(platform::key_down(e.code)); break;
    }
}

// Delivers, in script order, every event whose moment has come. They are
// taken off the script first: delivering one may pump again.
void deliver_due(std::vector<Timed>& events, int now) {
    std::vector<Timed> due, later;
    for (const Timed& t : events) (t.when <= now ? due : later).push_back(t);
    events.swap(later);
    for (const Timed& t : due) deliver(t.event);
}

}  // namespace

void reset(std::uint32_t clock_ms) {
    state() = State{};
    state().clock = clock_ms;
}

void at_pump(int pump, Event event) { state().by_pump.push_back({pump, event}); }
void in_pass(int pass, Event event) { state().by_pass.push_back({pass, event}); }
void during_next_notice(Event event) { state().during_notice.push_back(event); }
void on_present(std::function<void(int, const Screen&)> hook) { state().present_hook = std::move(hook); }
void set_present_limit(int presents) { state().present_limit = presents; }
void set_notice_box_available(bool available) { state().box_available = available; }
void set_sound_device_available(bool available) { state().device_available = available; }
void set_executable_folder(std::string folder) { state().folder = std::move(folder); }
void set_window_available(bool available) { state().window_available = available; }

std::uint32_t clock() { return state().clock; }
const std::vector<std::uint32_t>& present_times() { return state().present_times; }
const std::vector<Notice>& notices() { return state().notices; }
const std::vector<SoundPlay>& sound_plays() { return state().plays; }

void forget_recordings() {
    State& s = state();
    s.answers = {};
    s.rects = {};
    s.present_times = {};
    s.notices = {};
    s.plays = {};
}
bool window_open() { return state().window; }
bool pointer_hidden() { return state().pointer_hidden; }
bool sound_device_opened() { return state().device_opened; }
int shutdowns() { return state().shutdowns; }
const std::vector<std::int32_t>& query_answers() { return state().answers; }
const std::vector<Rect>& presented_rects() { return state().rects; }

}  // namespace platform::headless

namespace platform::backend {

using headless::state;

struct Voice {
    std::uint32_t frames = 0;
};

void enter_executable_folder() {
    if (!state().folder.empty() && chdir(state().folder.c_str()) != 0) state().folder.clear();
}

bool start(std::string&) {
    posix::catch_quit_signals();
    return true;
}

bool open_window(const std::string&, int, int, std::string& why) {
    if (!state().window_available) {
        why = "no window in this test";
        return false;
    }
    state().window = true;
    return true;
}

void hide_pointer() { state().pointer_hidden = true; }

void pump() {
    headless::State& s = state();
    // Numbered before anything is delivered, so that a pump started from
    // inside this one is the next.
    const int index = s.pumps++;
    // The pump right after a present is that pass's close-request query;
    // the next pass begins with the pump after it.
    const bool pass_begins = !s.close_query_next;
    s.close_query_next = false;
    headless::deliver_due(s.by_pump, index);
    if (pass_begins) headless::deliver_due(s.by_pass, s.presents + 1);
    posix::report_quit_signals();
}

void present(const Screen& screen, const Rect& changed) {
    headless::State& s = state();
    s.rects.push_back(changed);
    const Rect r = changed.intersect({0, 0, Screen::kWidth, Screen::kHeight});
    if (!r.empty()) {
        std::uint32_t* to = s.picture.edit_pixels();
        for (int y = r.y0; y < r.y1; ++y)
            std::memcpy(to + std::size_t(y) * Screen::kWidth + std::size_t(r.x0), screen.row(y) + r.x0,
                        std::size_t(r.x1 - r.x0) * sizeof(std::uint32_t));
    }
    ++s.presents;
    if (s.presents == 0) return;  // the opening present of the black Screen
    s.close_query_next = true;
    s.present_times.push_back(s.clock);
    if (s.present_hook) s.present_hook(s.presents - 1, s.picture);
    if (s.presents >= s.present_limit) events::close_request();
}

bool show_notice(const std::string& caption, const std::string& text) {
    headless::State& s = state();
    if (!s.box_available) return false;
    s.notices.push_back({caption, text, s.presents});
    // The box takes activation from the window and gives it back, as a
    // window system that cannot tell our box from another program's says.
    events::activation(false, false);
    for (const headless::Event& e : s.during_notice) headless::deliver(e);
    s.during_notice.clear();
    events::activation(true, false);
    return true;
}

std::uint32_t clock_ms() { return state().clock; }

void sleep_ms(std::int32_t ms) {
    if (ms > 0) state().clock += std::uint32_t(ms);
}

bool sound_open() {
    state().device_opened = state().device_available;
    return state().device_opened;
}

Voice* sound_create(const PcmSample& sample) {
    static std::deque<Voice> voices;  // like the sounds, kept until the process ends
    return &voices.emplace_back(Voice{sample.frames});
}

void sound_play(Voice* voice) { state().plays.push_back({state().clock, voice->frames}); }

void shutdown() {
    posix::release_quit_signals();
    state().window = false;
    ++state().shutdowns;
}

}  // namespace platform::backend
