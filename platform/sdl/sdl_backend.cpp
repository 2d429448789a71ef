// SDL2 backend: the Linux build.
//
// Implements: the window (caption, 800x600 client area centred on the
// primary display, fixed size, no maximise), the present through SDL's
// window framebuffer on plain X11 images (no OpenGL), updating only the
// rows and columns that changed since the last present and everything after
// an expose; keyboard events translated to virtual-key codes; close
// requests; focus changes to and from other programs, followed in the raw
// X events where SDL reports them late or not at all; SDL's message box;
// sound through one SDL audio device and the shared software mixer; the
// POSIX monotonic clock and sleep; the executable's folder from /proc.
// Lacks: a timer resolution to raise (Linux sleeps are already accurate to
// well under 1 ms), hardware mixing.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "platform/backend.hpp"
#include "platform/mixer.hpp"
#include "platform/sdl/sdl_keymap.hpp"

namespace platform::backend {
namespace {

struct State {
    SDL_Window* window = nullptr;
    bool repaint_all = true;  // after opening and after an expose
    // Focus changes caused by our own notice box are not a switch to
    // another program. They are seen once the box has closed; until the
    // window has its focus back (or a second has passed), a focus change
    // is the box's.
    Uint32 own_box_focus_until = 0;
    // On X11 focus and keys are followed in the raw events: SDL passes
    // focus changes on late and, once it has dropped its key state on a
    // focus loss, reports the X auto-repeat of a key still held on return
    // as a fresh press.
    Display* x_display = nullptr;
    Window x_window = 0;
    bool held_on_return[256] = {};  // X key codes held when focus came back
    bool drop_next_key_down = false;
    SDL_AudioDeviceID audio = 0;
    Mixer mixer;
};

State& state() {
    static State s;
    return s;
}

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "twindial: %s: %s\n", what, SDL_GetError());
    std::exit(1);
}

// A focus change from or to another program resets the keyboard tables;
// one caused by our own notice box does not.
void on_focus_change(bool gained) {
    State& s = state();
    const bool own_box = s.own_box_focus_until != 0 && !SDL_TICKS_PASSED(SDL_GetTicks(), s.own_box_focus_until);
    if (!own_box) shared().keyboard.reset();
    if (gained) s.own_box_focus_until = 0;
}

void on_x_event(const XEvent& e) {
    State& s = state();
    s.drop_next_key_down = false;
    switch (e.type) {
        case FocusIn:
        case FocusOut: {
            const XFocusChangeEvent& f = e.xfocus;
            if (f.window != s.x_window || f.mode == NotifyGrab || f.mode == NotifyUngrab ||
                f.detail == NotifyInferior || f.detail == NotifyPointer)
                break;
            on_focus_change(e.type == FocusIn);
            if (e.type == FocusIn) {
                char keys[32];
                XQueryKeymap(s.x_display, keys);
                for (int code = 0; code < 256; ++code) s.held_on_return[code] = (keys[code / 8] >> (code % 8)) & 1;
            }
            break;
        }
        case KeyPress: s.drop_next_key_down = s.held_on_return[e.xkey.keycode & 0xFF]; break;
        case KeyRelease: s.held_on_return[e.xkey.keycode & 0xFF] = false; break;
        default: break;
    }
}

void on_window_event(const SDL_WindowEvent& e) {
    switch (e.event) {
        case SDL_WINDOWEVENT_CLOSE: shared().close_request = true; break;
        case SDL_WINDOWEVENT_EXPOSED: state().repaint_all = true; break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            if (state().x_display == nullptr) on_focus_change(e.event == SDL_WINDOWEVENT_FOCUS_GAINED);
            break;
        default: break;
    }
}

void audio_callback(void* user, Uint8* stream, int bytes) {
    static_cast<Mixer*>(user)->mix(reinterpret_cast<std::int16_t*>(stream), bytes / 4);
}

}  // namespace

