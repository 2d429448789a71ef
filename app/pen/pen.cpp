#include "app/pen/pen.hpp"

#include "app/pen/snapshot.hpp"
#include "app/twindial.hpp"
#include "assets/toy.hpp"
#include "platform/keyboard.hpp"

namespace app {

std::int32_t T_SRCPixel::New() {
    X = toy::kPenStart.x;
    Y = toy::kPenStart.y;
    return 0;
}

std::int32_t T_SRCPixel::Delete() { return 0; }

std::int32_t T_SRCPixel::T_SRCSnap() {
    snapshot_on_enter();
    return 0;
}

std::int32_t T_SRCPixel::T_SRCPixMoves() {
    // Opposite keys cancel; the counts wrap like the 32-bit fields they are.
    if (platform::key_down(platform::vk::kUp)) Y = std::int32_t(std::uint32_t(Y) - 1u);
    if (platform::key_down(platform::vk::kDown)) Y = std::int32_t(std::uint32_t(Y) + 1u);
    if (platform::key_down(platform::vk::kLeft)) X = std::int32_t(std::uint32_t(X) - 1u);
    if (platform::key_down(platform::vk::kRight)) X = std::int32_t(std::uint32_t(X) + 1u);
    return 0;
}

std::int32_t T_SRCPixel::T_SRCSketch() {
    assets::draw_image(PixelImage, float(X), float(Y), 0);
    if (platform::key_hit(platform::vk::kBackspace) != 0) {
        assets::draw_image(BackdropImage, 0, 0, 0);
        platform::play_sound(ShakeSound);
    }
    return 0;
}

}  // namespace app
