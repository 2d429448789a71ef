// The PNG, BMP and WAV decoders on tables of valid and broken files made
// here.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "assets/assets.hpp"
#include "tests/unit/allocation_probe.hpp"
#include "tests/unit/assets_test_support.hpp"

namespace {

using namespace assets_test;

// --- pictures --------------------------------------------------------------------

struct PictureCase {
    std::string name;
    Bytes file;
    std::int32_t width, height;
    bool has_alpha;
    Bytes rgba;
};

// RGBA of pixels without alpha, from RGB triples.
Bytes opaque(std::initializer_list<std::uint8_t> rgb) {
    Bytes out;
    const auto* p = rgb.begin();
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) out.insert(out.end(), {p[i], p[i + 1], p[i + 2], 255});
    return out;
}

PngSpec png(std::uint32_t w, std::uint32_t h, int depth, int type, Bytes pixels) {
    PngSpec s;
    s.width = w;
    s.height = h;
    s.bit_depth = depth;
    s.color_type = type;
    s.pixels = std::move(pixels);
    return s;
}

// A palette of 256 entries (blue, green, red, 0) where entry i is
// red i, green 255 - i, blue i / 2.
Bytes full_palette() {
    Bytes p;
    for (int i = 0; i < 256; ++i) p.insert(p.end(), {std::uint8_t(i / 2), std::uint8_t(255 - i), std::uint8_t(i), 0});
    return p;
}
Bytes entry_rgba(int i) { return opaque({std::uint8_t(i), std::uint8_t(255 - i), std::uint8_t(i / 2)}); }
Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<PictureCase> valid_pictures() {
    std::vector<PictureCase> cases;

    cases.push_back({"png grey 8-bit", make_png(png(2, 2, 8, PNG_COLOR_TYPE_GRAY, {0, 10, 200, 255})), 2, 2, false,
                     opaque({0, 0, 0, 10, 10, 10, 200, 200, 200, 255, 255, 255})});
    cases.push_back({"png grey 2-bit", make_png(png(4, 1, 2, PNG_COLOR_TYPE_GRAY, {0x1B})), 4, 1, false,
                     opaque({0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255})});
    cases.push_back({"png rgb 8-bit", make_png(png(2, 1, 8, PNG_COLOR_TYPE_RGB, {0, 0, 1, 237, 28, 36})), 2, 1,
                     false, opaque({0, 0, 1, 237, 28, 36})});
    cases.push_back({"png rgb 16-bit", make_png(png(1, 1, 16, PNG_COLOR_TYPE_RGB, {0xAB, 0x00, 0x12, 0x80, 0xFF, 0xFF})),
                     1, 1, false, opaque({0xAB, 0x12, 0xFF})});
    cases.push_back({"png rgba 8-bit", make_png(png(2, 1, 8, PNG_COLOR_TYPE_RGB_ALPHA, {0, 0, 0, 255, 10, 20, 30, 0})),
                     2, 1, true, {0, 0, 0, 255, 10, 20, 30, 0}});
    cases.push_back({"png rgba 16-bit", make_png(png(1, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA, {1, 0, 2, 0, 3, 0, 0x80, 0})),
                     1, 1, true, {1, 2, 3, 0x80}});
    {
        PngSpec s = png(2, 2, 8, PNG_COLOR_TYPE_PALETTE, {1, 0, 0, 1});
        s.palette = {{1, 2, 3}, {200, 100, 50}};
        cases.push_back({"png palette 8-bit", make_png(s), 2, 2, false,
                         opaque({200, 100, 50, 1, 2, 3, 1, 2, 3, 200, 100, 50})});
    }
    {
        PngSpec s = png(3, 1, 4, PNG_COLOR_TYPE_PALETTE, {0x01, 0x10});
        s.palette = {{9, 8, 7}, {6, 5, 4}};
        cases.push_back({"png palette 4-bit", make_png(s), 3, 1, false, opaque({9, 8, 7, 6, 5, 4, 6, 5, 4})});
    }
    {
        PngSpec s = png(2, 1, 8, PNG_COLOR_TYPE_PALETTE, {0, 1});
        s.palette = {{1, 2, 3}, {4, 5, 6}};
        s.trns_alpha = {0};
        cases.push_back({"png palette with tRNS", make_png(s), 2, 1, true, {1, 2, 3, 0, 4, 5, 6, 255}});
    }
    {
        PngSpec s = png(2, 1, 8, PNG_COLOR_TYPE_RGB, {0, 0, 1, 5, 5, 5});
        s.has_trns_colour = true;
        s.trns_colour.red = 0;
        s.trns_colour.green = 0;
        s.trns_colour.blue = 1;
        cases.push_back({"png rgb with tRNS", make_png(s), 2, 1, true, {0, 0, 1, 0, 5, 5, 5, 255}});
    }
    {
        PngSpec s = png(5, 5, 8, PNG_COLOR_TYPE_RGB, {});
        Bytes expected;
        for (std::uint8_t y = 0; y < 5; ++y) {
            for (std::uint8_t x = 0; x < 5; ++x) {
                s.pixels.insert(s.pixels.end(), {std::uint8_t(x * 40), std::uint8_t(y * 40), std::uint8_t(x + y)});
                expected.insert(expected.end(), {std::uint8_t(x * 40), std::uint8_t(y * 40), std::uint8_t(x + y), 255});
            }
        }
        s.interlaced = true;
        cases.push_back({"png interlaced", make_png(s), 5, 5, false, expected});
    }

    {
        BmpSpec s;  // bottom row first, each row 3 indices and 1 padding byte
        s.width = 3;
        s.height = 2;
        s.palette = full_palette();
        s.rows = {1, 2, 3, 0, 4, 5, 6, 0};
        cases.push_back({"bmp 8-bit bottom-up", make_bmp(s), 3, 2, false,
                         concat({entry_rgba(4), entry_rgba(5), entry_rgba(6), entry_rgba(1), entry_rgba(2),
                                 entry_rgba(3)})});
        s.height = -2;  // the same rows read top row first
        cases.push_back({"bmp 8-bit top-down", make_bmp(s), 3, 2, false,
                         concat({entry_rgba(1), entry_rgba(2), entry_rgba(3), entry_rgba(4), entry_rgba(5),
                                 entry_rgba(6)})});
    }
    {
        BmpSpec s;
        s.width = 2;
        s.height = 1;
        s.colours_used = 2;
        s.palette = {10, 20, 30, 0, 40, 50, 60, 0};
        s.rows = {1, 0, 0, 0};
        cases.push_back({"bmp 8-bit two colours", make_bmp(s), 2, 1, false, opaque({60, 50, 40, 30, 20, 10})});
        s.header_size = 52;  // a longer header: the palette follows all of it
        cases.push_back({"bmp 8-bit long header", make_bmp(s), 2, 1, false, opaque({60, 50, 40, 30, 20, 10})});
    }
    {
        BmpSpec s;
        s.width = 2;
        s.height = 2;
        s.bits = 32;
        s.rows = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};  // blue, green, red, alpha
        cases.push_back({"bmp 32-bit", make_bmp(s), 2, 2, true,
                         {11, 10, 9, 12, 15, 14, 13, 16, 3, 2, 1, 4, 7, 6, 5, 8}});
    }
    return cases;
}

