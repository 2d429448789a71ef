// The picture and sample decoders. Every decoder reads through the Stream
// only, checks each size against what the stream still holds before
// allocating, and gives no result for anything it does not accept.
#include <png.h>

#include <csetjmp>
#include <cstring>

#include "assets/assets.hpp"

namespace assets {

namespace {

// The largest picture accepted: 16 MiB of red, green, blue and alpha, such
// as 2048 x 2048, and no side above 16384. The largest built-in picture is
// 800 x 600 (1.8 MiB); anything declaring more is refused before a pixel
// is allocated. A load holds the picture about three times over (decoded
// rows, the picture, the sprite made from it), which this keeps under
// 64 MiB.
constexpr std::uint32_t kMaxSide = 16384;
constexpr std::uint64_t kMaxPictureBytes = std::uint64_t{16} << 20;
constexpr std::uint64_t kMaxPixels = kMaxPictureBytes / 4;
// The largest WAV data accepted, the same 16 MiB (about 6 minutes of
// 16-bit stereo at 11025 Hz; the built-in sound has 20736 bytes).
constexpr std::uint64_t kMaxSampleBytes = std::uint64_t{16} << 20;

// libpng reads many ancillary chunks whole into memory, sized by the length
// the chunk declares, and for some (pCAL, the text chunks, sPLT) it does so
// even after warning that the length is beyond its limit. So every
// ancillary chunk but tRNS is skipped unread: they are colour-space, text
// and layout data that the decoder ignores anyway. PLTE and tRNS are read
// into fixed buffers after libpng checked their length (768 and 256 bytes at
// most), and whatever else libpng would still hold is capped at 1 MiB.
constexpr png_alloc_size_t kMaxPngChunk = 1 << 20;
constexpr png_byte kPngChunksRead[] = "tRNS";

bool size_acceptable(std::uint64_t width, std::uint64_t height) {
    return width > 0 && height > 0 && width <= kMaxSide && height <= kMaxSide &&
           width * height <= kMaxPixels;
}

// Bytes left between the position and the end; 0 for a stream that cannot
// tell.
std::uint64_t remaining(const Stream& in) {
    const std::int64_t left = in.size() - in.position();
    return left > 0 ? std::uint64_t(left) : 0;
}

// Reads exactly `count` bytes; false when the stream ends first.
bool read_exact(Stream& in, void* buffer, std::int64_t count) {
    return in.read(buffer, count) == count;
}

// Little-endian fields. Each reports failure through `ok`, so a header can
// be read field by field and checked once.
struct LeReader {
    Stream& in;
    bool ok = true;

    std::uint32_t u(int bytes) {
        std::uint8_t b[4] = {};
        if (!ok || !read_exact(in, b, bytes)) {
            ok = false;
            return 0;
        }
        std::uint32_t v = 0;
        for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | b[i];
        return v;
    }
    std::uint16_t u16() { return std::uint16_t(u(2)); }
    std::uint32_t u32() { return u(4); }
    std::int32_t s32() { return std::int32_t(u(4)); }
    bool tag(const char (&expected)[5]) {
        char t[4] = {};
        if (!ok || !read_exact(in, t, 4)) ok = false;
        return ok && std::memcmp(t, expected, 4) == 0;
    }
};

// --- PNG ---------------------------------------------------------------------
//
// libpng reports errors by calling the error callback, which must not
// return; it longjmps back to the setjmp in png_read_header or png_read_rows.
// Those two functions hold no C++ object with a destructor, so the jump
// skips no cleanup; everything with a destructor lives in decode_png, whose
// frame the jump never leaves.

void png_error_cb(png_structp png, png_const_charp /*message*/) { png_longjmp(png, 1); }
void png_warning_cb(png_structp, png_const_charp) {}

void png_read_cb(png_structp png, png_bytep out, std::size_t count) {
    Stream* in = static_cast<Stream*>(png_get_io_ptr(png));
    if (count > std::size_t(INT64_MAX) || !read_exact(*in, out, std::int64_t(count))) {
        png_error(png, "unexpected end of data");
    }
}

struct PngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bit_depth = 0;
    int color_type = 0;
    std::size_t rowbytes = 0;
};

// Reads the chunks up to the image data and sets up the transforms:
// 16-bit channels reduced to 8, palettes, low grey depths and tRNS
// expanded. No gamma handling is asked for, so stored values stay as they
// are whatever gAMA, sRGB or cHRM say.
bool png_read_header(png_structp png, png_infop info, PngHeader* header) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_sig_bytes(png, 8);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_set_chunk_malloc_max(png, kMaxPngChunk);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kPngChunksRead, 1);
    png_read_info(png, info);
    png_set_strip_16(png);
    png_set_expand(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    header->width = png_get_image_width(png, info);
    header->height = png_get_image_height(png, info);
    header->bit_depth = png_get_bit_depth(png, info);
    header->color_type = png_get_color_type(png, info);
    header->rowbytes = png_get_rowbytes(png, info);
    return true;
}

