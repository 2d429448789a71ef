// Writes the five built-in files of the toy into one folder:
//
//   make_assets <output-folder>
//
// frame.png, pixel.bmp, backdrop.bmp, shake.wav and pen.png. The output is
// the same, byte for byte, on every run: nothing depends on the time, the
// locale or a random seed from outside, and the PNG files are compressed with
// fixed settings.
#include <zlib.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/asset_files.hpp"

#ifndef TWINDIAL_FONT_DIR
#define TWINDIAL_FONT_DIR "/usr/share/fonts/truetype/dejavu"
#endif

namespace make_assets {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& out, unsigned v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}
void put32(Bytes& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
void put_be32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
}
void put_text(Bytes& out, std::string_view text) { out.insert(out.end(), text.begin(), text.end()); }

// ---------------------------------------------------------------------------
// PNG: 8-bit RGB, one IDAT, written straight with zlib so that the chunk order
// is exactly ours.

void put_chunk(Bytes& out, std::string_view type, const Bytes& data) {
    put_be32(out, std::uint32_t(data.size()));
    const std::size_t start = out.size();
    put_text(out, type);
    out.insert(out.end(), data.begin(), data.end());
    const uLong crc = crc32(0, out.data() + start, uInt(out.size() - start));
    put_be32(out, std::uint32_t(crc));
}

int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    if (pa <= pb && pa <= pc) return a;
    return pb <= pc ? b : c;
}

// The filtered scanlines: each row gets the filter whose output has the
// smallest sum of magnitudes (taking the bytes as signed), the usual choice.
Bytes filtered_rows(const Picture& picture) {
    const std::size_t stride = std::size_t(picture.width) * 3;
    Bytes raw(stride * picture.height);
    for (std::size_t i = 0; i < picture.pixels.size(); ++i) {
        raw[i * 3] = picture.pixels[i].r;
        raw[i * 3 + 1] = picture.pixels[i].g;
        raw[i * 3 + 2] = picture.pixels[i].b;
    }
    Bytes out;
    const Bytes zero_row(stride, 0);
    Bytes candidate(stride);
    for (int y = 0; y < picture.height; ++y) {
        const std::uint8_t* row = raw.data() + y * stride;
        const std::uint8_t* up = y > 0 ? row - stride : zero_row.data();
        Bytes best;
        long best_sum = -1;
        for (int filter = 0; filter < 5; ++filter) {
            long sum = 0;
            for (std::size_t i = 0; i < stride; ++i) {
                const int a = i >= 3 ? row[i - 3] : 0;
                const int b = up[i];
                const int c = i >= 3 ? up[i - 3] : 0;
                const int predictor = filter == 0   ? 0
                                      : filter == 1 ? a
                                      : filter == 2 ? b
                                      : filter == 3 ? (a + b) / 2
                                                    : paeth(a, b, c);
                candidate[i] = std::uint8_t(row[i] - predictor);
                sum += std::abs(int(std::int8_t(candidate[i])));
            }
            if (best_sum < 0 || sum < best_sum) {
                best_sum = sum;
                best.assign(1, std::uint8_t(filter));
                best.insert(best.end(), candidate.begin(), candidate.end());
            }
        }
        out.insert(out.end(), best.begin(), best.end());
    }
    return out;
}

