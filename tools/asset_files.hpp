// Shared pieces of the asset tool: a plain RGB picture, the colours of the
// toy, and the makers of the three generated contents.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace make_assets {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(Rgb, Rgb) = default;
};

inline constexpr Rgb kBlack{0, 0, 0};  // transparent once loaded
inline constexpr Rgb kBodyRed{237, 28, 36};
inline constexpr Rgb kYellow{255, 242, 0};
inline constexpr Rgb kKnobBlue{0, 183, 239};

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;  // top row first

    Picture(int w, int h, Rgb fill) : width(w), height(h), pixels(std::size_t(w) * h, fill) {}
    Rgb& at(int x, int y) { return pixels[std::size_t(y) * width + x]; }
    Rgb at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
};

// An inclusive pixel rectangle.
struct Box {
    int x0, y0, x1, y1;
    int width() const { return x1 - x0 + 1; }
    int height() const { return y1 - y0 + 1; }
    bool contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
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
