// The toy frame: a red body, a yellow-bordered black drawing area, two blue
// knobs ringed in black, and four lines of yellow lettering rendered with
// FreeType.
//
// Every lettering line is stretched until its ink fills its box exactly. The
// glyph coverage then becomes colours: the strongest pixels are full yellow,
// the next ones one of 56 blends from the body red to the yellow, and the
// faintest stay red, so the picture holds fixed numbers of each.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/asset_files.hpp"

namespace make_assets {
namespace {

using toy::kBlack, toy::kBody, toy::kDrawingArea, toy::kHeight, toy::kKnob, toy::kWidth, toy::kYellow;

constexpr Box kBorderOuter{100, 45, 696, 485};

// The left knob's disc is the ellipse through these pixel centres; the right
// knob is the same disc moved by kRightKnobShift.
constexpr double kKnobCentreX = 76.5, kKnobCentreY = 542.0;
constexpr double kKnobRadiusX = 42.73, kKnobRadiusY = 41.56;
constexpr int kRightKnobShiftX = 640, kRightKnobShiftY = 5;

// ---------------------------------------------------------------------------
// Lettering.

struct LetteringLine {
    std::u32string_view text;
    const char* font_file;
    Box box;
    double slant;     // horizontal shift per pixel of height (italic)
    double tracking;  // extra space after each letter, in pixels
};

// The title is DejaVu Sans Bold slanted by the renderer: a bold italic that
// needs nothing beyond the core DejaVu fonts.
constexpr LetteringLine kLettering[] = {
    {U"Hold the arrow keys to draw \u00b7 Backspace shakes the screen clean", "DejaVuSans.ttf",
     {171, 9, 598, 23}, 0.0, 0.0},
    {U"TWIN-DIAL", "DejaVuSans-Bold.ttf", {262, 508, 510, 530}, 0.21, 1.0},
    {U"Enter saves a picture of your drawing", "DejaVuSans.ttf", {241, 551, 540, 565}, 0.0, 0.0},
    {U"Esc quits \u00b7 have fun drawing", "DejaVuSans.ttf", {296, 576, 485, 587}, 0.0, 0.0},
};

// Coverage below this counts as no ink when a line is fitted to its box.
constexpr int kInkThreshold = 8;

// What the lettering must come to over all four lines.
constexpr int kFullYellowPixels = 2285;
constexpr int kShadedPixels = 5025;
constexpr int kShades = 56;

struct Coverage {
    int width = 0, height = 0;
    std::vector<std::uint8_t> value;
    Box ink{0, 0, -1, -1};  // pixels of at least kInkThreshold; empty when x1 < x0
    bool overflow = false;  // some ink fell outside the canvas

    int ink_width() const { return overflow ? 1 << 20 : ink.width(); }
    int ink_height() const { return overflow ? 1 << 20 : ink.height(); }
};

class Font {
public:
    explicit Font(const std::string& path) {
        if (FT_Init_FreeType(&library_) != 0) throw std::runtime_error("FreeType does not start");
        if (FT_New_Face(library_, path.c_str(), 0, &face_) != 0) {
            FT_Done_FreeType(library_);
            throw std::runtime_error("cannot open font " + path);
        }
        FT_Set_Pixel_Sizes(face_, 0, kBaseSize);
    }
    ~Font() {
        FT_Done_Face(face_);
        FT_Done_FreeType(library_);
    }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    // Renders `text` at kBaseSize scaled by (sx, sy), the baseline raised by
    // `rise` pixels, into a canvas large enough for any scale used here.
    Coverage render(const LetteringLine& line, double sx, double sy, double rise) const {
        Coverage canvas;
        canvas.width = line.box.width() * 2 + 64;
        canvas.height = line.box.height() * 3 + 32;
        canvas.value.assign(std::size_t(canvas.width) * canvas.height, 0);
        const int origin_x = 16, origin_y = line.box.height() * 2 + 16;

        FT_Matrix matrix;
        matrix.xx = FT_Fixed(sx * 65536.0);
        matrix.xy = FT_Fixed(line.slant * sy * 65536.0);
        matrix.yx = 0;
        matrix.yy = FT_Fixed(sy * 65536.0);

        double pen = 0.0;
        FT_UInt previous = 0;
        for (char32_t ch : line.text) {
            const FT_UInt glyph = FT_Get_Char_Index(face_, FT_ULong(ch));
            if (previous != 0 && FT_HAS_KERNING(face_)) {
                FT_Vector kern;
                if (FT_Get_Kerning(face_, previous, glyph, FT_KERNING_UNSCALED, &kern) == 0)
                    pen += double(kern.x) * kBaseSize / face_->units_per_EM * sx;
            }
            FT_Vector delta;
            delta.x = FT_Pos(pen * 64.0);
            delta.y = FT_Pos(rise * 64.0);
            FT_Set_Transform(face_, &matrix, &delta);
            if (FT_Load_Glyph(face_, glyph, FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP | FT_LOAD_RENDER) != 0)
                throw std::runtime_error("cannot render a glyph");
            const FT_GlyphSlot slot = face_->glyph;
            const FT_Bitmap& bitmap = slot->bitmap;
            for (unsigned row = 0; row < bitmap.rows; ++row) {
                for (unsigned col = 0; col < bitmap.width; ++col) {
                    const int x = origin_x + slot->bitmap_left + int(col);
                    const int y = origin_y - slot->bitmap_top + int(row);
                    if (x < 0 || y < 0 || x >= canvas.width || y >= canvas.height) {
                        canvas.overflow = true;
                        continue;
                    }
                    std::uint8_t& v = canvas.value[std::size_t(y) * canvas.width + x];
                    v = std::max(v, bitmap.buffer[std::ptrdiff_t(row) * bitmap.pitch + col]);
                }
            }
            pen += double(slot->linearHoriAdvance) / 65536.0 * sx + line.tracking;
            previous = glyph;
        }
        FT_Set_Transform(face_, nullptr, nullptr);

        for (int y = 0; y < canvas.height; ++y) {
            for (int x = 0; x < canvas.width; ++x) {
                if (canvas.value[std::size_t(y) * canvas.width + x] < kInkThreshold) continue;
                Box& ink = canvas.ink;
                if (ink.x1 < ink.x0) {
                    ink = {x, y, x, y};
                } else {
                    ink.x0 = std::min(ink.x0, x);
                    ink.x1 = std::max(ink.x1, x);
                    ink.y0 = std::min(ink.y0, y);
                    ink.y1 = std::max(ink.y1, y);
                }
            }
        }
        return canvas;
    }

