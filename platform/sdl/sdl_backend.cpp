// SDL2 backend: the Linux build.
//
// Implemented features:
//  [x] Window: caption, fixed 800x600 client area centred on the primary
//      display, no maximise; X11 or Wayland only, so that it is never drawn
//      off screen.
//  [x] Present: SDL's window framebuffer on plain X11 images (no OpenGL),
//      sending only the changed rectangle it is given.
//  [x] Events: keys as virtual-key codes (the keypad by NumLock), close
//      requests, exposes, activation changes. On X11 focus and keys are
//      followed in the raw X events: focus changes to and from other
//      programs as they happen, the keys held when focus came back as the
//      server's KeymapNotify reports them, and the focus changes our own
//      notice box causes, by the requests made around the box.
//  [x] Notice: the desktop's GTK information dialog (gtk_notice.cpp), else
//      SDL's message box; both owned by the window.
//  [x] Sound: one SDL audio device fed by the shared software mixer.
//  [x] Clock: the POSIX monotonic clock and sleep.
//  [x] Files: POSIX; the executable's folder from /proc.
//  [x] Ending: SIGINT and SIGTERM as a close request (platform/quit_signals);
//      a lost X connection ends the program with one line and status 1.
// Missing features:
//  [ ] A timer resolution to raise (Linux sleeps are accurate to well under
//      1 ms already).
//  [ ] Hardware mixing.
//  [ ] On Wayland, telling our own box's focus changes from another
//      program's, and the keys held across a focus return.
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>

#include "platform/backend.hpp"
#include "platform/mixer.hpp"
#include "platform/quit_signals.hpp"
#include "platform/sdl/gtk_notice.hpp"
#include "platform/sdl/sdl_keymap.hpp"