void expect_picture(const std::optional<assets::Picture>& got, const PictureCase& c) {
    ASSERT_TRUE(got.has_value()) << c.name;
    EXPECT_EQ(got->width, c.width) << c.name;
    EXPECT_EQ(got->height, c.height) << c.name;
    EXPECT_EQ(got->has_alpha, c.has_alpha) << c.name;
    EXPECT_EQ(got->rgba, c.rgba) << c.name;
}

std::optional<assets::Picture> decode(const Bytes& file) {
    auto in = open_bytes(file);
    if (!in) return std::nullopt;
    return assets::decode_picture(*in);
}

TEST(PictureDecoders, DecodeValidFiles) {
    for (const PictureCase& c : valid_pictures()) expect_picture(decode(c.file), c);
}

TEST(PictureDecoders, DecodeFromTheNotedStartPosition) {
    for (const PictureCase& c : valid_pictures()) {
        auto in = open_bytes(concat({{'j', 'u', 'n', 'k', 0}, c.file}));
        ASSERT_NE(in, nullptr);
        in->seek(5);
        expect_picture(assets::decode_picture(*in), c);
    }
}

TEST(PictureDecoders, EveryTruncationGivesNoPicture) {
    for (const PictureCase& c : valid_pictures()) {
        for (std::size_t n = 0; n < c.file.size(); ++n) {
            EXPECT_FALSE(decode(Bytes(c.file.begin(), c.file.begin() + std::ptrdiff_t(n))).has_value())
                << c.name << " cut to " << n << " bytes";
        }
    }
}