bool png_read_rows(png_structp png, png_infop info, png_bytepp rows) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_read_image(png, rows);
    png_read_end(png, info);
    return true;
}

struct PngGuard {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngGuard() {
        if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
    }
};

}  // namespace

std::optional<Picture> decode_png(Stream& in) {
    png_byte signature[8];
    if (!read_exact(in, signature, 8) || png_sig_cmp(signature, 0, 8) != 0) return std::nullopt;

    PngGuard guard;
    guard.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_cb, png_warning_cb);
    if (guard.png == nullptr) return std::nullopt;
    guard.info = png_create_info_struct(guard.png);
    if (guard.info == nullptr) return std::nullopt;
    png_set_read_fn(guard.png, &in, png_read_cb);

    PngHeader h;
    if (!png_read_header(guard.png, guard.info, &h)) return std::nullopt;
    if (!size_acceptable(h.width, h.height) || h.bit_depth != 8) return std::nullopt;
    int channels = 0;
    switch (h.color_type) {
        case PNG_COLOR_TYPE_GRAY: channels = 1; break;
        case PNG_COLOR_TYPE_RGB: channels = 3; break;
        case PNG_COLOR_TYPE_RGB_ALPHA: channels = 4; break;
        default: return std::nullopt;
    }
    if (h.rowbytes != std::size_t(h.width) * std::size_t(channels)) return std::nullopt;

    std::vector<png_byte> raw(h.rowbytes * h.height);
    std::vector<png_bytep> rows(h.height);
    for (png_uint_32 y = 0; y < h.height; ++y) rows[y] = raw.data() + std::size_t(y) * h.rowbytes;
    if (!png_read_rows(guard.png, guard.info, rows.data())) return std::nullopt;

    Picture picture;
    picture.width = std::int32_t(h.width);
    picture.height = std::int32_t(h.height);
    picture.has_alpha = channels == 4;
    const std::size_t count = std::size_t(h.width) * h.height;
    picture.rgba.resize(count * 4);
    const png_byte* src = raw.data();
    std::uint8_t* dst = picture.rgba.data();
    for (std::size_t i = 0; i < count; ++i, src += channels, dst += 4) {
        if (channels == 1) {
            dst[0] = dst[1] = dst[2] = src[0];
        } else {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
        dst[3] = channels == 4 ? src[3] : 255;
    }
    return picture;
}

// --- BMP ---------------------------------------------------------------------
//
// 8 bits per pixel with a palette, and 32 bits per pixel stored blue, green,
// red, alpha. Uncompressed only. The palette follows the information header
// directly and the rows follow the palette directly; the pixel offset field
// is not used. A positive height stores the bottom row first; a negative
// height means the rows are stored top row first. Rows are padded to a
// multiple of 4 bytes.

