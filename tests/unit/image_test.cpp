// Loading images and sounds, masking, and drawing onto the Screen.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <optional>
#include <string>

#include "assets/assets.hpp"
#include "platform/platform.hpp"
#include "tests/unit/assets_test_support.hpp"
#include "tests/unit/toy_pictures.hpp"

namespace {

using namespace assets_test;
using platform::Screen;
using platform::xrgb;

Bytes rgb_png(std::uint32_t w, std::uint32_t h, Bytes rgb) {
    PngSpec s;
    s.width = w;
    s.height = h;
    s.pixels = std::move(rgb);
    return make_png(s);
}

Bytes rgba_png(std::uint32_t w, std::uint32_t h, Bytes rgba) {
    PngSpec s;
    s.width = w;
    s.height = h;
    s.color_type = PNG_COLOR_TYPE_RGB_ALPHA;
    s.pixels = std::move(rgba);
    return make_png(s);
}

Bytes alphas(const assets::Image& image) {
    Bytes out;
    for (std::size_t i = 3; i < image.picture.rgba.size(); i += 4) out.push_back(image.picture.rgba[i]);
    return out;
}

// --- loading and masking --------------------------------------------------------------

TEST(LoadImage, DefaultFlagsGiveAMaskedImageWithOneFrame) {
    const assets::Image* image = assets::load_image(embed(rgb_png(2, 1, {0, 0, 0, 9, 9, 9})), -1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 2);
    EXPECT_EQ(image->height, 1);
    EXPECT_EQ(image->frames, 1);
    EXPECT_EQ(image->flags, assets::kMasked | assets::kFiltered);
    EXPECT_EQ(image->mask_r | image->mask_g | image->mask_b, 0);
    EXPECT_EQ(image->handle_x, 0);
    EXPECT_EQ(image->handle_y, 0);
    EXPECT_EQ(image->sprite.width, 2);
    EXPECT_EQ(image->sprite.height, 1);
}

struct MaskCase {
    const char* name;
    Bytes file;
    int flags;
    Bytes expected_alpha;
};

TEST(LoadImage, MaskingMakesExactlyPureBlackTransparent) {
    const Bytes rgb = rgb_png(6, 1, {0, 0, 0, 0, 0, 1, 1, 0, 0, 0, 1, 0, 255, 255, 255, 0, 0, 0});
    const Bytes rgba = rgba_png(4, 1, {0, 0, 0, 255, 0, 0, 0, 0, 9, 9, 9, 0, 9, 9, 9, 200});
    BmpSpec bmp;  // 8-bit, palette entry 0 black, entry 1 (0, 0, 1)
    bmp.width = 2;
    bmp.colours_used = 2;
    bmp.palette = {0, 0, 0, 0, 1, 0, 0, 0};
    bmp.rows = {0, 1, 0, 0};
    BmpSpec bmp32;  // 32-bit carries its own alpha
    bmp32.width = 2;
    bmp32.bits = 32;
    bmp32.rows = {0, 0, 0, 255, 5, 5, 5, 0};

    const MaskCase cases[] = {
        {"rgb, default flags", rgb, -1, {0, 255, 255, 255, 255, 0}},
        {"rgb, masked", rgb, assets::kMasked, {0, 255, 255, 255, 255, 0}},
        {"rgb, not masked", rgb, 0, {255, 255, 255, 255, 255, 255}},
        {"rgb, filtered only", rgb, assets::kFiltered, {255, 255, 255, 255, 255, 255}},
        {"rgba keeps its own alpha", rgba, -1, {255, 0, 0, 200}},
        {"8-bit bmp, default flags", make_bmp(bmp), -1, {0, 255}},
        {"32-bit bmp keeps its own alpha", make_bmp(bmp32), -1, {255, 0}},
    };
    for (const MaskCase& c : cases) {
        const assets::Image* image = assets::load_image(embed(c.file), c.flags);
        ASSERT_NE(image, nullptr) << c.name;
        EXPECT_EQ(alphas(*image), c.expected_alpha) << c.name;
    }
}

TEST(ApplyMask, UsesTheGivenColourWithoutTolerance) {
    assets::Picture p;
    p.width = 4;
    p.height = 1;
    p.rgba = {1, 2, 3, 7, 1, 2, 4, 7, 0, 0, 0, 7, 1, 2, 3, 0};
    assets::apply_mask(p, 1, 2, 3);
    EXPECT_EQ(p.rgba, (Bytes{1, 2, 3, 0, 1, 2, 4, 255, 0, 0, 0, 255, 1, 2, 3, 0}));
}

TEST(LoadImage, NothingToDecodeGivesNoImage) {
    WavSpec sound;
    sound.data = {1, 2};
    for (const std::string& url : {std::string("incbin::never-registered.png"), std::string("never-registered.png"),
                                   embed(make_wav(sound)), embed({})}) {
        EXPECT_EQ(assets::load_image(url, -1), nullptr) << url;
    }
}

TEST(LoadSound, DecodesAndMakesASound) {
    WavSpec s;
    s.data = {1, 2, 3, 4};
    EXPECT_NE(assets::load_sound(embed(make_wav(s))), nullptr);
    s.format = 3;
    EXPECT_EQ(assets::load_sound(embed(make_wav(s))), nullptr);
    EXPECT_EQ(assets::load_sound("incbin::never-registered.wav"), nullptr);
    EXPECT_EQ(assets::load_sound(embed(rgb_png(1, 1, {1, 2, 3}))), nullptr);
}

// --- drawing --------------------------------------------------------------------------

constexpr std::uint32_t kFill = xrgb(10, 20, 30);

class DrawTest : public ::testing::Test {
protected:
    void SetUp() override { platform::screen().fill(kFill); }

