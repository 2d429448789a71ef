// Win32 backend: the native Windows build.
//
// Implemented features:
//  [x] Window: CreateWindowExW with caption, window menu and minimise box (no
//      sizing border, no maximise), sized by AdjustWindowRect, client area
//      centred on the primary display; no icon of its own.
//  [x] Events: PeekMessageA / TranslateMessage / DispatchMessageA in pump();
//      WM_(SYS)KEYDOWN / WM_(SYS)KEYUP as key events (bit 30 = auto-repeat;
//      Shift, Ctrl and Alt by side as 160-165); WM_ACTIVATE as activation,
//      telling our own boxes by their process and ignoring activation while
//      minimised; WM_CLOSE as a close request (nothing is destroyed). System
//      key-downs other than F4 (and their WM_SYSCHAR) skip DefWindowProc, so
//      Alt+Space opens no window menu while Alt+F4 still closes.
//  [x] Pointer: hidden over the client area (ShowCursor, TrackMouseEvent),
//      the show count kept at its shown or hidden level.
//  [x] Present: Direct3D 9 when d3d9.dll offers a HAL device for the desktop
//      format (windowed, one lockable back buffer, copy swap effect,
//      immediate presentation), else a GDI copy; chosen once in start(). A
//      device that cannot be created after all falls back to GDI. Only the
//      changed rectangle it is given is copied; WM_PAINT repaints from what
//      was last presented.
//  [x] Clock: timeGetTime, Sleep, timeBeginPeriod(1) / timeEndPeriod(1).
//  [x] Notice: MessageBoxW(GetActiveWindow(), MB_OK|MB_ICONINFORMATION|
//      MB_TOPMOST), UTF-8 converted to UTF-16, focus saved and restored.
//  [x] Sound: DirectSound loaded at run time, priority level on the desktop
//      window, one static buffer per sound, duplicated while all are busy.
//  [x] Files: a new file by CreateFileW(CREATE_NEW) in byte mode, moved over
//      the old one by MoveFileExW(MOVEFILE_REPLACE_EXISTING|MOVEFILE_WRITE_THROUGH).
// Missing features:
//  [ ] Direct3D 7 and OpenGL back ends (GDI is the fallback instead).
//  [ ] Restoring a DirectSound buffer after it was lost.
//  [ ] Per-monitor DPI awareness (the system scales the window).
//
// d3d9.dll and dsound.dll are loaded with LoadLibrary, so the executable
// starts where either is missing.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <d3d9.h>
#include <dsound.h>

#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.hpp"

namespace platform::backend {

struct Voice {
    IDirectSoundBuffer* original = nullptr;
    std::vector<IDirectSoundBuffer*> copies;  // original first, then duplicates
    DWORD rate = 0;
};

namespace {

constexpr wchar_t kClassName[] = L"TwindialWindow";
constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kWidth = Screen::kWidth;
constexpr int kHeight = Screen::kHeight;

enum class Drawer { gdi, d3d9 };

struct State {
    HINSTANCE instance = nullptr;
    HWND window = nullptr;
    bool timer_raised = false;

    // Pointer: hide_pointer() was called; our hide is in effect; leave
    // tracking is armed.
    bool hide_over_client = false;
    bool pointer_hidden = false;
    bool tracking = false;

    // Drawing. `shown` is the picture last presented, which WM_PAINT
    // repaints from.
    Drawer drawer = Drawer::gdi;
    HMODULE d3d9_library = nullptr;
    IDirect3D9* d3d = nullptr;
    IDirect3DDevice9* device = nullptr;
    D3DPRESENT_PARAMETERS present_parameters{};
    std::vector<std::uint32_t> shown;
    bool back_buffer_valid = false;  // false: the next present sends everything