// Overwriting any single byte may or may not leave a valid file, but never
// crashes or reads outside the stream, and what comes out is whole.
TEST(PictureDecoders, CorruptedBytesNeverCrash) {
    for (const PictureCase& c : valid_pictures()) {
        for (std::size_t i = 0; i < c.file.size(); ++i) {
            for (std::uint8_t value : {std::uint8_t(0x00), std::uint8_t(0xFF), std::uint8_t(0x80)}) {
                Bytes broken = c.file;
                broken[i] = value;
                auto got = decode(broken);
                if (got) {
                    EXPECT_EQ(got->rgba.size(), std::size_t(got->width) * std::size_t(got->height) * 4)
                        << c.name << " byte " << i;
                }
            }
        }
    }
}

struct BrokenCase {
    std::string name;
    Bytes file;
};

// A PNG whose IHDR declares another width and height, with a correct CRC.
Bytes png_with_size(std::uint32_t width, std::uint32_t height) {
    Bytes f = make_png(png(1, 1, 8, PNG_COLOR_TYPE_RGB, {1, 2, 3}));
    const std::size_t ihdr = png_chunk(f, "IHDR");
    put_be(f, ihdr + 8, width);
    put_be(f, ihdr + 12, height);
    png_fix_crc(f, ihdr);
    return f;
}