Bytes encode_png(const Picture& picture, bool with_physical_size) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

    Bytes ihdr;
    put_be32(ihdr, std::uint32_t(picture.width));
    put_be32(ihdr, std::uint32_t(picture.height));
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // depth 8, RGB, deflate, no filter set, no interlace
    put_chunk(out, "IHDR", ihdr);

    if (with_physical_size) {
        Bytes phys;
        put_be32(phys, 3779);
        put_be32(phys, 3779);
        phys.push_back(1);  // pixels per metre
        put_chunk(out, "pHYs", phys);
    }
    put_chunk(out, "sRGB", Bytes{0});
    Bytes gama;
    put_be32(gama, 45455);
    put_chunk(out, "gAMA", gama);
    Bytes chrm;
    for (std::uint32_t v : {31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u}) put_be32(chrm, v);
    put_chunk(out, "cHRM", chrm);

    const Bytes rows = filtered_rows(picture);
    uLongf packed_size = compressBound(uLong(rows.size()));
    Bytes packed(packed_size);
    if (compress2(packed.data(), &packed_size, rows.data(), uLong(rows.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlib could not compress the picture");
    packed.resize(packed_size);
    put_chunk(out, "IDAT", packed);
    put_chunk(out, "IEND", Bytes{});
    return out;
}

// ---------------------------------------------------------------------------
// BMP: 8 bits per pixel, a full 256-entry palette, bottom row first.

struct PaletteEntry {
    int index;
    Rgb colour;
};

Bytes encode_bmp8(int width, int height, std::int32_t resolution, const std::vector<PaletteEntry>& used,
                  const std::vector<std::uint8_t>& indices_top_first) {
    const std::uint32_t stride = (std::uint32_t(width) + 3) & ~3u;
    const std::uint32_t image_size = stride * std::uint32_t(height);
    const std::uint32_t offset = 14 + 40 + 256 * 4;
    Bytes out;
    put_text(out, "BM");
    put32(out, offset + image_size);
    put16(out, 0);
    put16(out, 0);
    put32(out, offset);
    put32(out, 40);
    put32(out, std::uint32_t(width));
    put32(out, std::uint32_t(height));
    put16(out, 1);
    put16(out, 8);
    put32(out, 0);
    put32(out, image_size);
    put32(out, std::uint32_t(resolution));
    put32(out, std::uint32_t(resolution));
    put32(out, 0);
    put32(out, 0);

    std::array<Rgb, 256> palette{};  // entries no pixel uses stay zero
    for (const PaletteEntry& entry : used) palette[std::size_t(entry.index)] = entry.colour;
    for (Rgb c : palette) out.insert(out.end(), {c.b, c.g, c.r, 0});

    for (int y = height - 1; y >= 0; --y) {
        const auto row = indices_top_first.begin() + std::ptrdiff_t(y) * width;
        out.insert(out.end(), row, row + width);
        out.resize(out.size() + (stride - std::uint32_t(width)), 0);
    }
    return out;
}

// The brush: a 3 x 3 checker, dark grey at the edge midpoints.
Bytes make_pixel_bmp() {
    constexpr int kLight = 126, kDark = 83;
    return encode_bmp8(3, 3, 3780, {{kDark, toy::kBrushDark}, {kLight, toy::kBrushLight}},
                       {kLight, kDark, kLight, kDark, kLight, kDark, kLight, kDark, kLight});
}

// The blank drawing screen: 800 x 600 of one pale grey-green.
Bytes make_backdrop_bmp() {
    constexpr int kGreyGreen = 8;
    return encode_bmp8(toy::kWidth, toy::kHeight, 0, {{kGreyGreen, toy::kBackdrop}},
                       std::vector<std::uint8_t>(std::size_t(toy::kWidth) * toy::kHeight, kGreyGreen));
}

// ---------------------------------------------------------------------------
// WAV: mono 16-bit PCM.

Bytes encode_wav(const std::vector<std::int16_t>& samples) {
    const std::uint32_t data_size = std::uint32_t(samples.size() * 2);
    Bytes out;
    put_text(out, "RIFF");
    put32(out, 36 + data_size);
    put_text(out, "WAVE");
    put_text(out, "fmt ");
    put32(out, 16);
    put16(out, 1);  // PCM
    put16(out, 1);  // mono
    put32(out, kShakeRate);
    put32(out, kShakeRate * 2);
    put16(out, 2);
    put16(out, 16);
    put_text(out, "data");
    put32(out, data_size);
    for (std::int16_t s : samples) put16(out, std::uint16_t(s));
    return out;
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    file.close();
    if (!file) throw std::runtime_error("cannot write " + path);
    std::printf("%-13s %7zu bytes\n", path.substr(path.find_last_of('/') + 1).c_str(), bytes.size());
}

}  // namespace
}  // namespace make_assets

int main(int argc, char** argv) {
    using namespace make_assets;
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-folder>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    try {
        write_file(dir + "/frame.png", encode_png(make_frame(TWINDIAL_FONT_DIR), true));
        write_file(dir + "/pixel.bmp", make_pixel_bmp());
        write_file(dir + "/backdrop.bmp", make_backdrop_bmp());
        write_file(dir + "/shake.wav", encode_wav(make_shake()));
        write_file(dir + "/pen.png", encode_png(make_pen(), false));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_assets: %s\n", e.what());
        return 1;
    }
    return 0;
}