    // Sound.
    HMODULE dsound_library = nullptr;
    IDirectSound* dsound = nullptr;
    std::deque<Voice> voices;
};

State& state() {
    static State s;
    return s;
}

template <typename T>
void release(T*& object) {
    if (object != nullptr) object->Release();
    object = nullptr;
}

// GetProcAddress's result as the function type it really has.
template <typename Fn>
Fn library_function(HMODULE library, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

std::wstring widen(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(std::size_t(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), n);
    return wide;
}

std::string narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0) return {};
    std::string utf8(std::size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), utf8.data(), n, nullptr,
                        nullptr);
    return utf8;
}

// --- keyboard ----------------------------------------------------------------

// The code a key message is recorded under: Shift, Ctrl and Alt by side.
int key_code(WPARAM wparam, LPARAM lparam) {
    const int code = int(wparam);
    const unsigned scan = unsigned(lparam >> 16) & 0xFFu;
    const bool extended = (lparam & (LPARAM{1} << 24)) != 0;
    switch (code) {
    case VK_SHIFT: return scan == 0x36 ? VK_RSHIFT : VK_LSHIFT;
    case VK_CONTROL: return extended ? VK_RCONTROL : VK_LCONTROL;
    case VK_MENU: return extended ? VK_RMENU : VK_LMENU;
    default: return code;
    }
}

bool other_process(HWND other) {
    if (other == nullptr) return true;
    DWORD process = 0;
    GetWindowThreadProcessId(other, &process);
    return process != GetCurrentProcessId();
}

// --- pointer -------------------------------------------------------------------

// The show count is only ever at its shown (>= 0) or hidden (-1) level.
void set_pointer_hidden(bool hidden) {
    State& s = state();
    if (s.pointer_hidden == hidden) return;
    s.pointer_hidden = hidden;
    if (hidden) {
        while (ShowCursor(FALSE) >= 0) {}
    } else {
        while (ShowCursor(TRUE) < 0) {}
    }
}

void track_leave() {
    State& s = state();
    if (s.tracking) return;
    TRACKMOUSEEVENT track{};
    track.cbSize = sizeof track;
    track.dwFlags = TME_LEAVE;
    track.hwndTrack = s.window;
    s.tracking = TrackMouseEvent(&track) != FALSE;
}

void pointer_entered() {
    State& s = state();
    if (!s.hide_over_client || events::notice_showing()) return;
    set_pointer_hidden(true);
    track_leave();
}

// --- drawing -------------------------------------------------------------------

// D3D9 is chosen when a HAL device for the desktop's 32-bit format can be made
// for a window.
bool d3d9_usable() {
    State& s = state();
    s.d3d9_library = LoadLibraryW(L"d3d9.dll");
    if (s.d3d9_library == nullptr) return false;
    using Create = IDirect3D9*(WINAPI*)(UINT);
    const auto create = library_function<Create>(s.d3d9_library, "Direct3DCreate9");
    if (create != nullptr) s.d3d = create(D3D_SDK_VERSION);
    D3DDISPLAYMODE mode{};
    if (s.d3d != nullptr &&
        SUCCEEDED(s.d3d->GetAdapterDisplayMode(D3DADAPTER_DEFAULT, &mode)) &&
        mode.Format == D3DFMT_X8R8G8B8 &&
        SUCCEEDED(s.d3d->CheckDeviceType(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, mode.Format,
                                         D3DFMT_X8R8G8B8, TRUE))) {
        return true;
    }
    release(s.d3d);
    FreeLibrary(s.d3d9_library);
    s.d3d9_library = nullptr;
    return false;
}

