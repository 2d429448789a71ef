// SDL keys to Windows virtual-key codes; 0 for keys without one.
#pragma once

#include <SDL.h>

namespace platform::sdl {

// The keypad's digit and decimal-point keys, told apart by scancode. With
// NumLock on they are the keypad digits (96-105) and decimal point (110);
// with it off they are the keys printed beside the digits, as Windows
// reports them: the arrows, Home, End, Page Up, Page Down, Insert, Delete
// and, for 5, Clear.
struct KeypadKey {
    SDL_Scancode scancode;
    int numlock_on;
    int numlock_off;
};

inline const KeypadKey* keypad_key(SDL_Scancode scancode) {
    static constexpr KeypadKey keys[] = {
        {SDL_SCANCODE_KP_0, 96, 45},  {SDL_SCANCODE_KP_1, 97, 35},  {SDL_SCANCODE_KP_2, 98, 40},
        {SDL_SCANCODE_KP_3, 99, 34},  {SDL_SCANCODE_KP_4, 100, 37}, {SDL_SCANCODE_KP_5, 101, 12},
        {SDL_SCANCODE_KP_6, 102, 39}, {SDL_SCANCODE_KP_7, 103, 36}, {SDL_SCANCODE_KP_8, 104, 38},
        {SDL_SCANCODE_KP_9, 105, 33}, {SDL_SCANCODE_KP_PERIOD, 110, 46},
    };
    for (const KeypadKey& k : keys)
        if (k.scancode == scancode) return &k;
    return nullptr;
}

inline int virtual_key(SDL_Keycode sym) {
    if (sym >= SDLK_a && sym <= SDLK_z) return 'A' + int(sym - SDLK_a);
    if (sym >= SDLK_0 && sym <= SDLK_9) return '0' + int(sym - SDLK_0);
    if (sym >= SDLK_F1 && sym <= SDLK_F12) return 112 + int(sym - SDLK_F1);
    if (sym >= SDLK_F13 && sym <= SDLK_F24) return 124 + int(sym - SDLK_F13);
    switch (sym) {
        case SDLK_BACKSPACE: return 8;
        case SDLK_TAB: return 9;
        case SDLK_CLEAR: return 12;
        case SDLK_RETURN: case SDLK_KP_ENTER: return 13;
        case SDLK_PAUSE: return 19;
        case SDLK_CAPSLOCK: return 20;
        case SDLK_ESCAPE: return 27;
        case SDLK_SPACE: return 32;
        case SDLK_PAGEUP: return 33;
        case SDLK_PAGEDOWN: return 34;
        case SDLK_END: return 35;
        case SDLK_HOME: return 36;
        case SDLK_LEFT: return 37;
        case SDLK_UP: return 38;
        case SDLK_RIGHT: return 39;
        case SDLK_DOWN: return 40;
        case SDLK_PRINTSCREEN: return 44;
        case SDLK_INSERT: return 45;
        case SDLK_DELETE: return 46;
        case SDLK_LGUI: return 91;
        case SDLK_RGUI: return 92;
        case SDLK_APPLICATION: return 93;
        case SDLK_KP_MULTIPLY: return 106;
        case SDLK_KP_PLUS: return 107;
        case SDLK_KP_MINUS: return 109;
        case SDLK_KP_DIVIDE: return 111;
        case SDLK_NUMLOCKCLEAR: return 144;
        case SDLK_SCROLLLOCK: return 145;
        case SDLK_LSHIFT: return 160;
        case SDLK_RSHIFT: return 161;
        case SDLK_LCTRL: return 162;
        case SDLK_RCTRL: return 163;
        case SDLK_LALT: return 164;
        case SDLK_RALT: return 165;
        case SDLK_SEMICOLON: return 186;
        case SDLK_EQUALS: return 187;
        case SDLK_COMMA: return 188;
        case SDLK_MINUS: return 189;
        case SDLK_PERIOD: return 190;
        case SDLK_SLASH: return 191;
        case SDLK_BACKQUOTE: return 192;
        case SDLK_LEFTBRACKET: return 219;
        case SDLK_BACKSLASH: return 220;
        case SDLK_RIGHTBRACKET: return 221;
        case SDLK_QUOTE: return 222;
        default: return 0;
    }
}

// The code of a pressed key, with the keypad read by the NumLock state the
// event carries.
inline int virtual_key(const SDL_Keysym& key) {
    if (const KeypadKey* k = keypad_key(key.scancode)) return (key.mod & KMOD_NUM) != 0 ? k->numlock_on : k->numlock_off;
    return virtual_key(key.sym);
}

}  // namespace platform::sdl