struct Voice {
    PcmSample sample;
};

void enter_executable_folder() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) return;
    path[n] = '\0';
    if (char* slash = std::strrchr(path, '/')) {
        *slash = '\0';
        if (chdir(path[0] != '\0' ? path : "/") != 0) std::perror("twindial: chdir");
    }
}

void start() {
    // Plain X11 images for the window framebuffer: under a software
    // OpenGL the accelerated path costs several times the CPU.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // Only drivers that show a window on the desktop: SDL would otherwise
    // fall back to drawing off screen, and the toy would run unseen.
    std::string drivers;
    if (std::getenv("DISPLAY") != nullptr) drivers = "x11";
    if (std::getenv("WAYLAND_DISPLAY") != nullptr) drivers += drivers.empty() ? "wayland" : ",wayland";
    if (drivers.empty()) {
        std::fprintf(stderr, "twindial: no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)\n");
        std::exit(1);
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
    if (SDL_Init(SDL_INIT_VIDEO) != 0) fail("cannot open the display");
}

bool open_window(const std::string& caption, int width, int height) {
    State& s = state();
    SDL_Rect display{0, 0, width, height};
    SDL_GetDisplayBounds(0, &display);
    const int x = (display.x + display.w) / 2 - width / 2;
    const int y = (display.y + display.h) / 2 - height / 2;
    s.window = SDL_CreateWindow(caption.c_str(), x, y, width, height, SDL_WINDOW_SHOWN);
    if (s.window == nullptr) fail("cannot open the window");
    // The window manager may put its frame where we asked for the client
    // area. Once it has told the frame's size (or after a short while,
    // for a window manager that draws no frame), place the client area.
    int top = 0, left = 0, bottom = 0, right = 0;
    for (int tries = 0; tries < 50; ++tries) {
        SDL_PumpEvents();
        if (SDL_GetWindowBordersSize(s.window, &top, &left, &bottom, &right) == 0 && (top > 0 || left > 0)) break;
        SDL_Delay(4);
    }
    SDL_SetWindowPosition(s.window, x, y);
    if (SDL_GetWindowSurface(s.window) == nullptr) fail("cannot draw into the window");
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(s.window, &info) && info.subsystem == SDL_SYSWM_X11) {
        s.x_display = info.info.x11.display;
        s.x_window = info.info.x11.window;
        SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    }
    s.repaint_all = true;
    return true;
}

void hide_pointer() { SDL_ShowCursor(SDL_DISABLE); }

void pump() {
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
            case SDL_QUIT: shared().close_request = true; break;
            case SDL_WINDOWEVENT: on_window_event(e.window); break;
            case SDL_SYSWMEVENT:
                if (e.syswm.msg->subsystem == SDL_SYSWM_X11) on_x_event(e.syswm.msg->msg.x11.event);
                break;
            case SDL_KEYDOWN:
                // The auto-repeat of a key held since focus came back is no press.
                if (state().drop_next_key_down) break;
                shared().keyboard.key_down(sdl::virtual_key(e.key.keysym.sym), e.key.repeat != 0);
                break;
            case SDL_KEYUP: shared().keyboard.key_up(sdl::virtual_key(e.key.keysym.sym)); break;
            default: break;
        }
    }
}

