#include <gtest/gtest.h>

#include "platform/sdl/sdl_keymap.hpp"

namespace {

using platform::sdl::virtual_key;

TEST(SdlKeymap, MapsToVirtualKeyCodes) {
    const struct {
        SDL_Keycode sym;
        int code;
    } cases[] = {
        {SDLK_a, 65},        {SDLK_z, 90},         {SDLK_0, 48},        {SDLK_9, 57},
        {SDLK_F1, 112},      {SDLK_F12, 123},      {SDLK_F13, 124},     {SDLK_F24, 135},
        {SDLK_LEFT, 37},     {SDLK_UP, 38},        {SDLK_RIGHT, 39},    {SDLK_DOWN, 40},
        {SDLK_BACKSPACE, 8}, {SDLK_TAB, 9},        {SDLK_RETURN, 13},   {SDLK_KP_ENTER, 13},
        {SDLK_ESCAPE, 27},   {SDLK_SPACE, 32},     {SDLK_LSHIFT, 160},  {SDLK_RSHIFT, 161},
        {SDLK_LCTRL, 162},   {SDLK_RCTRL, 163},    {SDLK_LALT, 164},    {SDLK_RALT, 165},
        {SDLK_DELETE, 46},   {SDLK_HOME, 36},
        {SDLK_PAGEDOWN, 34}, {SDLK_SEMICOLON, 186}, {SDLK_QUOTE, 222},  {SDLK_VOLUMEUP, 0},
        {SDLK_UNKNOWN, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(virtual_key(c.sym), c.code) << SDL_GetKeyName(c.sym);
}

// The keypad by scancode: NumLock on gives the digits, off the keys printed
// beside them, whatever symbol the layout reports.
TEST(SdlKeymap, KeypadFollowsNumLock) {
    const struct {
        SDL_Scancode scancode;
        int numlock_on, numlock_off;
    } cases[] = {
        {SDL_SCANCODE_KP_8, 104, 38}, {SDL_SCANCODE_KP_2, 98, 40},  {SDL_SCANCODE_KP_4, 100, 37},
        {SDL_SCANCODE_KP_6, 102, 39}, {SDL_SCANCODE_KP_7, 103, 36}, {SDL_SCANCODE_KP_1, 97, 35},
        {SDL_SCANCODE_KP_9, 105, 33}, {SDL_SCANCODE_KP_3, 99, 34},  {SDL_SCANCODE_KP_0, 96, 45},
        {SDL_SCANCODE_KP_PERIOD, 110, 46}, {SDL_SCANCODE_KP_5, 101, 12},
    };
    for (const auto& c : cases) {
        const SDL_Keycode sym = SDL_SCANCODE_TO_KEYCODE(c.scancode);
        EXPECT_EQ(virtual_key(SDL_Keysym{c.scancode, sym, KMOD_NUM, 0}), c.numlock_on) << c.scancode;
        EXPECT_EQ(virtual_key(SDL_Keysym{c.scancode, sym, KMOD_NONE, 0}), c.numlock_off) << c.scancode;
        EXPECT_EQ(virtual_key(SDL_Keysym{c.scancode, SDLK_UNKNOWN, KMOD_NONE, 0}), c.numlock_off) << c.scancode;
    }
    // Keys outside the keypad's digits do not depend on NumLock.
    EXPECT_EQ(virtual_key(SDL_Keysym{SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER, KMOD_NONE, 0}), 13);
    EXPECT_EQ(virtual_key(SDL_Keysym{SDL_SCANCODE_RIGHT, SDLK_RIGHT, KMOD_NUM, 0}), 39);
}

}  // namespace
