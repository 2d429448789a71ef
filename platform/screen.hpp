// The Screen: the 800x600 CPU surface that receives all drawing, and the
// prepared images drawn onto it by mask blend.
//
// Pixels are 32-bit XRGB8888 (0x00RRGGBB), which is the display format on
// every backend and, read as bytes on a little-endian machine, is blue,
// green, red, unused. The Screen is never cleared by the program and
// presents never change it.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

// A rectangle of Screen pixels: columns x0 to x1 - 1, rows y0 to y1 - 1.
struct Rect {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool empty() const { return x0 >= x1 || y0 >= y1; }
    void unite(const Rect& r);
    Rect intersect(const Rect& r) const;
};

// A picture made ready for drawing: its pixels in the Screen's format and,
// per row, the runs of opaque pixels. Drawing copies the runs and nothing
// else, so a draw does no per-pixel alpha test.
struct Sprite {
    struct Run {
        std::int32_t x;       // first pixel of the run in its row
        std::int32_t length;  // number of opaque pixels
    };
    std::uint64_t id = 0;  // tells sprites apart; copies share it
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint32_t> pixels;     // width * height, XRGB8888
    std::vector<Run> runs;                 // all rows' runs, row after row
    std::vector<std::uint32_t> row_runs;   // height + 1 offsets into runs

    // Builds a sprite from 8-bit RGBA pixels (row-major, top row first).
    // A pixel whose alpha is at least 128 is opaque (the mask blend rule).
    static Sprite from_rgba(std::int32_t width, std::int32_t height,
                            const std::uint8_t* rgba);
};

// The Screen keeps track of what changed since the last present, so a
// present moves only that. It also remembers, for the last few sprites
// drawn, where each was drawn and which pixels were drawn over since: a
// sprite drawn again at the same place only needs those pixels redrawn,
// which is how the frame redrawn every pass costs next to nothing.
class Screen {
public:
    static constexpr int kWidth = 800;
    static constexpr int kHeight = 600;

    Screen() : pixels_(std::size_t{kWidth} * kHeight, 0) {}

    const std::uint32_t* pixels() const { return pixels_.data(); }
    const std::uint32_t* row(int y) const { return pixels_.data() + std::size_t(y) * kWidth; }
    std::uint32_t at(int x, int y) const { return row(y)[x]; }

    // Pixels for writing directly; the whole Screen then counts as changed.
    std::uint32_t* edit_pixels() {
        touched({0, 0, kWidth, kHeight});
        return pixels_.data();
    }
    void fill(std::uint32_t xrgb);

    // Mask-blend draw with the sprite's top-left pixel at (x, y). Any 64-bit
    // position is valid; what falls outside the Screen is clipped.
    void draw(const Sprite& sprite, std::int64_t x, std::int64_t y);

    // The smallest rectangle holding every pixel that changed since
    // mark_presented(); drawing pixels that are already there changes nothing.
    const Rect& changed() const { return changed_; }
    void mark_presented() { changed_ = {}; }

private:
    struct Placement {
        std::uint64_t sprite = 0;  // 0: unused slot
        std::int64_t x = 0, y = 0;
        Rect overdrawn;            // drawn over since the sprite was drawn here
    };
    void touched(const Rect& r);

    std::vector<std::uint32_t> pixels_;
    Rect changed_{0, 0, kWidth, kHeight};
    Placement placements_[4];
    unsigned next_slot_ = 0;
};

constexpr std::uint32_t xrgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    return (std::uint32_t{r} << 16) | (std::uint32_t{g} << 8) | b;
}

}  // namespace platform
