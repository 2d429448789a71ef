// Colours of the toy's built-in pictures, as tests of whole passes see them.
#pragma once

#include <cstdint>

#include "platform/screen.hpp"

namespace toy_pictures {

inline constexpr std::uint32_t kBackdrop = platform::xrgb(192, 220, 192);
inline constexpr std::uint32_t kBody = platform::xrgb(237, 28, 36);
inline constexpr std::uint32_t kLight = platform::xrgb(102, 102, 102);
inline constexpr std::uint32_t kDark = platform::xrgb(51, 51, 51);

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