    // A 3 x 3 image, every pixel opaque and different.
    static const assets::Image* brush() {
        static const assets::Image* image = [] {
            Bytes rgb;
            for (std::uint8_t i = 1; i <= 9; ++i) rgb.insert(rgb.end(), {i, std::uint8_t(100 + i), 200});
            return assets::load_image(embed(rgb_png(3, 3, rgb)), -1);
        }();
        return image;
    }

    static std::uint32_t brush_pixel(int i, int j) {
        const std::uint8_t k = std::uint8_t(1 + j * 3 + i);
        return xrgb(k, std::uint8_t(100 + k), 200);
    }

    // Checks the whole Screen: the brush at (x, y), the fill elsewhere.
    // Returns how many pixels the brush covers.
    static int expect_brush_at(std::optional<std::pair<std::int64_t, std::int64_t>> at) {
        int drawn = 0;
        const Screen& s = platform::screen();
        for (int y = 0; y < Screen::kHeight; ++y) {
            for (int x = 0; x < Screen::kWidth; ++x) {
                std::uint32_t expected = kFill;
                if (at && x - at->first >= 0 && x - at->first < 3 && y - at->second >= 0 && y - at->second < 3) {
                    expected = brush_pixel(int(x - at->first), int(y - at->second));
                    ++drawn;
                }
                if (s.at(x, y) != expected) {
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ")";
                    return -1;
                }
            }
        }
        return drawn;
    }
};

struct EdgeCase {
    float x, y;
    int columns, rows;  // of the brush that land on the Screen
};

TEST_F(DrawTest, ClippedAtEveryEdge) {
    const EdgeCase cases[] = {
        {798, 300, 2, 3}, {799, 300, 1, 3}, {800, 300, 0, 3}, {-1, 300, 2, 3}, {-2, 300, 1, 3}, {-3, 300, 0, 3},
        {400, 598, 3, 2}, {400, 599, 3, 1}, {400, 600, 3, 0}, {400, -1, 3, 2}, {400, -2, 3, 1}, {400, -3, 3, 0},
        {0, 0, 3, 3},     {797, 597, 3, 3}, {-1, -1, 2, 2},   {799, 599, 1, 1}, {-2, 598, 1, 2}, {798, -2, 2, 1},
    };
    for (const EdgeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "at (" << c.x << ", " << c.y << ")");
        platform::screen().fill(kFill);
        assets::draw_image(brush(), c.x, c.y, 0);
        EXPECT_EQ(expect_brush_at(std::pair{std::int64_t(c.x), std::int64_t(c.y)}), c.columns * c.rows);
    }
}