bool create_device() {
    State& s = state();
    D3DPRESENT_PARAMETERS& p = s.present_parameters;
    p = D3DPRESENT_PARAMETERS{};
    p.BackBufferWidth = kWidth;
    p.BackBufferHeight = kHeight;
    p.BackBufferFormat = D3DFMT_X8R8G8B8;
    p.BackBufferCount = 1;
    p.SwapEffect = D3DSWAPEFFECT_COPY;
    p.hDeviceWindow = s.window;
    p.Windowed = TRUE;
    p.Flags = D3DPRESENTFLAG_LOCKABLE_BACKBUFFER;
    p.PresentationInterval = D3DPRESENT_INTERVAL_IMMEDIATE;
    return SUCCEEDED(s.d3d->CreateDevice(
        D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, s.window,
        D3DCREATE_SOFTWARE_VERTEXPROCESSING | D3DCREATE_FPU_PRESERVE, &p, &s.device));
}

// After a lost device: false while it cannot be used yet.
bool device_ready() {
    State& s = state();
    const HRESULT level = s.device->TestCooperativeLevel();
    if (level == D3DERR_DEVICENOTRESET) {
        if (FAILED(s.device->Reset(&s.present_parameters))) return false;
        s.back_buffer_valid = false;  // its content is gone
        return true;
    }
    return SUCCEEDED(level);
}

constexpr Rect kClient{0, 0, kWidth, kHeight};

// Copies rectangle `r` of the picture `pixels` into the back buffer and
// presents it.
void present_d3d9(const std::uint32_t* pixels, const Rect& r) {
    State& s = state();
    IDirect3DSurface9* back = nullptr;
    if (FAILED(s.device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &back))) return;
    RECT area{r.x0, r.y0, r.x1, r.y1};
    D3DLOCKED_RECT locked{};
    if (SUCCEEDED(back->LockRect(&locked, &area, 0))) {
        auto* target = static_cast<std::uint8_t*>(locked.pBits);
        for (int y = r.y0; y < r.y1; ++y, target += locked.Pitch) {
            std::memcpy(target, pixels + std::size_t(y) * kWidth + std::size_t(r.x0),
                        std::size_t(r.x1 - r.x0) * 4);
        }
        back->UnlockRect();
    }
    back->Release();
    s.device->Present(&area, &area, nullptr, nullptr);
}

// Copies rectangle `r` of the picture `pixels` to the client area, from a
// top-down DIB of the rows it spans.
void present_gdi(HDC dc, const std::uint32_t* pixels, const Rect& r) {
    const int rows = r.y1 - r.y0;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -rows;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    SetDIBitsToDevice(dc, r.x0, r.y0, DWORD(r.x1 - r.x0), DWORD(rows), r.x0, 0, 0, UINT(rows),
                      pixels + std::size_t(r.y0) * kWidth, &info, DIB_RGB_COLORS);
}

// Shows rectangle `r` of the picture last presented.
void show(HDC dc, const Rect& r) {
    State& s = state();
    if (s.drawer == Drawer::d3d9) {
        if (!device_ready()) return;
        // A back buffer that lost its content is refilled whole.
        present_d3d9(s.shown.data(), s.back_buffer_valid ? r : kClient);
        s.back_buffer_valid = true;
    } else {
        present_gdi(dc, s.shown.data(), r);
    }
}

void repaint() {
    State& s = state();
    PAINTSTRUCT paint;
    const HDC dc = BeginPaint(s.window, &paint);
    // Not every driver keeps the back buffer from one present to the next.
    s.back_buffer_valid = false;
    show(dc, kClient);
    EndPaint(s.window, &paint);
}

// --- window procedure ------------------------------------------------------------

LRESULT CALLBACK window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    State& s = state();
    switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
        events::key_down(key_code(wparam, lparam), (lparam & (LPARAM{1} << 30)) != 0, false);
        if (message == WM_SYSKEYDOWN && wparam != VK_F4) return 0;
        break;
    case WM_SYSCHAR:
        // The character of a system key (Alt+Space would open the window menu).
        return 0;
    case WM_KEYUP:
    case WM_SYSKEYUP:
        events::key_up(key_code(wparam, lparam));
        break;
    case WM_ACTIVATE: {
        const bool activated = LOWORD(wparam) != WA_INACTIVE;
        const bool minimised = HIWORD(wparam) != 0;
        if (!(activated && minimised)) {
            events::activation(activated, !other_process(reinterpret_cast<HWND>(lparam)));
        }
        break;
    }
    case WM_CLOSE:
        events::close_request();
        return 0;
    case WM_MOUSEMOVE:
        pointer_entered();
        break;
    case WM_MOUSELEAVE:
        s.tracking = false;
        set_pointer_hidden(false);
        return 0;
    case WM_PAINT:
        repaint();
        return 0;
    case WM_ERASEBKGND:
        return 1;  // the whole client area is painted from the Screen
    default:
        break;
    }
    return DefWindowProcW(window, message, wparam, lparam);
}