namespace platform::backend {
namespace {

struct State {
    SDL_Window* window = nullptr;
    // On X11 focus and keys are followed in the raw events: SDL passes
    // focus changes on late and, once it has dropped its key state on a
    // focus loss, reports the X auto-repeat of a key still held on return
    // as a fresh press.
    Display* x_display = nullptr;
    Window x_window = 0;
    bool x_focused = false;
    bool keymap_due = false;        // a KeymapNotify follows the FocusIn just seen
    bool held_on_return[256] = {};  // X key codes held when focus came back
    int x_press = -1;               // X key code of the KeyPress just seen
    // Requests made right before our notice box opened and right after it
    // closed: focus changes the server numbered in between are the box's.
    unsigned long box_first = 1, box_last = 0;
    SDL_AudioDeviceID audio = 0;
    Mixer mixer;
};

State& state() {
    static State s;
    return s;
}

std::string sdl_error(const char* what) { return std::string(what) + ": " + SDL_GetError(); }

void on_x_event(const XEvent& e) {
    State& s = state();
    const bool keymap_due = s.keymap_due;
    s.keymap_due = false;
    s.x_press = -1;
    switch (e.type) {
        case FocusIn:
        case FocusOut: {
            const XFocusChangeEvent& f = e.xfocus;
            if (f.window != s.x_window || f.mode == NotifyGrab || f.mode == NotifyUngrab ||
                f.detail == NotifyInferior || f.detail == NotifyPointer)
                break;
            s.x_focused = e.type == FocusIn;
            events::activation(s.x_focused, f.serial >= s.box_first && f.serial <= s.box_last);
            s.keymap_due = s.x_focused;
            break;
        }
        case KeymapNotify:
            // The keys held at the moment focus arrived; a key pressed after
            // that is a fresh press, whenever its event is handled.
            if (!keymap_due) break;
            for (int code = 0; code < 256; ++code)
                s.held_on_return[code] = (e.xkeymap.key_vector[code / 8] >> (code % 8)) & 1;
            break;
        case KeyPress: s.x_press = int(e.xkey.keycode & 0xFF); break;
        case KeyRelease: s.held_on_return[e.xkey.keycode & 0xFF] = false; break;
        default: break;
    }
}

// On X11 a key press SDL reports with no KeyPress right before it is one
// SDL made up for a key it found held when focus came back.
bool held_across_return() {
    const State& s = state();
    if (s.x_display == nullptr) return false;
    return s.x_press < 0 || s.held_on_return[s.x_press];
}

void on_key(const SDL_KeyboardEvent& e) {
    if (e.type == SDL_KEYDOWN) {
        events::key_down(sdl::virtual_key(e.keysym), e.repeat != 0, held_across_return());
    } else if (const sdl::KeypadKey* k = sdl::keypad_key(e.keysym.scancode)) {
        // NumLock may have changed while the key was held: release both.
        events::key_up(k->numlock_on);
        events::key_up(k->numlock_off);
    } else {
        events::key_up(sdl::virtual_key(e.keysym.sym));
    }
    state().x_press = -1;
}

void on_window_event(const SDL_WindowEvent& e) {
    switch (e.event) {
        case SDL_WINDOWEVENT_CLOSE: events::close_request(); break;
        case SDL_WINDOWEVENT_EXPOSED: events::expose(); break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
        case SDL_WINDOWEVENT_FOCUS_GAINED:
            if (state().x_display == nullptr) events::activation(e.event == SDL_WINDOWEVENT_FOCUS_GAINED, false);
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

namespace {

pid_t x_owner = 0;  // our process; SDL's message box runs in a fork of it

// The X server went away (it ended, or the connection broke). Xlib cannot
// go on with that display: say so in one line and end at once. Nothing of
// the window is left to close, and the system ends the sound with the
// process; returning would let Xlib print its own lines and exit. The
// message box's process ends silently: ours tells.
int on_x_connection_lost(Display* display) {
    if (getpid() == x_owner) {
        const char* name = display != nullptr ? DisplayString(display) : nullptr;
        std::fprintf(stderr, "twindial: lost the connection to the display %s\n", name != nullptr ? name : "");
        std::fflush(stderr);
    }
    _exit(1);
}

}  // namespace

bool start(std::string& why) {
    posix::catch_quit_signals();
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    x_owner = getpid();
    XSetIOErrorHandler(on_x_connection_lost);
    // Plain X11 images for the window framebuffer: under a software
    // OpenGL the accelerated path costs several times the CPU.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    // Only drivers that show a window on the desktop: SDL would otherwise
    // fall back to drawing off screen, and the toy would run unseen.
    std::string drivers;
    if (std::getenv("DISPLAY") != nullptr) drivers = "x11";
    if (std::getenv("WAYLAND_DISPLAY") != nullptr) drivers += drivers.empty() ? "wayland" : ",wayland";
    if (drivers.empty()) {
        why = "no display to open the window on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
        return false;
    }
    SDL_SetHint(SDL_HINT_VIDEODRIVER, drivers.c_str());
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        why = sdl_error("cannot open the display");
        return false;
    }
    return true;
}

bool open_window(const std::string& caption, int width, int height, std::string& why) {
    State& s = state();
    SDL_Rect display{0, 0, width, height};
    SDL_GetDisplayBounds(0, &display);
    const int x = (display.x + display.w) / 2 - width / 2;
    const int y = (display.y + display.h) / 2 - height / 2;
    s.window = SDL_CreateWindow(caption.c_str(), x, y, width, height, SDL_WINDOW_SHOWN);
    if (s.window == nullptr) {
        why = SDL_GetError();
        return false;
    }
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
    if (SDL_GetWindowSurface(s.window) == nullptr) {
        why = sdl_error("no surface to draw into");
        return false;
    }
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(s.window, &info) && info.subsystem == SDL_SYSWM_X11) {
        s.x_display = info.info.x11.display;
        s.x_window = info.info.x11.window;
        SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    }
    return true;
}

void hide_pointer() { SDL_ShowCursor(SDL_DISABLE); }

void pump() {
    posix::report_quit_signals();
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        switch (e.type) {
            case SDL_QUIT: events::close_request(); break;
            case SDL_WINDOWEVENT: on_window_event(e.window); break;
            case SDL_SYSWMEVENT:
                if (e.syswm.msg->subsystem == SDL_SYSWM_X11) on_x_event(e.syswm.msg->msg.x11.event);
                break;
            case SDL_KEYDOWN:
            case SDL_KEYUP: on_key(e.key); break;
            default: break;
        }
    }
}

void present(const Screen& screen, const Rect& changed) {
    State& s = state();
    if (changed.empty()) return;
    SDL_Surface* surface = SDL_GetWindowSurface(s.window);
    if (surface == nullptr) return;
    const Rect r = changed.intersect({0, 0, std::min(surface->w, Screen::kWidth), std::min(surface->h, Screen::kHeight)});
    if (r.empty()) return;
    auto* dst = static_cast<std::uint8_t*>(surface->pixels) + std::size_t(r.y0) * std::size_t(surface->pitch) +
                std::size_t(r.x0) * std::size_t(surface->format->BytesPerPixel);
    SDL_ConvertPixels(r.x1 - r.x0, r.y1 - r.y0, SDL_PIXELFORMAT_RGB888, screen.row(r.y0) + r.x0,
                      Screen::kWidth * 4, surface->format->format, dst, surface->pitch);
    const SDL_Rect rect{r.x0, r.y0, r.x1 - r.x0, r.y1 - r.y0};
    SDL_UpdateWindowSurfaceRects(s.window, &rect, 1);
}

bool show_notice(const std::string& caption, const std::string& text) {
    State& s = state();
    // Focus changes the server makes from here until focus is given back
    // below are our box's, however late they are handled.
    if (s.x_display != nullptr) {
        XSync(s.x_display, False);
        s.box_first = NextRequest(s.x_display) - 1;
    }
    const bool had_focus = s.x_display != nullptr ? s.x_focused : SDL_GetKeyboardFocus() == s.window;
    // The desktop's own dialog first; SDL's box where it cannot be shown.
    bool shown = sdl::show_native_notice(caption, text, s.x_window) == sdl::NativeNotice::Shown;
    if (!shown) {
        const SDL_MessageBoxButtonData ok{
            SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, 0, "OK"};
        const SDL_MessageBoxData box{SDL_MESSAGEBOX_INFORMATION, s.window, caption.c_str(), text.c_str(),
                                     1, &ok, nullptr};
        int pressed = -1;
        shown = SDL_ShowMessageBox(&box, &pressed) == 0;
    }
    if (had_focus) SDL_SetWindowInputFocus(s.window);
    if (s.x_display != nullptr) {
        s.box_last = NextRequest(s.x_display) - 1;
        XSync(s.x_display, False);
    }
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
    // PipeWire's client library prints configuration warnings as soon as it
    // starts where no PipeWire is set up, before it even looks for a server;
    // so it is tried only when the server's socket is there: the name in
    // PIPEWIRE_REMOTE (default pipewire-0), in PIPEWIRE_RUNTIME_DIR, else
    // XDG_RUNTIME_DIR, or in the system-wide folder.
    const bool pipewire_server = [] {
        const auto is_socket = [](const std::string& path) {
            struct stat st {};
            return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
        };
        const char* remote = std::getenv("PIPEWIRE_REMOTE");
        const std::string name = remote != nullptr && remote[0] != '\0' ? remote : "pipewire-0";
        if (name[0] == '/') return is_socket(name);
        const char* dir = std::getenv("PIPEWIRE_RUNTIME_DIR");
        if (dir == nullptr) dir = std::getenv("XDG_RUNTIME_DIR");
        return (dir != nullptr && is_socket(std::string(dir) + "/" + name)) || is_socket("/run/pipewire/" + name);
    }();
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16SYS;
    want.channels = 2;
    want.samples = 1024;
    want.callback = audio_callback;
    want.userdata = &s.mixer;
    for (int i = 0; i < SDL_GetNumAudioDrivers(); ++i) {
        const std::string name = SDL_GetAudioDriver(i);
        if (name == "dummy" || name == "disk" || ((name == "alsa" || name == "sndio") && !alsa_devices) ||
            (name == "pipewire" && !pipewire_server))
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

Voice* sound_create(const PcmSample& sample) {
    static std::deque<Voice> voices;  // kept until the process ends
    return &voices.emplace_back(Voice{sample});
}

void sound_play(Voice* voice) {
    State& s = state();
    // A device that went away (its sound server ended) mixes no more: a
    // voice started now would never finish and never be dropped.
    if (SDL_GetAudioDeviceStatus(s.audio) != SDL_AUDIO_PLAYING) return;
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
    posix::release_quit_signals();
}

}  // namespace platform::backend