TEST_F(DrawTest, FarOffScreenDrawsNothing) {
    const float far[] = {2147483648.0f, -2147483648.0f, 2147483520.0f, -2147483520.0f, 1e20f, -1e20f,
                         FLT_MAX, -FLT_MAX, INFINITY, -INFINITY, NAN, 4294967296.0f};
    for (float v : far) {
        for (const auto& [x, y] : {std::pair{v, 0.0f}, std::pair{0.0f, v}, std::pair{v, v}, std::pair{v, -v}}) {
            SCOPED_TRACE(testing::Message() << "at (" << x << ", " << y << ")");
            assets::draw_image(brush(), x, y, 0);
            EXPECT_EQ(expect_brush_at(std::nullopt), 0);
        }
    }
}

TEST_F(DrawTest, PositionsRoundToTheNearestPixel) {
    struct Case {
        float x, y;
        std::int64_t px, py;
    };
    const Case cases[] = {{10.4f, 20.6f, 10, 21}, {10.5f, 20.5f, 11, 21}, {-0.5f, 0.49f, -1, 0}, {797.5f, -2.6f, 798, -3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "at (" << c.x << ", " << c.y << ")");
        platform::screen().fill(kFill);
        assets::draw_image(brush(), c.x, c.y, 0);
        expect_brush_at(std::pair{c.px, c.py});
    }
}

TEST_F(DrawTest, OnlyFrameZeroExists) {
    assets::draw_image(brush(), 10, 10, 1);
    assets::draw_image(brush(), 10, 10, -1);
    assets::draw_image(nullptr, 10, 10, 0);
    EXPECT_EQ(expect_brush_at(std::nullopt), 0);
}

TEST_F(DrawTest, TransparentPixelsKeepTheScreen) {
    // Black is masked; of the alpha picture, 128 and above is drawn.
    const assets::Image* masked = assets::load_image(embed(rgb_png(3, 1, {0, 0, 0, 200, 0, 0, 0, 0, 0})), -1);
    const assets::Image* alpha = assets::load_image(
        embed(rgba_png(4, 1, {1, 1, 1, 127, 2, 2, 2, 128, 0, 0, 0, 255, 3, 3, 3, 0})), -1);
    ASSERT_NE(masked, nullptr);
    ASSERT_NE(alpha, nullptr);
    assets::draw_image(masked, 5, 5, 0);
    assets::draw_image(alpha, 5, 6, 0);
    const Screen& s = platform::screen();
    EXPECT_EQ(s.at(5, 5), kFill);
    EXPECT_EQ(s.at(6, 5), xrgb(200, 0, 0));
    EXPECT_EQ(s.at(7, 5), kFill);
    EXPECT_EQ(s.at(5, 6), kFill);
    EXPECT_EQ(s.at(6, 6), xrgb(2, 2, 2));
    EXPECT_EQ(s.at(7, 6), xrgb(0, 0, 0));
    EXPECT_EQ(s.at(8, 6), kFill);
}

// --- the built-in files ----------------------------------------------------------------

class BuiltinTest : public DrawTest {
protected:
    void SetUp() override {
        DrawTest::SetUp();
        assets::register_builtin_files();
    }
    static int transparent(const assets::Image& image) {
        int n = 0;
        for (std::uint8_t a : alphas(image)) n += a == 0;
        return n;
    }
};