    static constexpr int kBaseSize = 32;

private:
    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
};

// Finds a scale in [lo, hi] whose ink extent, as `extent` measures it, is
// exactly `target` pixels; the extent grows with the scale in whole steps.
template <typename Extent>
bool fit_scale(Extent extent, int target, double lo, double hi, double& scale) {
    for (int i = 0; i < 48; ++i) {
        const double mid = (lo + hi) / 2;
        const int e = extent(mid);
        if (e == target) {
            scale = mid;
            return true;
        }
        (e < target ? lo : hi) = mid;
    }
    return false;
}

// Renders one line so that its ink spans its box exactly. The height is
// fitted first with the letters in proportion, then the width; as the width
// can move the faintest rows a little, the two are fitted in turn until both
// hold. A sub-pixel shift of the baseline helps where no scale fits.
Coverage fit_line(const Font& font, const LetteringLine& line) {
    const int width = line.box.width(), height = line.box.height();
    for (int step = 0; step < 8; ++step) {
        const double rise = step / 8.0;
        double sy = 0, sx = 0;
        if (!fit_scale([&](double s) { return font.render(line, s, s, rise).ink_height(); }, height, 0.05, 3.0, sy))
            continue;
        sx = sy;
        for (int round = 0; round < 6; ++round) {
            const Coverage fitted = font.render(line, sx, sy, rise);
            if (!fitted.overflow && fitted.ink.width() == width && fitted.ink.height() == height) {
                std::printf("  lettering at %d,%d: scale %.4f x %.4f\n", line.box.x0, line.box.y0, sx, sy);
                return fitted;
            }
            if (fitted.ink_width() != width &&
                !fit_scale([&](double s) { return font.render(line, s, sy, rise).ink_width(); }, width, 0.05, 3.0, sx))
                break;
            if (font.render(line, sx, sy, rise).ink_height() != height &&
                !fit_scale([&](double s) { return font.render(line, sx, s, rise).ink_height(); }, height, 0.05, 3.0, sy))
                break;
        }
    }
    throw std::runtime_error("a lettering line cannot be fitted to its box");
}

Rgb blend(Rgb from, Rgb to, int level, int levels) {
    auto mix = [&](int a, int b) { return std::uint8_t((a * (levels - level) + b * level + levels / 2) / levels); };
    return {mix(from.r, to.r), mix(from.g, to.g), mix(from.b, to.b)};
}

void draw_lettering(Picture& frame, const std::string& font_dir) {
    // Coverage of every frame pixel, from all lines, and for each line the
    // strongest pixel on each of its box's four edges: those keep some ink
    // whatever the counts ask, so every line still spans its box.
    std::vector<int> coverage(std::size_t(kWidth) * kHeight, 0);
    std::vector<bool> keep(coverage.size(), false);
    for (const LetteringLine& line : kLettering) {
        const Font font(font_dir + "/" + line.font_file);
        const Coverage c = fit_line(font, line);
        std::size_t edge_best[4] = {0, 0, 0, 0};
        int edge_value[4] = {-1, -1, -1, -1};
        for (int y = c.ink.y0; y <= c.ink.y1; ++y) {
            for (int x = c.ink.x0; x <= c.ink.x1; ++x) {
                const int v = c.value[std::size_t(y) * c.width + x];
                if (v < kInkThreshold) continue;
                const int fx = line.box.x0 + x - c.ink.x0, fy = line.box.y0 + y - c.ink.y0;
                const std::size_t at = std::size_t(fy) * kWidth + fx;
                coverage[at] = v;
                const bool on_edge[4] = {x == c.ink.x0, x == c.ink.x1, y == c.ink.y0, y == c.ink.y1};
                for (int e = 0; e < 4; ++e) {
                    if (on_edge[e] && v > edge_value[e]) {
                        edge_value[e] = v;
                        edge_best[e] = at;
                    }
                }
            }
        }
        for (std::size_t at : edge_best) keep[at] = true;
    }

    // Strongest first; equal coverage in frame order.
    std::vector<std::size_t> inked;
    for (std::size_t at = 0; at < coverage.size(); ++at)
        if (coverage[at] > 0) inked.push_back(at);
    std::stable_sort(inked.begin(), inked.end(),
                     [&](std::size_t a, std::size_t b) { return coverage[a] > coverage[b]; });
    const std::size_t wanted = kFullYellowPixels + kShadedPixels;
    if (inked.size() < wanted)
        throw std::runtime_error("the lettering has too little ink: " + std::to_string(inked.size()));

    std::vector<std::size_t> shaded;
    for (std::size_t i = 0; i < inked.size(); ++i) {
        const std::size_t at = inked[i];
        if (i < kFullYellowPixels) {
            frame.pixels[at] = kYellow;
        } else if (keep[at]) {
            shaded.push_back(at);
        }
    }
    for (std::size_t i = kFullYellowPixels; i < inked.size() && shaded.size() < kShadedPixels; ++i)
        if (!keep[inked[i]]) shaded.push_back(inked[i]);

    // Shades spread evenly over the coverage the shaded pixels span.
    int lo = 255, hi = 0;
    for (std::size_t at : shaded) {
        lo = std::min(lo, coverage[at]);
        hi = std::max(hi, coverage[at]);
    }
    std::vector<bool> level_used(kShades + 1, false);
    for (std::size_t at : shaded) {
        const int level = 1 + (coverage[at] - lo) * kShades / (hi - lo + 1);
        frame.pixels[at] = blend(kBody, kYellow, level, kShades + 1);
        level_used[std::size_t(level)] = true;
    }
    if (std::count(level_used.begin(), level_used.end(), true) != kShades)
        throw std::runtime_error("the lettering does not use every shade");
    std::printf("  lettering: %zu inked pixels, shades from coverage %d to %d\n", inked.size(), lo, hi);
}

// ---------------------------------------------------------------------------
// Geometry.

void fill(Picture& picture, Box box, Rgb colour) {
    for (int y = box.y0; y <= box.y1; ++y)
        for (int x = box.x0; x <= box.x1; ++x) picture.at(x, y) = colour;
}

bool in_knob_disc(int x, int y) {
    const double dx = (x - kKnobCentreX) / kKnobRadiusX, dy = (y - kKnobCentreY) / kKnobRadiusY;
    return dx * dx + dy * dy <= 1.0;
}

// A blue disc and, around it, every pixel that touches it side by side: a
// closed black ring one pixel wide.
void draw_knob(Picture& frame, int shift_x, int shift_y) {
    constexpr Box kArea{20, 490, 135, 595};  // around the left knob, with room
    for (int y = kArea.y0; y <= kArea.y1; ++y) {
        for (int x = kArea.x0; x <= kArea.x1; ++x) {
            Rgb& pixel = frame.at(x + shift_x, y + shift_y);
            if (in_knob_disc(x, y)) {
                pixel = kKnob;
            } else if (in_knob_disc(x - 1, y) || in_knob_disc(x + 1, y) || in_knob_disc(x, y - 1) ||
                       in_knob_disc(x, y + 1)) {
                pixel = kBlack;
            }
        }
    }
}

}  // namespace

Picture make_frame(const std::string& font_dir) {
    Picture frame(kWidth, kHeight, kBody);
    fill(frame, kBorderOuter, kYellow);
    fill(frame, kDrawingArea, kBlack);
    draw_knob(frame, 0, 0);
    draw_knob(frame, kRightKnobShiftX, kRightKnobShiftY);
    draw_lettering(frame, font_dir);
    return frame;
}

}  // namespace make_assets
