// Builders for small PNG, BMP and WAV files made inside the tests, and a way
// to serve them through "incbin::" URLs.
#pragma once

#include <png.h>
#include <zlib.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "assets/resources.hpp"

namespace assets_test {

using Bytes = std::vector<std::uint8_t>;

// Registers a copy of `bytes` under a fresh name and returns its URL. The
// copy is kept for the whole run, as the table never drops an entry; it has
// exactly the registered size, so any read past it is an out-of-bounds
// read that the sanitizers see.
inline std::string embed(const Bytes& bytes) {
    static std::deque<Bytes> kept;
    static int counter = 0;
    const std::string name = "test-" + std::to_string(counter++);
    const Bytes& copy = kept.emplace_back(bytes);
    assets::register_embedded(name, copy.data(), std::int32_t(copy.size()));
    return "incbin::" + name;
}

inline std::unique_ptr<assets::Stream> open_bytes(const Bytes& bytes) {
    return assets::open_url(embed(bytes), true, false);
}

// --- little-endian writing ------------------------------------------------------

inline void put_le(Bytes& out, std::uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}
inline void put_tag(Bytes& out, const char* tag) {
    for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(tag[i]));
}

// --- PNG, written by libpng -------------------------------------------------------

struct PngSpec {
    std::uint32_t width = 1;
    std::uint32_t height = 1;
    int bit_depth = 8;
    int color_type = PNG_COLOR_TYPE_RGB;
    bool interlaced = false;
    Bytes pixels;                          // rows as stored, top row first, no filter byte
    std::vector<png_color> palette;        // colour type 3
    Bytes trns_alpha;                      // palette alpha (colour type 3)
    bool has_trns_colour = false;          // grey or RGB tRNS
    png_color_16 trns_colour{};
};

namespace detail {
inline void png_append(png_structp png, png_bytep data, std::size_t n) {
    auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
inline void png_flush(png_structp) {}
}  // namespace detail

inline Bytes make_png(const PngSpec& s) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(png, &out, detail::png_append, detail::png_flush);
    png_set_IHDR(png, info, s.width, s.height, s.bit_depth, s.color_type,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty()) png_set_PLTE(png, info, s.palette.data(), int(s.palette.size()));
    if (!s.trns_alpha.empty()) png_set_tRNS(png, info, s.trns_alpha.data(), int(s.trns_alpha.size()), nullptr);
    if (s.has_trns_colour) png_set_tRNS(png, info, nullptr, 0, const_cast<png_color_16*>(&s.trns_colour));
    png_write_info(png, info);
    const std::size_t rowbytes = png_get_rowbytes(png, info);
    std::vector<png_bytep> rows(s.height);
    Bytes pixels = s.pixels;
    pixels.resize(rowbytes * s.height);
    for (std::uint32_t y = 0; y < s.height; ++y) rows[y] = pixels.data() + y * rowbytes;
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

// Offset of the first chunk of that type (its length field), or 0.
inline std::size_t png_chunk(const Bytes& png, const char* type) {
    std::size_t i = 8;
    while (i + 8 <= png.size()) {
        const std::uint32_t n = (std::uint32_t(png[i]) << 24) | (png[i + 1] << 16) | (png[i + 2] << 8) | png[i + 3];
        if (std::memcmp(&png[i + 4], type, 4) == 0) return i;
        i += 12 + std::size_t(n);
    }
    return 0;
}

// Rewrites the chunk's CRC so that only the edited content is wrong.
inline void png_fix_crc(Bytes& png, std::size_t chunk) {
    const std::uint32_t n = (std::uint32_t(png[chunk]) << 24) | (png[chunk + 1] << 16) |
                            (png[chunk + 2] << 8) | png[chunk + 3];
    std::uint32_t crc = std::uint32_t(::crc32(0, &png[chunk + 4], n + 4));
    for (int k = 0; k < 4; ++k) png[chunk + 8 + n + k] = std::uint8_t(crc >> (24 - 8 * k));
}

inline void put_be(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) out[at + k] = std::uint8_t(v >> (24 - 8 * k));
}

// --- BMP -----------------------------------------------------------------------------

struct BmpSpec {
    std::int32_t width = 1;
    std::int32_t height = 1;        // negative: rows stored top row first
    int bits = 8;
    std::uint32_t compression = 0;
    std::uint32_t header_size = 40;
    std::uint32_t colours_used = 0;  // 0: 256
    Bytes palette;                   // blue, green, red, reserved per entry
    Bytes rows;                      // as stored, padding included
};

inline Bytes make_bmp(const BmpSpec& s) {
    Bytes out;
    out.push_back('B');
    out.push_back('M');
    const std::uint32_t offset = 14 + s.header_size + std::uint32_t(s.palette.size());
    put_le(out, offset + std::uint32_t(s.rows.size()), 4);
    put_le(out, 0, 2);
    put_le(out, 0, 2);
    put_le(out, offset, 4);
    put_le(out, s.header_size, 4);
    put_le(out, std::uint32_t(s.width), 4);
    put_le(out, std::uint32_t(s.height), 4);
    put_le(out, 1, 2);
    put_le(out, std::uint32_t(s.bits), 2);
    put_le(out, s.compression, 4);
    put_le(out, std::uint32_t(s.rows.size()), 4);
    put_le(out, 3780, 4);
    put_le(out, 3780, 4);
    put_le(out, s.colours_used, 4);
    put_le(out, 0, 4);
    // The header's extra bytes, unless the size is a deliberate lie.
    if (s.header_size > 40 && s.header_size <= 1024) out.resize(out.size() + (s.header_size - 40), 0);
    out.insert(out.end(), s.palette.begin(), s.palette.end());
    out.insert(out.end(), s.rows.begin(), s.rows.end());
    return out;
}

// --- WAV -----------------------------------------------------------------------------

struct WavSpec {
    int format = 1;
    int channels = 1;
    int bits = 16;
    std::uint32_t rate = 11025;
    std::uint32_t fmt_extra = 0;   // bytes after the 16 standard ones
    Bytes before_data;             // whole chunks placed between "fmt " and "data"
    Bytes data;
    std::int64_t data_size = -1;   // declared size; -1: the real one
};

inline Bytes make_wav(const WavSpec& s) {
    Bytes body;
    put_tag(body, "WAVE");
    put_tag(body, "fmt ");
    put_le(body, 16 + s.fmt_extra, 4);
    put_le(body, std::uint32_t(s.format), 2);
    put_le(body, std::uint32_t(s.channels), 2);
    put_le(body, s.rate, 4);
    put_le(body, s.rate * std::uint32_t(s.channels * s.bits / 8), 4);
    put_le(body, std::uint32_t(s.channels * s.bits / 8), 2);
    put_le(body, std::uint32_t(s.bits), 2);
    body.resize(body.size() + s.fmt_extra, 0);
    body.insert(body.end(), s.before_data.begin(), s.before_data.end());
    put_tag(body, "data");
    put_le(body, std::uint32_t(s.data_size < 0 ? s.data.size() : std::size_t(s.data_size)), 4);
    body.insert(body.end(), s.data.begin(), s.data.end());
    Bytes out;
    put_tag(out, "RIFF");
    put_le(out, std::uint32_t(body.size()), 4);
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Bytes chunk(const char* tag, const Bytes& content) {
    Bytes out;
    put_tag(out, tag);
    put_le(out, std::uint32_t(content.size()), 4);
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

}  // namespace assets_test