// --- files -----------------------------------------------------------------------

std::string error_text(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = n > 0 && buffer != nullptr ? std::wstring(buffer, n) : std::wstring();
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.')) {
        text.pop_back();
    }
    if (text.empty()) return "error " + std::to_string(code);
    return narrow(text);
}

class Win32File final : public OutputFile {
public:
    Win32File(HANDLE handle, DWORD* error) : handle_(handle), error_(error) {}
    ~Win32File() override {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }

    bool write(const void* data, std::size_t size) override {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        while (size > 0) {
            const DWORD chunk = size > 0x40000000u ? 0x40000000u : DWORD(size);
            DWORD written = 0;
            if (!WriteFile(handle_, bytes, chunk, &written, nullptr) || written == 0) {
                *error_ = written == 0 && GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL
                                                                           : GetLastError();
                return false;
            }
            bytes += written;
            size -= written;
        }
        return true;
    }

    // The bytes reach the disk before the close reports success: the caller
    // moves this file over the previous save next.
    bool close() override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            *error_ = ERROR_INVALID_HANDLE;
            return false;
        }
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        const bool flushed = FlushFileBuffers(handle) != FALSE;
        if (!flushed) *error_ = GetLastError();
        if (!CloseHandle(handle)) {
            if (flushed) *error_ = GetLastError();
            return false;
        }
        return flushed;
    }

private:
    HANDLE handle_;
    DWORD* error_;
};

