// The toy as the user sees it: its title, the colours of its built-in
// pictures and where things are on its 800 x 600 picture. This file is the
// one definition: the program's title, the asset tool that paints the
// pictures, the unit tests and the end-to-end tests (tests/e2e/xharness.py,
// which reads this file as text) all take them from here.
//
// Keep every value on a line of its own, written as below
// (`inline constexpr Type kName{...};` or `inline constexpr Type kName = ...;`),
// so that the end-to-end tests can read it.
#pragma once

#include <cstdint>
#include <string_view>

namespace toy {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(Rgb, Rgb) = default;
};

// An inclusive pixel rectangle: x0..x1 and y0..y1, both ends included.
struct Box {
    int x0, y0, x1, y1;
    constexpr int width() const { return x1 - x0 + 1; }
    constexpr int height() const { return y1 - y0 + 1; }
    constexpr bool contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
    friend bool operator==(Box, Box) = default;
};

struct Point {
    int x, y;
};

// The caption of the window and of every notice box.
inline constexpr std::string_view kTitle = "Twin-Dial";

// The size of the toy's picture, which fills the window's client area.
inline constexpr int kWidth = 800;
inline constexpr int kHeight = 600;

// Colours of the built-in pictures.
inline constexpr Rgb kBlack{0, 0, 0};  // transparent once loaded
inline constexpr Rgb kBody{237, 28, 36};
inline constexpr Rgb kYellow{255, 242, 0};
inline constexpr Rgb kKnob{0, 183, 239};
inline constexpr Rgb kBackdrop{192, 220, 192};
inline constexpr Rgb kBrushLight{102, 102, 102};  // the brush's corners and centre
inline constexpr Rgb kBrushDark{51, 51, 51};      // the brush's edge midpoints

// The frame's transparent drawing area, through which the Screen shows.
inline constexpr Box kDrawingArea{110, 54, 684, 477};
// Where the pen's brush starts: its top-left pixel.
inline constexpr Point kPenStart{400, 300};

}  // namespace toy
