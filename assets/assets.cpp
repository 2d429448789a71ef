#include "assets/assets.hpp"

#include <algorithm>
#include <cmath>
#include <deque>
#include <utility>

namespace assets {

namespace {

// Every image is made once and kept until the process ends; a deque never
// moves its elements, so the pointers handed out stay valid.
std::deque<Image>& images() {
    static std::deque<Image> all;
    return all;
}

// Far enough beyond any Screen edge that the image is clipped away, and
// small enough that subtracting a handle or adding a size cannot overflow.
constexpr double kFarAway = 1099511627776.0;  // 2^40

// Rounds to the nearest whole pixel, halves away from zero.
std::int64_t whole_pixel(float v) {
    return std::int64_t(std::clamp(std::round(double(v)), -kFarAway, kFarAway));
}

}  // namespace

void apply_mask(Picture& picture, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    for (std::size_t i = 0; i + 3 < picture.rgba.size(); i += 4) {
        std::uint8_t* p = picture.rgba.data() + i;
        p[3] = (p[0] == r && p[1] == g && p[2] == b) ? 0 : 255;
    }
}

std::optional<Image> make_image(std::string_view url, int flags) {
    if (flags == -1) flags = kDefaultImageFlags;
    std::optional<Picture> picture;
    if (auto in = open_url(url, true, false)) picture = decode_picture(*in);
    if (!picture) return std::nullopt;

    std::optional<Image> made(std::in_place);
    Image& image = *made;
    image.width = picture->width;
    image.height = picture->height;
    image.frames = 1;
    image.flags = flags;
    image.mask_r = image.mask_g = image.mask_b = 0;
    image.handle_x = image.handle_y = 0;
    image.picture = std::move(*picture);
    if ((flags & kMasked) != 0 && !image.picture.has_alpha) {
        apply_mask(image.picture, image.mask_r, image.mask_g, image.mask_b);
    }
    image.sprite = platform::Sprite::from_rgba(image.width, image.height, image.picture.rgba.data());
    return made;
}

const Image* load_image(std::string_view url, int flags) {
    std::optional<Image> image = make_image(url, flags);
    if (!image) return nullptr;
    return &images().emplace_back(std::move(*image));
}

std::optional<platform::PcmSample> load_sample(std::string_view url) {
    auto in = open_url(url, true, false);
    if (in == nullptr) return std::nullopt;
    return decode_wav(*in);
}

platform::Sound* load_sound(std::string_view url) {
    std::optional<platform::PcmSample> sample = load_sample(url);
    if (!sample) return nullptr;
    return platform::create_sound(std::move(*sample));
}

void draw_image(const Image* image, float x, float y, int frame) {
    // Only frame 0 exists; a position that is not a number places nothing.
    if (image == nullptr || frame != 0 || std::isnan(x) || std::isnan(y)) return;
    platform::screen().draw(image->sprite, whole_pixel(x) - image->handle_x,
                            whole_pixel(y) - image->handle_y);
}

}  // namespace assets