std::vector<BrokenCase> broken_pictures() {
    std::vector<BrokenCase> cases;
    const Bytes rgb = make_png(png(4, 4, 8, PNG_COLOR_TYPE_RGB, Bytes(48, 77)));

    cases.push_back({"empty", {}});
    cases.push_back({"not a picture", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}});
    cases.push_back({"png grey with alpha", make_png(png(1, 1, 8, PNG_COLOR_TYPE_GRAY_ALPHA, {9, 9}))});
    {
        PngSpec s = png(1, 1, 8, PNG_COLOR_TYPE_GRAY, {9});
        s.has_trns_colour = true;
        s.trns_colour.gray = 9;
        cases.push_back({"png grey with tRNS (becomes grey with alpha)", make_png(s)});
    }
    {
        Bytes f = rgb;
        f[0] = 0x88;
        cases.push_back({"png bad signature", f});
    }
    {
        Bytes f = rgb;
        f[png_chunk(f, "IHDR") + 8 + 13] ^= 1;
        cases.push_back({"png IHDR CRC wrong", f});
    }
    {
        Bytes f = rgb;
        const std::size_t idat = png_chunk(f, "IDAT");
        f[idat + 8 + 2] ^= 0x40;
        cases.push_back({"png IDAT CRC wrong", f});
    }
    {
        Bytes f = rgb;
        const std::size_t idat = png_chunk(f, "IDAT");
        f[idat + 8] ^= 0x01;  // zlib header check fails
        png_fix_crc(f, idat);
        cases.push_back({"png IDAT zlib header broken", f});
    }
    {
        Bytes f = rgb;
        const std::size_t idat = png_chunk(f, "IDAT");
        const std::uint32_t n = (std::uint32_t(f[idat + 2]) << 8) | f[idat + 3];
        f[idat + 8 + n - 1] ^= 0xFF;  // Adler-32 of the image data wrong
        png_fix_crc(f, idat);
        cases.push_back({"png IDAT checksum broken", f});
    }
    {
        Bytes f = rgb;
        const std::size_t iend = png_chunk(f, "IEND");
        f.resize(iend);
        cases.push_back({"png without IEND", f});
    }
    cases.push_back({"png zero width", png_with_size(0, 1)});
    cases.push_back({"png zero height", png_with_size(1, 0)});
    cases.push_back({"png width 2^31", png_with_size(0x80000000u, 1)});
    cases.push_back({"png width 2^31 - 1", png_with_size(0x7FFFFFFFu, 1)});
    cases.push_back({"png 20000 wide", png_with_size(20000, 1)});
    cases.push_back({"png 16384 x 16384", png_with_size(16384, 16384)});
    cases.push_back({"png larger than its data", png_with_size(64, 64)});

    BmpSpec ok;  // a valid 2 x 2 file, each case changes one thing
    ok.width = 2;
    ok.height = 2;
    ok.colours_used = 2;
    ok.palette = {1, 2, 3, 0, 4, 5, 6, 0};
    ok.rows = {0, 1, 0, 0, 1, 0, 0, 0};
    auto bmp = [&](const char* name, auto change) {
        BmpSpec s = ok;
        change(s);
        cases.push_back({std::string("bmp ") + name, make_bmp(s)});
    };
    bmp("24-bit", [](BmpSpec& s) { s.bits = 24; });
    bmp("16-bit", [](BmpSpec& s) { s.bits = 16; });
    bmp("1-bit", [](BmpSpec& s) { s.bits = 1; });
    bmp("RLE8 compressed", [](BmpSpec& s) { s.compression = 1; });
    bmp("zero width", [](BmpSpec& s) { s.width = 0; });
    bmp("zero height", [](BmpSpec& s) { s.height = 0; });
    bmp("negative width", [](BmpSpec& s) { s.width = -2; });
    bmp("absurd width", [](BmpSpec& s) { s.width = 0x7FFFFFFF; });
    bmp("absurd height", [](BmpSpec& s) { s.height = 0x7FFFFFFF; });
    bmp("absurd negative height", [](BmpSpec& s) { s.height = -0x7FFFFFFF; });
    bmp("most negative height", [](BmpSpec& s) { s.height = INT32_MIN; });
    bmp("40000 x 40000", [](BmpSpec& s) { s.width = s.height = 40000; });
    bmp("header size 39", [](BmpSpec& s) { s.header_size = 39; });
    bmp("header past the end", [](BmpSpec& s) { s.header_size = 0xFFFFFFFF; s.palette.clear(); s.rows.clear(); });
    bmp("palette past the end", [](BmpSpec& s) { s.colours_used = 0x40000000; });
    bmp("palette one entry short", [](BmpSpec& s) { s.colours_used = 5; });
    bmp("default palette missing", [](BmpSpec& s) { s.colours_used = 0; });
    bmp("rows past the end", [](BmpSpec& s) { s.height = 3; });
    bmp("index beyond the palette", [](BmpSpec& s) { s.rows[1] = 2; });
    bmp("32-bit rows past the end", [](BmpSpec& s) { s.bits = 32; s.colours_used = 0; s.palette.clear(); });
    {
        Bytes f = make_bmp(ok);
        f[1] = 'N';
        cases.push_back({"bmp bad signature", f});
    }
    return cases;
}

TEST(PictureDecoders, BrokenFilesGiveNoPicture) {
    for (const BrokenCase& c : broken_pictures()) EXPECT_FALSE(decode(c.file).has_value()) << c.name;
}

TEST(PictureDecoders, EachDecoderAcceptsOnlyItsOwnFormat) {
    const Bytes png_file = make_png(png(1, 1, 8, PNG_COLOR_TYPE_RGB, {1, 2, 3}));
    BmpSpec s;
    s.colours_used = 1;
    s.palette = {1, 2, 3, 0};
    s.rows = {0, 0, 0, 0};
    const Bytes bmp_file = make_bmp(s);
    EXPECT_FALSE(assets::decode_bmp(*open_bytes(png_file)).has_value());
    EXPECT_FALSE(assets::decode_png(*open_bytes(bmp_file)).has_value());
    EXPECT_TRUE(assets::decode_png(*open_bytes(png_file)).has_value());
    EXPECT_TRUE(assets::decode_bmp(*open_bytes(bmp_file)).has_value());
    EXPECT_FALSE(assets::decode_wav(*open_bytes(png_file)).has_value());
}

