// Shared pieces of the asset tool: a plain RGB picture and the makers of the
// three generated contents. The toy's colours and places come from
// assets/toy.hpp.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "assets/toy.hpp"

namespace make_assets {

using toy::Box;
using toy::Rgb;

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;  // top row first

    Picture(int w, int h, Rgb fill) : width(w), height(h), pixels(std::size_t(w) * h, fill) {}
    Rgb& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }
    Rgb at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

// The 800 x 600 toy frame; the lettering is rendered with the DejaVu fonts
// found in `font_dir`. Throws std::runtime_error when it cannot be made.
Picture make_frame(const std::string& font_dir);

// The 56 x 56 pencil on black.
Picture make_pen();

// The rattle: 10368 mono samples at 11025 Hz.
inline constexpr int kShakeRate = 11025;
inline constexpr int kShakeFrames = 10368;
std::vector<std::int16_t> make_shake();

}  // namespace make_assets