std::optional<Picture> decode_bmp(Stream& in) {
    char signature[2];
    if (!read_exact(in, signature, 2) || signature[0] != 'B' || signature[1] != 'M') return std::nullopt;

    LeReader r{in};
    r.u32();  // file size
    r.u16();  // reserved
    r.u16();  // reserved
    r.u32();  // pixel offset, not used
    const std::uint32_t header_size = r.u32();
    const std::int32_t width = r.s32();
    const std::int32_t height = r.s32();
    r.u16();  // planes
    const std::uint16_t bits = r.u16();
    const std::uint32_t compression = r.u32();
    r.u32();  // image size
    r.u32();  // horizontal resolution
    r.u32();  // vertical resolution
    const std::uint32_t colours_used = r.u32();
    r.u32();  // important colours
    if (!r.ok || header_size < 40 || compression != 0 || (bits != 8 && bits != 32)) return std::nullopt;
    if (width <= 0 || height == 0 || height == INT32_MIN) return std::nullopt;
    const bool top_down = height < 0;
    const std::uint32_t rows = top_down ? std::uint32_t(-height) : std::uint32_t(height);
    if (!size_acceptable(std::uint32_t(width), rows)) return std::nullopt;

    // Newer, longer information headers carry fields this decoder does not
    // use; the palette follows the whole header.
    if (header_size - 40 > remaining(in)) return std::nullopt;
    in.seek(in.position() + (header_size - 40));

    std::vector<std::uint8_t> palette;
    if (bits == 8) {
        const std::uint64_t entries = colours_used == 0 ? 256 : colours_used;
        if (entries * 4 > remaining(in)) return std::nullopt;
        palette.resize(entries * 4);
        if (!read_exact(in, palette.data(), std::int64_t(palette.size()))) return std::nullopt;
    }

    const std::size_t w = std::size_t(width);
    const std::size_t stride = bits == 8 ? (w + 3) / 4 * 4 : w * 4;
    if (std::uint64_t(stride) * rows > remaining(in)) return std::nullopt;

    Picture picture;
    picture.width = width;
    picture.height = std::int32_t(rows);
    picture.has_alpha = bits == 32;
    picture.rgba.resize(w * rows * 4);
    std::vector<std::uint8_t> row(stride);
    for (std::uint32_t i = 0; i < rows; ++i) {
        if (!read_exact(in, row.data(), std::int64_t(stride))) return std::nullopt;
        const std::uint32_t y = top_down ? i : rows - 1 - i;
        std::uint8_t* dst = picture.rgba.data() + std::size_t(y) * w * 4;
        for (std::size_t x = 0; x < w; ++x, dst += 4) {
            if (bits == 8) {
                const std::size_t entry = std::size_t(row[x]) * 4;
                if (entry >= palette.size()) return std::nullopt;
                dst[0] = palette[entry + 2];
                dst[1] = palette[entry + 1];
                dst[2] = palette[entry];
                dst[3] = 255;
            } else {
                const std::uint8_t* src = row.data() + x * 4;
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
                dst[3] = src[3];
            }
        }
    }
    return picture;
}

// --- WAV ---------------------------------------------------------------------
//
// RIFF WAVE with the "fmt " chunk first, PCM only, mono or stereo, 8-bit
// unsigned or 16-bit signed samples. Chunks after "fmt " are skipped by
// their declared size (no pad byte) until "data". A "data" chunk that
// declares more bytes than the stream holds, or more than 16 MiB, gives no
// sample.

std::optional<platform::PcmSample> decode_wav(Stream& in) {
    LeReader r{in};
    if (!r.tag("RIFF")) return std::nullopt;
    r.u32();  // size of the rest, not used
    if (!r.tag("WAVE") || !r.tag("fmt ")) return std::nullopt;
    const std::uint32_t fmt_size = r.u32();
    const std::uint16_t format = r.u16();
    const std::uint16_t channels = r.u16();
    const std::uint32_t rate = r.u32();
    r.u32();  // byte rate, not used
    r.u16();  // block align, not used
    const std::uint16_t bits = r.u16();
    // A "fmt " chunk shorter than its fields, or a rate of 0, is broken.
    if (!r.ok || fmt_size < 16 || format != 1 || rate == 0) return std::nullopt;
    if ((channels != 1 && channels != 2) || (bits != 8 && bits != 16)) return std::nullopt;
    if (fmt_size > 16) in.seek(in.position() + (fmt_size - 16));

    const std::uint32_t frame_bytes = std::uint32_t(channels) * bits / 8;
    for (;;) {
        char tag[4];
        if (!read_exact(in, tag, 4)) return std::nullopt;
        const std::uint32_t size = r.u32();
        if (!r.ok) return std::nullopt;
        if (std::memcmp(tag, "data", 4) != 0) {
            in.seek(in.position() + size);
            continue;
        }
        if (size > kMaxSampleBytes || size > remaining(in)) return std::nullopt;
        platform::PcmSample sample;
        sample.channels = channels;
        sample.bits = bits;
        sample.rate = rate;
        sample.frames = size / frame_bytes;
        sample.data.resize(std::size_t(sample.frames) * frame_bytes);
        if (!read_exact(in, sample.data.data(), std::int64_t(sample.data.size()))) return std::nullopt;
        return sample;
    }
}

std::optional<Picture> decode_picture(Stream& in) {
    const std::int64_t start = in.position();
    if (start < 0) return std::nullopt;
    if (auto picture = decode_png(in)) return picture;
    in.seek(start);
    return decode_bmp(in);
}

}  // namespace assets