// --- sounds -----------------------------------------------------------------------

struct SoundCase {
    std::string name;
    Bytes file;
    int channels, bits;
    std::uint32_t rate, frames;
    Bytes data;
};

WavSpec wav(int channels, int bits, Bytes data) {
    WavSpec s;
    s.channels = channels;
    s.bits = bits;
    s.data = std::move(data);
    return s;
}

std::vector<SoundCase> valid_sounds() {
    std::vector<SoundCase> cases;
    cases.push_back({"mono 8-bit", make_wav(wav(1, 8, {0, 128, 255})), 1, 8, 11025, 3, {0, 128, 255}});
    cases.push_back({"mono 16-bit", make_wav(wav(1, 16, {1, 2, 3, 4})), 1, 16, 11025, 2, {1, 2, 3, 4}});
    cases.push_back({"stereo 8-bit", make_wav(wav(2, 8, {1, 2, 3, 4})), 2, 8, 11025, 2, {1, 2, 3, 4}});
    cases.push_back({"stereo 16-bit", make_wav(wav(2, 16, {1, 2, 3, 4, 5, 6, 7, 8})), 2, 16, 11025, 2,
                     {1, 2, 3, 4, 5, 6, 7, 8}});
    cases.push_back({"stereo 16-bit, partial frame dropped", make_wav(wav(2, 16, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10})),
                     2, 16, 11025, 2, {1, 2, 3, 4, 5, 6, 7, 8}});
    {
        WavSpec s = wav(1, 16, {5, 6});
        s.rate = 44100;
        cases.push_back({"other rate", make_wav(s), 1, 16, 44100, 1, {5, 6}});
    }
    {
        WavSpec s = wav(1, 16, {5, 6});
        s.fmt_extra = 2;
        cases.push_back({"fmt chunk of 18 bytes", make_wav(s), 1, 16, 11025, 1, {5, 6}});
    }
    {
        WavSpec s = wav(1, 8, {5, 6});
        s.before_data = chunk("LIST", {'I', 'N', 'F', 'O', 'd', 'a', 't', 'a'});
        cases.push_back({"LIST chunk skipped", make_wav(s), 1, 8, 11025, 2, {5, 6}});
    }
    {
        WavSpec s = wav(1, 8, {5, 6});
        s.before_data = concat({chunk("odd ", {'d', 'a', 't'}), chunk("fact", {1, 0, 0, 0})});
        cases.push_back({"odd-sized chunk skipped without pad byte", make_wav(s), 1, 8, 11025, 2, {5, 6}});
    }
    return cases;
}

std::optional<platform::PcmSample> decode_sound(const Bytes& file) {
    auto in = open_bytes(file);
    if (!in) return std::nullopt;
    return assets::decode_wav(*in);
}

TEST(WavDecoder, DecodesValidFiles) {
    for (const SoundCase& c : valid_sounds()) {
        auto got = decode_sound(c.file);
        ASSERT_TRUE(got.has_value()) << c.name;
        EXPECT_EQ(got->channels, c.channels) << c.name;
        EXPECT_EQ(got->bits, c.bits) << c.name;
        EXPECT_EQ(got->rate, c.rate) << c.name;
        EXPECT_EQ(got->frames, c.frames) << c.name;
        EXPECT_EQ(got->data, c.data) << c.name;
    }
}

TEST(WavDecoder, EveryTruncationGivesNoSample) {
    for (const SoundCase& c : valid_sounds()) {
        for (std::size_t n = 0; n < c.file.size(); ++n) {
            EXPECT_FALSE(decode_sound(Bytes(c.file.begin(), c.file.begin() + std::ptrdiff_t(n))).has_value())
                << c.name << " cut to " << n << " bytes";
        }
    }
}

