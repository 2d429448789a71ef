// Load image on any bytes: the input is registered in the Embedded resource
// table and loaded through "incbin::input" with the default image flags,
// which runs the PNG and BMP decoders and the masking. An image that comes
// out is drawn at positions taken from the input, near and far off the
// Screen, and every draw is checked pixel by pixel against the mask blend.
//
// Input: the file, then 21 control bytes at the end (read from the back):
// two positions of two coordinates (4 + 1 bytes each) and whether to fix
// the PNG chunk CRCs.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "assets/assets.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "tests/fuzz/png_chunks.hpp"

namespace {

using fuzz::check;

// A drawing position: whole pixels from -2048 to 2047 with a quarter-pixel
// fraction, or (option bit) any 32-bit float, infinities and NaN included.
struct Position {
    float x, y;
};

float coordinate(FuzzedDataProvider& in) {
    const std::uint32_t bits = in.ConsumeIntegral<std::uint32_t>();
    if (in.ConsumeBool()) {
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    }
    return float(std::int32_t(bits % 4096) - 2048) + float((bits >> 12) % 4) * 0.25f;
}

Position position(FuzzedDataProvider& in) {
    const float x = coordinate(in);
    return {x, coordinate(in)};
}

// Screen rectangle the image covers when drawn at (x, y): draw_image rounds
// halves away from zero; anything that far off is clipped away anyway.
struct Span {
    std::int64_t first, end;  // clipped to 0 ... limit
};
Span span(float v, std::int32_t size, int limit) {
    const double r = std::clamp(std::round(double(v)), -1e12, 1e12);
    const auto at = std::int64_t(r);
    return {std::clamp<std::int64_t>(at, 0, limit), std::clamp<std::int64_t>(at + size, 0, limit)};
}

void draw_and_check(const assets::Image& image, Position p) {
    platform::Screen& screen = platform::screen();
    screen.mark_presented();
    if (std::isnan(p.x) || std::isnan(p.y)) {
        assets::draw_image(&image, p.x, p.y, 0);
        check(screen.changed().empty(), "a position that is not a number draws nothing");
        return;
    }
    const Span cols = span(p.x, image.width, platform::Screen::kWidth);
    const Span rows = span(p.y, image.height, platform::Screen::kHeight);
    const std::int64_t x0 = std::int64_t(std::clamp(std::round(double(p.x)), -1e12, 1e12));
    const std::int64_t y0 = std::int64_t(std::clamp(std::round(double(p.y)), -1e12, 1e12));

    std::vector<std::uint32_t> before;
    for (std::int64_t y = rows.first; y < rows.end; ++y)
        for (std::int64_t x = cols.first; x < cols.end; ++x) before.push_back(screen.at(int(x), int(y)));

    assets::draw_image(&image, p.x, p.y, 0);

    const platform::Rect& changed = screen.changed();
    check(changed.empty() || (changed.x0 >= cols.first && changed.x1 <= cols.end && changed.y0 >= rows.first &&
                              changed.y1 <= rows.end),
          "a draw changes nothing outside the image's place");
    std::size_t k = 0;
    for (std::int64_t y = rows.first; y < rows.end; ++y) {
        for (std::int64_t x = cols.first; x < cols.end; ++x, ++k) {
            const std::uint8_t* px =
                image.picture.rgba.data() + (std::size_t(y - y0) * std::size_t(image.width) + std::size_t(x - x0)) * 4;
            const std::uint32_t expected = px[3] >= 128 ? platform::xrgb(px[0], px[1], px[2]) : before[k];
            check(screen.at(int(x), int(y)) == expected, "mask blend: opaque pixels replace, others stay");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const Position first = position(in);
    const Position second = position(in);
    const bool fix_crcs = in.ConsumeBool();
    fuzz::Bytes file = in.ConsumeRemainingBytes<std::uint8_t>();
    // Mutations almost always break a chunk's CRC, and libpng stops at the
    // first broken one; fixing the CRCs lets the fuzzer reach what lies
    // behind them (the compressed data, the row filters, the transforms).
    if (fix_crcs) fuzz::fix_png_crcs(file);

    assets::EmbeddedTableScope table;
    fuzz::register_input(file);
    const std::optional<assets::Image> image = assets::make_image(fuzz::kInputUrl, -1);
    if (!image) return 0;

    const assets::Picture& picture = image->picture;
    check(image->width > 0 && image->height > 0 && image->width == picture.width && image->height == picture.height,
          "an image has the picture's size");
    check(picture.rgba.size() == std::size_t(image->width) * std::size_t(image->height) * 4,
          "an image holds four bytes per pixel");
    check(image->flags == assets::kDefaultImageFlags, "-1 stands for the default image flags");
    if (!picture.has_alpha) {
        for (std::size_t i = 0; i < picture.rgba.size(); i += 4) {
            const std::uint8_t* p = picture.rgba.data() + i;
            const bool black = p[0] == 0 && p[1] == 0 && p[2] == 0;
            check(p[3] == (black ? 0 : 255), "masking: exactly the pure black pixels are transparent");
        }
    }

    // The same image again at its first place exercises the Screen's
    // shortcut for a sprite redrawn where it was drawn before.
    draw_and_check(*image, first);
    draw_and_check(*image, second);
    draw_and_check(*image, first);
    return 0;
}
