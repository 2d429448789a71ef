// Colours of the toy's built-in pictures, as tests of whole passes see them.
#pragma once

#include <cstdint>

#include "assets/toy.hpp"
#include "platform/screen.hpp"

namespace toy_pictures {

constexpr std::uint32_t xrgb(toy::Rgb c) { return platform::xrgb(c.r, c.g, c.b); }

inline constexpr std::uint32_t kBackdrop = xrgb(toy::kBackdrop);
inline constexpr std::uint32_t kBody = xrgb(toy::kBody);
inline constexpr std::uint32_t kLight = xrgb(toy::kBrushLight);
inline constexpr std::uint32_t kDark = xrgb(toy::kBrushDark);

// True when `pixel(x, y)` shows the 3x3 brush with its top-left at (x, y):
// light corners and centre, dark edge midpoints.
template <typename Pixel>
bool brush_at(Pixel pixel, int x, int y) {
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            if (pixel(x + i, y + j) != ((i + j) % 2 == 0 ? kLight : kDark)) return false;
    return true;
}

}  // namespace toy_pictures