TEST(WavDecoder, CorruptedBytesNeverCrash) {
    for (const SoundCase& c : valid_sounds()) {
        for (std::size_t i = 0; i < c.file.size(); ++i) {
            for (std::uint8_t value : {std::uint8_t(0x00), std::uint8_t(0xFF), std::uint8_t(0x80)}) {
                Bytes broken = c.file;
                broken[i] = value;
                if (auto got = decode_sound(broken)) {
                    EXPECT_EQ(got->data.size(), std::size_t(got->frames) * got->channels * got->bits / 8)
                        << c.name << " byte " << i;
                }
            }
        }
    }
}

TEST(WavDecoder, RefusesOtherFormatsAndBrokenFiles) {
    std::vector<BrokenCase> cases;
    auto add = [&](const char* name, auto change) {
        WavSpec s = wav(1, 16, {1, 2, 3, 4});
        change(s);
        cases.push_back({name, make_wav(s)});
    };
    add("float format 3", [](WavSpec& s) { s.format = 3; s.bits = 32; });
    add("format 3 with 16-bit samples", [](WavSpec& s) { s.format = 3; });
    add("format 0xFFFE", [](WavSpec& s) { s.format = 0xFFFE; });
    add("24-bit", [](WavSpec& s) { s.bits = 24; s.data = {1, 2, 3}; });
    add("32-bit integer", [](WavSpec& s) { s.bits = 32; });
    add("4-bit", [](WavSpec& s) { s.bits = 4; });
    add("no channels", [](WavSpec& s) { s.channels = 0; });
    add("three channels", [](WavSpec& s) { s.channels = 3; s.bits = 8; s.data = {1, 2, 3}; });
    add("rate 0", [](WavSpec& s) { s.rate = 0; });
    add("data chunk past the end", [](WavSpec& s) { s.data_size = 100; });
    add("data chunk size 2^32 - 1", [](WavSpec& s) { s.data_size = 0xFFFFFFFF; });
    add("other chunk past the end", [](WavSpec& s) { s.before_data = {'L', 'I', 'S', 'T', 0xFF, 0xFF, 0xFF, 0x7F}; });

    // No "data" chunk at all: the "fmt " chunk and then a LIST chunk.
    Bytes no_data = make_wav(wav(1, 16, {}));
    no_data.resize(no_data.size() - 8);
    const Bytes list = chunk("LIST", {1, 2, 3, 4});
    no_data.insert(no_data.end(), list.begin(), list.end());
    cases.push_back({"no data chunk", no_data});

    // "fmt " must come first.
    Bytes late_fmt = make_wav(wav(1, 16, {1, 2}));
    late_fmt.insert(late_fmt.begin() + 12, list.begin(), list.end());
    cases.push_back({"LIST before fmt", late_fmt});

    // fmt size below its 16 fields.
    Bytes short_fmt = make_wav(wav(1, 16, {1, 2}));
    short_fmt[16] = 14;
    cases.push_back({"fmt size 14", short_fmt});

    Bytes huge_fmt = make_wav(wav(1, 16, {1, 2}));
    huge_fmt[19] = 0x7F;
    cases.push_back({"fmt size past the end", huge_fmt});

    for (const char* tag : {"RIFX", "WAVF", "fmt_"}) {
        Bytes f = make_wav(wav(1, 16, {1, 2}));
        const std::size_t at = tag[0] == 'R' ? 0 : tag[0] == 'W' ? 8 : 12;
        std::memcpy(&f[at], tag, 4);
        cases.push_back({std::string("tag ") + tag, f});
    }
    cases.push_back({"empty", {}});

    for (const BrokenCase& c : cases) EXPECT_FALSE(decode_sound(c.file).has_value()) << c.name;
}

// --- sizes refused before anything is allocated for them ---------------------------
//
// Cases found by the fuzz targets (tests/fuzz) are among them, each reduced
// to the smallest file that shows the fault.

constexpr std::size_t kDecodeLimit = std::size_t{16} << 20;  // pictures' RGBA and WAV data
// What decoding a refused file may take at most in one allocation: the
// decoders' and libpng's own working memory, never anything sized by a claim.
constexpr std::size_t kRefusedAllocation = std::size_t{1} << 20;