class Win32Files final : public FileSystem {
public:
    std::unique_ptr<OutputFile> create_new(const std::string& path, bool& taken) override {
        // CREATE_NEW: only a file made by this call is opened; anything at
        // the name, a link included, makes it fail.
        const HANDLE handle = CreateFileW(widen(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            error_ = GetLastError();
            taken = error_ == ERROR_FILE_EXISTS || error_ == ERROR_ALREADY_EXISTS;
            return nullptr;
        }
        return std::make_unique<Win32File>(handle, &error_);
    }

    // MOVEFILE_WRITE_THROUGH: returns once the move has reached the disk.
    bool replace(const std::string& from, const std::string& to) override {
        if (MoveFileExW(widen(from).c_str(), widen(to).c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        error_ = GetLastError();
        return false;
    }

    bool remove(const std::string& path) override {
        if (DeleteFileW(widen(path).c_str())) return true;
        error_ = GetLastError();
        return false;
    }

    std::string last_error() const override { return error_text(error_); }

private:
    DWORD error_ = ERROR_SUCCESS;
};

}  // namespace

// --- the backend functions ------------------------------------------------------------

void enter_executable_folder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (n == 0) return;
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        if (path.size() >= 32768) return;
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return;
    path.resize(slash == 2 && path[1] == L':' ? slash + 1 : slash);  // keep "C:\"
    SetCurrentDirectoryW(path.c_str());
}

bool start(std::string&) {
    State& s = state();
    s.instance = GetModuleHandleW(nullptr);
    s.timer_raised = timeBeginPeriod(1) == TIMERR_NOERROR;
    s.drawer = d3d9_usable() ? Drawer::d3d9 : Drawer::gdi;
    return true;
}

bool open_window(const std::string& caption, int width, int height, std::string& why) {
    State& s = state();
    WNDCLASSEXW window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.style = CS_OWNDC;
    window_class.lpfnWndProc = window_proc;
    window_class.hInstance = s.instance;
    window_class.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    window_class.lpszClassName = kClassName;
    RegisterClassExW(&window_class);

    // The client area centred on the primary display, the frame around it.
    RECT display{};
    GetWindowRect(GetDesktopWindow(), &display);
    RECT frame{display.right / 2 - width / 2, display.bottom / 2 - height / 2, 0, 0};
    frame.right = frame.left + width;
    frame.bottom = frame.top + height;
    AdjustWindowRect(&frame, kStyle, FALSE);

    s.shown.assign(std::size_t{kWidth} * kHeight, 0);
    s.back_buffer_valid = false;
    s.window = CreateWindowExW(0, kClassName, widen(caption).c_str(), kStyle | WS_VISIBLE,
                               frame.left, frame.top, frame.right - frame.left,
                               frame.bottom - frame.top, nullptr, nullptr, s.instance, nullptr);
    if (s.window == nullptr) {
        why = error_text(GetLastError());
        return false;
    }
    if (s.drawer == Drawer::d3d9 && !create_device()) {
        release(s.d3d);
        FreeLibrary(s.d3d9_library);
        s.d3d9_library = nullptr;
        s.drawer = Drawer::gdi;
    }
    return true;
}

void hide_pointer() {
    State& s = state();
    s.hide_over_client = true;
    if (s.window == nullptr) return;
    POINT at{};
    RECT client{};
    if (GetCursorPos(&at) && WindowFromPoint(at) == s.window && ScreenToClient(s.window, &at) &&
        GetClientRect(s.window, &client) && PtInRect(&client, at)) {
        pointer_entered();
    }
}

void pump() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void present(const Screen& screen, const Rect& changed) {
    State& s = state();
    const Rect r = changed.intersect(kClient);
    if (s.window == nullptr || r.empty()) return;
    for (int y = r.y0; y < r.y1; ++y) {
        std::memcpy(&s.shown[std::size_t(y) * kWidth + std::size_t(r.x0)], screen.row(y) + r.x0,
                    std::size_t(r.x1 - r.x0) * 4);
    }
    const HDC dc = s.drawer == Drawer::gdi ? GetDC(s.window) : nullptr;
    show(dc, r);
    if (dc != nullptr) ReleaseDC(s.window, dc);
}

bool show_notice(const std::string& caption, const std::string& text) {
    State& s = state();
    const HWND focus = GetFocus();
    // The box is ours: the pointer shows over it.
    set_pointer_hidden(false);
    const int answer = MessageBoxW(GetActiveWindow(), widen(text).c_str(), widen(caption).c_str(),
                                   MB_OK | MB_ICONINFORMATION | MB_TOPMOST);
    SetFocus(focus);
    if (s.tracking) {
        // Leave tracking ended with the box; the next move over the client
        // area hides the pointer again.
        TRACKMOUSEEVENT cancel{};
        cancel.cbSize = sizeof cancel;
        cancel.dwFlags = TME_LEAVE | TME_CANCEL;
        cancel.hwndTrack = s.window;
        TrackMouseEvent(&cancel);
        s.tracking = false;
    }
    return answer != 0;
}

std::uint32_t clock_ms() { return timeGetTime(); }

void sleep_ms(std::int32_t ms) {
    if (ms > 0) Sleep(DWORD(ms));
}

bool sound_open() {
    State& s = state();
    s.dsound_library = LoadLibraryW(L"dsound.dll");
    if (s.dsound_library == nullptr) return false;
    using Create = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);
    const auto create = library_function<Create>(s.dsound_library, "DirectSoundCreate");
    if (create != nullptr && SUCCEEDED(create(nullptr, &s.dsound, nullptr)) &&
        SUCCEEDED(s.dsound->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY))) {
        return true;
    }
    release(s.dsound);
    FreeLibrary(s.dsound_library);
    s.dsound_library = nullptr;
    return false;
}