TEST_F(BuiltinTest, ProtocolInAnyCaseNameExact) {
    EXPECT_NE(assets::load_image("INCBIN::frame.png", -1), nullptr);
    EXPECT_EQ(assets::load_image("incbin::FRAME.PNG", -1), nullptr);
}

TEST_F(BuiltinTest, BrushIsTheOpaqueChecker) {
    const assets::Image* pixel = assets::load_image("incbin::pixel.bmp", -1);
    ASSERT_NE(pixel, nullptr);
    EXPECT_EQ(transparent(*pixel), 0);
    ASSERT_EQ(pixel->width, 3);
    ASSERT_EQ(pixel->height, 3);
    assets::draw_image(pixel, 400, 300, 0);
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) {
            const bool dark = (i + j) % 2 == 1;
            EXPECT_EQ(platform::screen().at(400 + i, 300 + j), dark ? xrgb(51, 51, 51) : xrgb(102, 102, 102))
                << i << ", " << j;
        }
    }
    EXPECT_EQ(platform::screen().at(403, 300), kFill);
}

TEST_F(BuiltinTest, BackdropCoversTheScreen) {
    const assets::Image* backdrop = assets::load_image("incbin::backdrop.bmp", -1);
    ASSERT_NE(backdrop, nullptr);
    EXPECT_EQ(transparent(*backdrop), 0);
    assets::draw_image(backdrop, 0, 0, 0);
    const Screen& s = platform::screen();
    EXPECT_EQ(std::count(s.pixels(), s.pixels() + Screen::kWidth * Screen::kHeight, toy_pictures::kBackdrop),
              Screen::kWidth * Screen::kHeight);
}

TEST_F(BuiltinTest, FrameShowsTheScreenThroughItsBlackPixels) {
    const assets::Image* frame = assets::load_image("incbin::frame.png", -1);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(frame->width, 800);
    ASSERT_EQ(frame->height, 600);
    assets::draw_image(frame, 0, 0, 0);
    const Screen& s = platform::screen();
    int through = 0;
    for (int y = 0; y < 600; ++y) {
        for (int x = 0; x < 800; ++x) {
            const std::uint8_t* p = frame->picture.rgba.data() + (std::size_t(y) * 800 + std::size_t(x)) * 4;
            const bool black = p[0] == 0 && p[1] == 0 && p[2] == 0;
            const bool in_area = x >= 110 && x <= 684 && y >= 54 && y <= 477;
            if (in_area) {
                EXPECT_TRUE(black) << x << ", " << y;
            }
            if (black) {
                ++through;
                EXPECT_EQ(s.at(x, y), kFill) << x << ", " << y;
            } else {
                ASSERT_EQ(s.at(x, y), xrgb(p[0], p[1], p[2])) << x << ", " << y;
            }
        }
    }
    EXPECT_EQ(through, transparent(*frame));
    EXPECT_EQ(through, 244284);  // the drawing area and the two knob outlines
}

TEST_F(BuiltinTest, PenAndShakeLoad) {
    const assets::Image* pen = assets::load_image("incbin::pen.png", -1);
    ASSERT_NE(pen, nullptr);
    EXPECT_EQ(pen->width, 56);
    EXPECT_EQ(pen->height, 56);
    EXPECT_EQ(transparent(*pen), 2825);

    EXPECT_NE(assets::load_sound("incbin::shake.wav"), nullptr);
    auto in = assets::open_url("incbin::shake.wav", true, false);
    ASSERT_NE(in, nullptr);
    auto sample = assets::decode_wav(*in);
    ASSERT_TRUE(sample.has_value());
    EXPECT_EQ(sample->channels, 1);
    EXPECT_EQ(sample->bits, 16);
    EXPECT_EQ(sample->rate, 11025u);
    EXPECT_EQ(sample->frames, 10368u);
}

}  // namespace