// A valid 1 x 1 PNG with, after IHDR, a chunk header that claims `length`
// bytes; the file ends right after it.
Bytes png_claiming(const char* type, std::uint32_t length) {
    Bytes f = make_png(png(1, 1, 8, PNG_COLOR_TYPE_RGB, {1, 2, 3}));
    const std::size_t after_ihdr = png_chunk(f, "IHDR") + 12 + 13;
    Bytes header;
    put_tag(header, "....");
    put_be(header, 0, length);
    put_tag(header, type);
    f.insert(f.begin() + std::ptrdiff_t(after_ihdr), header.begin(), header.end());
    f.resize(after_ihdr + header.size());
    return f;
}

Bytes bmp_8bit(std::int32_t width, std::int32_t height) {
    BmpSpec s;
    s.width = width;
    s.height = height;
    s.palette = full_palette();
    s.rows.assign(std::size_t((width + 3) / 4 * 4) * std::size_t(std::abs(height)), 7);
    return make_bmp(s);
}

Bytes wav_of(std::size_t data_bytes) { return make_wav(wav(1, 16, Bytes(data_bytes, 0x11))); }

// The largest single allocation made by decoding `file` with `decoder`,
// and whether it produced anything. The file is embedded before the
// probe starts, so only the decoder's allocations count.
template <class Decoder>
std::pair<std::size_t, bool> largest_allocation(const Bytes& file, Decoder decoder) {
    auto in = open_bytes(file);
    allocation_probe::Largest largest;
    const bool produced = decoder(*in).has_value();
    return {largest.bytes(), produced};
}

TEST(DecoderLimits, ClaimsBeyondTheLimitsAreRefusedBeforeAllocating) {
    std::vector<BrokenCase> pictures;
    // Found by the image fuzz target: libpng warned that the pCAL chunk was
    // too large and then allocated its 1.2 GB all the same.
    pictures.push_back({"png pCAL claiming 1.2 GB", png_claiming("pCAL", 0x4D000023)});
    for (const char* type : {"iCCP", "zTXt", "iTXt", "tEXt", "sPLT", "eXIf", "sCAL", "tRNS", "PLTE", "quIT"})
        pictures.push_back({std::string("png ") + type + " claiming 2^31 - 1 bytes", png_claiming(type, 0x7FFFFFFF)});
    pictures.push_back({"png 2048 x 2049, header only", png_with_size(2048, 2049)});
    pictures.push_back({"png 16384 x 16384, header only", png_with_size(16384, 16384)});
    pictures.push_back({"bmp 2048 x 2049 with all its rows", bmp_8bit(2048, 2049)});
    for (const BrokenCase& c : pictures) {
        const auto [bytes, produced] = largest_allocation(c.file, assets::decode_picture);
        EXPECT_FALSE(produced) << c.name;
        EXPECT_LE(bytes, kRefusedAllocation) << c.name;
    }

    const auto [bytes, produced] = largest_allocation(wav_of(kDecodeLimit + 2), assets::decode_wav);
    EXPECT_FALSE(produced) << "WAV data of 16 MiB and 2 bytes";
    EXPECT_LE(bytes, kRefusedAllocation) << "WAV data of 16 MiB and 2 bytes";
}

TEST(DecoderLimits, FilesAtTheLimitsLoad) {
    const Bytes grey = make_png(png(2048, 2048, 8, PNG_COLOR_TYPE_GRAY, Bytes(2048 * 2048, 9)));
    for (const Bytes& file : {grey, bmp_8bit(2048, -2048)}) {
        const auto [bytes, produced] = largest_allocation(file, assets::decode_picture);
        EXPECT_TRUE(produced);
        EXPECT_LE(bytes, kDecodeLimit);
    }
    const auto [bytes, produced] = largest_allocation(wav_of(kDecodeLimit), assets::decode_wav);
    EXPECT_TRUE(produced);
    EXPECT_LE(bytes, kDecodeLimit);
}

}  // namespace
