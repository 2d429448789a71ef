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
        {SDLK_KP_0, 96},     {SDLK_KP_9, 105},     {SDLK_DELETE, 46},   {SDLK_HOME, 36},
        {SDLK_PAGEDOWN, 34}, {SDLK_SEMICOLON, 186}, {SDLK_QUOTE, 222},  {SDLK_VOLUMEUP, 0},
        {SDLK_UNKNOWN, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(virtual_key(c.sym), c.code) << SDL_GetKeyName(c.sym);
}

}  // namespace
