// Images and sounds: decoding the built-in files, masking, and drawing onto
// the Screen.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "assets/resources.hpp"
#include "platform/platform.hpp"
#include "platform/screen.hpp"

namespace assets {

// Image flags.
inline constexpr int kMasked = 1;
inline constexpr int kFiltered = 2;
inline constexpr int kMipmapped = 4;
// -1 in place of flags stands for these.
inline constexpr int kDefaultImageFlags = kMasked | kFiltered;

// A decoded picture: 8-bit red, green, blue, alpha per pixel, top row first.
// Pictures without an alpha channel carry alpha 255 and has_alpha false.
struct Picture {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool has_alpha = false;
    std::vector<std::uint8_t> rgba;
};

// Decoders. Each reads from the stream's current position and gives no
// picture (or sample) for content it does not accept, including broken,
// truncated or hostile bytes; none reads outside what the stream holds.
std::optional<Picture> decode_png(Stream& in);
std::optional<Picture> decode_bmp(Stream& in);
std::optional<platform::PcmSample> decode_wav(Stream& in);
// PNG: grey, RGB and RGBA after reducing 16-bit channels and expanding
// palettes, low grey depths and tRNS; no gamma correction. BMP: 8-bit
// palettised and 32-bit (blue, green, red, alpha), uncompressed; a negative
// height means top row first. WAV: PCM, mono or stereo, 8 or 16 bits.
// Pictures above 16 MiB of RGBA (2048 x 2048) or 16384 pixels a side and
// WAV data above 16 MiB are refused before anything is allocated for them.
//
// Tries every picture decoder from the stream's current position.
std::optional<Picture> decode_picture(Stream& in);

// Masking: pixels exactly equal to the mask colour get alpha 0, every other
// pixel alpha 255. Pictures that carry their own alpha are left alone by
// load_image.
void apply_mask(Picture& picture, std::uint8_t r, std::uint8_t g, std::uint8_t b);

struct Image {
    std::int32_t width = 0;
    std::int32_t height = 0;
    int frames = 1;
    int flags = kDefaultImageFlags;
    std::uint8_t mask_r = 0, mask_g = 0, mask_b = 0;
    std::int32_t handle_x = 0, handle_y = 0;
    Picture picture;          // the decoded, masked pixels
    platform::Sprite sprite;  // the same, prepared for drawing
};

// Null when the URL opens no stream or no decoder accepts its content.
// Images live until the process ends.
const Image* load_image(std::string_view url, int flags);
// The image load_image keeps, made without keeping it (for tests and fuzz
// targets that load many).
std::optional<Image> make_image(std::string_view url, int flags);
// Null when the URL opens no stream or its content is no supported WAV.
// The sound plays once per play request, mixed in software.
platform::Sound* load_sound(std::string_view url);
// The sample load_sound makes its sound from: the WAV content of the URL.
std::optional<platform::PcmSample> load_sample(std::string_view url);

// Draws frame `frame` of the image with its handle at (x, y) by mask blend.
// Positions are rounded to the nearest whole pixel (halves away from zero);
// any value is valid: far-off positions are clipped away and a position
// that is not a number draws nothing. Only frame 0 exists; other frame
// indices draw nothing.
void draw_image(const Image* image, float x, float y, int frame);

}  // namespace assets
