// The drawing toy: start-up, the main loop and the program-wide values.
#pragma once

#include <string_view>

#include "assets/assets.hpp"
#include "assets/toy.hpp"
#include "platform/platform.hpp"

namespace app {

class T_SRCPixel;

inline constexpr std::string_view kTitle = toy::kTitle;
inline constexpr std::string_view kMakerAddress = "https://twindial.example";

// Program-wide values, each assigned once during start-up in this order.
extern const assets::Image* FrameImage;
extern const assets::Image* PixelImage;
extern const assets::Image* BackdropImage;
extern platform::Sound* ShakeSound;
extern T_SRCPixel* Pen;
extern const assets::Image* PenImage;

// Runs start-up and the main loop; returns the exit status once the user
// pressed Escape or asked the window to close.
int twindial_main();

}  // namespace app
