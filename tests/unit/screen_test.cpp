#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

#include "platform/screen.hpp"

namespace {

using platform::Screen;
using platform::Sprite;

constexpr std::uint32_t kGround = 0x102030;

// A 4x3 sprite with a transparent hole at (1, 1); pixel (i, j) has the
// colour 0x0A0000 + 16 * j + i so every drawn pixel tells where it came from.
Sprite test_sprite() {
    std::vector<std::uint8_t> rgba;
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 4; ++i) {
            rgba.insert(rgba.end(), {0x0A, 0, std::uint8_t(16 * j + i), 255});
            if (i == 1 && j == 1) rgba.back() = 0;
        }
    return Sprite::from_rgba(4, 3, rgba.data());
}

std::uint32_t expected(std::int64_t sx, std::int64_t sy, int x, int y) {
    const std::int64_t i = x - sx, j = y - sy;
    if (i < 0 || i >= 4 || j < 0 || j >= 3 || (i == 1 && j == 1)) return kGround;
    return 0x0A0000u + std::uint32_t(16 * j + i);
}

class ClippedDraw : public testing::TestWithParam<std::pair<std::int64_t, std::int64_t>> {};

TEST_P(ClippedDraw, ChangesExactlyTheOpaquePixelsOnScreen) {
    const auto [sx, sy] = GetParam();
    Screen screen;
    screen.fill(kGround);
    screen.draw(test_sprite(), sx, sy);
    for (int y = 0; y < Screen::kHeight; ++y)
        for (int x = 0; x < Screen::kWidth; ++x)
            ASSERT_EQ(screen.at(x, y), expected(sx, sy, x, y)) << "at " << x << "," << y;
}

constexpr std::int64_t kFar = std::int64_t{1} << 40;

INSTANTIATE_TEST_SUITE_P(
    EveryEdge, ClippedDraw,
    testing::Values(std::pair<std::int64_t, std::int64_t>{10, 10}, std::pair{0, 0}, std::pair{-1, 5},
                    std::pair{-3, 5}, std::pair{-4, 5}, std::pair{797, 5}, std::pair{799, 5},
                    std::pair{800, 5}, std::pair{5, -1}, std::pair{5, -2}, std::pair{5, -3},
                    std::pair{5, 598}, std::pair{5, 599}, std::pair{5, 600}, std::pair{-2, -2},
                    std::pair{798, 598}, std::pair{-kFar, 5}, std::pair{kFar, 5},
                    std::pair{5, std::int64_t{std::numeric_limits<std::int32_t>::min()}},
                    std::pair{std::int64_t{std::numeric_limits<std::int32_t>::max()}, 5}));

TEST(Sprite, RunsCoverExactlyTheOpaquePixels) {
    const std::uint8_t rgba[] = {
        1, 1, 1, 255, 2, 2, 2, 0, 3, 3, 3, 127, 4, 4, 4, 128, 5, 5, 5, 255,
    };
    const Sprite s = Sprite::from_rgba(5, 1, rgba);
    ASSERT_EQ(s.runs.size(), 2u);
    EXPECT_EQ(s.runs[0].x, 0);
    EXPECT_EQ(s.runs[0].length, 1);
    EXPECT_EQ(s.runs[1].x, 3) << "alpha 128 and above is opaque";
    EXPECT_EQ(s.runs[1].length, 2);
    EXPECT_EQ(s.pixels[4], 0x050505u);
}

TEST(Sprite, EmptyPictureDrawsNothing) {
    const Sprite s = Sprite::from_rgba(0, 0, nullptr);
    Screen screen;
    screen.fill(kGround);
    screen.draw(s, 0, 0);
    EXPECT_EQ(screen.at(0, 0), kGround);
}

}  // namespace