void present(const Screen& screen) {
    State& s = state();
    SDL_Surface* surface = SDL_GetWindowSurface(s.window);
    if (surface == nullptr) return;
    const int w = std::min(surface->w, Screen::kWidth);
    const int h = std::min(surface->h, Screen::kHeight);
    if (surface->format->format != SDL_PIXELFORMAT_RGB888) {
        SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_RGB888, screen.pixels(), Screen::kWidth * 4,
                          surface->format->format, surface->pixels, surface->pitch);
        SDL_UpdateWindowSurface(s.window);
        return;
    }

    // The window surface still holds the last present: copy what changed
    // since, and send the rows that really differ (a pen standing still
    // redraws the same pixels every pass). Everything after an expose.
    const Rect r = s.repaint_all ? Rect{0, 0, w, h} : screen.changed().intersect({0, 0, w, h});
    if (r.empty()) return;
    auto* dst = static_cast<std::uint8_t*>(surface->pixels);
    const std::size_t bytes = std::size_t(r.x1 - r.x0) * 4;
    int top = r.y1, bottom = r.y0;
    for (int y = r.y0; y < r.y1; ++y) {
        void* to = dst + std::size_t(y) * std::size_t(surface->pitch) + std::size_t(r.x0) * 4;
        const void* from = screen.row(y) + r.x0;
        if (std::memcmp(to, from, bytes) == 0) continue;
        std::memcpy(to, from, bytes);
        top = std::min(top, y);
        bottom = y + 1;
    }
    if (s.repaint_all) {
        SDL_UpdateWindowSurface(s.window);
        s.repaint_all = false;
    } else if (top < bottom) {
        const SDL_Rect changed{r.x0, top, r.x1 - r.x0, bottom - top};
        SDL_UpdateWindowSurfaceRects(s.window, &changed, 1);
    }
}

bool show_notice(const std::string& caption, const std::string& text) {
    State& s = state();
    const bool had_focus = SDL_GetKeyboardFocus() == s.window;
    const SDL_MessageBoxButtonData ok{
        SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "OK"};
    const SDL_MessageBoxData box{SDL_MESSAGEBOX_INFORMATION, s.window, caption.c_str(), text.c_str(),
                                 1, &ok, nullptr};
    int pressed = -1;
    const bool shown = SDL_ShowMessageBox(&box, &pressed) == 0;
    s.own_box_focus_until = SDL_GetTicks() + 1000;
    if (had_focus) SDL_SetWindowInputFocus(s.window);
    return shown;
}

std::uint32_t clock_ms() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::uint32_t(std::uint64_t(t.tv_sec) * 1000u + std::uint64_t(t.tv_nsec) / 1000000u);
}

void sleep_ms(std::int32_t ms) {
    if (ms <= 0) return;
    timespec t{ms / 1000, long(ms % 1000) * 1000000L};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &t, &t) == EINTR) {
    }
}

// Opens the first audio driver's default device that works; the drivers
// that only pretend (dummy, disk) do not count.
bool sound_open() {
    State& s = state();
    // Without device nodes ALSA (and sndio, which plays through it) cannot
    // play and only prints its failure.
    const bool alsa_devices = access("/dev/snd", F_OK) == 0;
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = audio_callback;
    want.userdata = &s.mixer;
    for (int i = 0; i < SDL_GetNumAudioDrivers(); ++i) {
        const std::string name = SDL_GetAudioDriver(i);
        if (name == "dummy" || name == "disk" || ((name == "alsa" || name == "sndio") && !alsa_devices))
            continue;
        if (SDL_AudioInit(name.c_str()) != 0) continue;
        SDL_AudioSpec have{};
        s.audio = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_FREQUENCY_CHANGE);
        if (s.audio != 0) {
            s.mixer = Mixer(have.freq);
            SDL_PauseAudioDevice(s.audio, 0);
            return true;
        }
        SDL_AudioQuit();
    }
    return false;
}

Voice* sound_create(const PcmSample& sample, bool) {
    static std::deque<Voice> voices;  // kept until the process ends
    return &voices.emplace_back(Voice{sample});
}

void sound_play(Voice* voice) {
    State& s = state();
    SDL_LockAudioDevice(s.audio);
    s.mixer.play(voice->sample);
    SDL_UnlockAudioDevice(s.audio);
}

void shutdown() {
    State& s = state();
    if (s.audio != 0) SDL_CloseAudioDevice(s.audio);
    s.audio = 0;
    if (s.window != nullptr) SDL_DestroyWindow(s.window);
    s.window = nullptr;
    SDL_Quit();
}

}  // namespace platform::backend