Voice* sound_create(const PcmSample& sample) {
    State& s = state();
    if (s.dsound == nullptr) return nullptr;
    if ((sample.channels != 1 && sample.channels != 2) || (sample.bits != 8 && sample.bits != 16)) {
        return nullptr;
    }
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = WORD(sample.channels);
    format.nSamplesPerSec = sample.rate;
    format.wBitsPerSample = WORD(sample.bits);
    format.nBlockAlign = WORD(sample.channels * sample.bits / 8);
    format.nAvgBytesPerSec = sample.rate * format.nBlockAlign;
    const std::size_t bytes = sample.data.size() - sample.data.size() % format.nBlockAlign;
    if (bytes < DSBSIZE_MIN || bytes > DSBSIZE_MAX) return nullptr;

    DSBUFFERDESC description{};
    description.dwSize = sizeof description;
    description.dwFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY |
                          DSBCAPS_GLOBALFOCUS | DSBCAPS_STATIC;
    description.dwBufferBytes = DWORD(bytes);
    description.lpwfxFormat = &format;
    IDirectSoundBuffer* buffer = nullptr;
    if (FAILED(s.dsound->CreateSoundBuffer(&description, &buffer, nullptr))) return nullptr;

    void* first = nullptr;
    void* second = nullptr;
    DWORD first_bytes = 0;
    DWORD second_bytes = 0;
    if (FAILED(buffer->Lock(0, DWORD(bytes), &first, &first_bytes, &second, &second_bytes, 0))) {
        buffer->Release();
        return nullptr;
    }
    std::memcpy(first, sample.data.data(), first_bytes);
    if (second != nullptr) std::memcpy(second, sample.data.data() + first_bytes, second_bytes);
    buffer->Unlock(first, first_bytes, second, second_bytes);

    Voice& voice = s.voices.emplace_back();
    voice.original = buffer;
    voice.copies.push_back(buffer);
    voice.rate = sample.rate;
    return &voice;
}

void sound_play(Voice* voice) {
    State& s = state();
    if (voice == nullptr || s.dsound == nullptr) return;
    IDirectSoundBuffer* copy = nullptr;
    for (IDirectSoundBuffer* candidate : voice->copies) {
        DWORD status = 0;
        if (SUCCEEDED(candidate->GetStatus(&status)) && (status & DSBSTATUS_PLAYING) == 0) {
            copy = candidate;
            break;
        }
    }
    if (copy == nullptr) {
        if (FAILED(s.dsound->DuplicateSoundBuffer(voice->original, &copy))) return;
        voice->copies.push_back(copy);
    }
    copy->SetCurrentPosition(0);
    copy->SetVolume(DSBVOLUME_MAX);
    copy->SetPan(DSBPAN_CENTER);
    copy->SetFrequency(voice->rate);
    copy->Play(0, 0, 0);
}

FileSystem& native_files() {
    static Win32Files files;
    return files;
}

void shutdown() {
    State& s = state();
    for (Voice& voice : s.voices) {
        for (IDirectSoundBuffer*& copy : voice.copies) {
            copy->Stop();
            release(copy);
        }
        voice.copies.clear();
        voice.original = nullptr;
    }
    release(s.dsound);
    if (s.dsound_library != nullptr) FreeLibrary(s.dsound_library);
    s.dsound_library = nullptr;

    release(s.device);
    release(s.d3d);
    if (s.d3d9_library != nullptr) FreeLibrary(s.d3d9_library);
    s.d3d9_library = nullptr;

    if (s.window != nullptr) {
        set_pointer_hidden(false);
        DestroyWindow(s.window);
        s.window = nullptr;
        UnregisterClassW(kClassName, s.instance);
    }
    if (s.timer_raised) timeEndPeriod(1);
    s.timer_raised = false;
}

}  // namespace platform::backend
