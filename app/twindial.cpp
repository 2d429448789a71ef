#include "app/twindial.hpp"

#include <string>

#include "app/pen/pen.hpp"
#include "platform/keyboard.hpp"

namespace app {

const assets::Image* FrameImage = nullptr;
const assets::Image* PixelImage = nullptr;
const assets::Image* BackdropImage = nullptr;
platform::Sound* ShakeSound = nullptr;
T_SRCPixel* Pen = nullptr;
const assets::Image* PenImage = nullptr;

namespace {

const std::string& exit_notice() {
    static const std::string text =
        "Visit " + std::string(kMakerAddress) + " for product updates and more info on Twindial";
    return text;
}

}  // namespace

int twindial_main() {
    platform::enter_executable_folder();
    assets::register_builtin_files();
    platform::start();
    platform::set_app_title(kTitle);
    platform::open_window(platform::Screen::kWidth, platform::Screen::kHeight, 60);

    FrameImage = assets::load_image("incbin::frame.png", -1);
    PixelImage = assets::load_image("incbin::pixel.bmp", -1);
    BackdropImage = assets::load_image("incbin::backdrop.bmp", -1);
    ShakeSound = assets::load_sound("incbin::shake.wav");
    platform::hide_pointer();
    static T_SRCPixel pen;
    pen = T_SRCPixel{};
    Pen = &pen;
    PenImage = assets::load_image("incbin::pen.png", -1);
    assets::draw_image(BackdropImage, 0, 0, 0);

    for (;;) {
        assets::draw_image(FrameImage, 0, 0, 0);
        Pen->T_SRCSnap();
        Pen->T_SRCSketch();
        Pen->T_SRCPixMoves();
        if (platform::key_hit(platform::vk::kEscape) != 0) {
            platform::notice(exit_notice());
            break;
        }
        platform::present(-1);
        if (platform::close_requested()) break;
    }
    platform::exit_steps();
    return 0;
}

}  // namespace app
