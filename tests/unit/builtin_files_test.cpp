// Checks the five committed built-in files in assets/files/ against what the
// toy relies on: the exact BMP bytes, the PNG chunk lists, the colours and
// regions of the frame and the pen, and the shape of the shake sound.
#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "assets/toy.hpp"

#ifndef TWINDIAL_ASSET_DIR
#error "TWINDIAL_ASSET_DIR must name the folder of the built-in files"
#endif

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes read_asset(const std::string& name) {
    std::ifstream file(std::string(TWINDIAL_ASSET_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::uint32_t le(const Bytes& b, std::size_t at, int size) {
    std::uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | b.at(at + i);
    return v;
}
std::uint32_t be32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b.at(at)) << 24 | std::uint32_t(b.at(at + 1)) << 16 | std::uint32_t(b.at(at + 2)) << 8 |
           b.at(at + 3);
}
std::string tag(const Bytes& b, std::size_t at, std::size_t size) {
    return at + size <= b.size() ? std::string(b.begin() + std::ptrdiff_t(at), b.begin() + std::ptrdiff_t(at + size))
                                 : std::string();
}

struct Rgb {
    int r, g, b;
    auto operator<=>(const Rgb&) const = default;
};
constexpr Rgb rgb(toy::Rgb c) { return {c.r, c.g, c.b}; }
constexpr Rgb kBlack = rgb(toy::kBlack), kRed = rgb(toy::kBody), kYellow = rgb(toy::kYellow), kBlue = rgb(toy::kKnob);

struct Box {
    int x0, y0, x1, y1;
    bool contains(int x, int y) const { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
    bool operator==(const Box&) const = default;
};

void PrintTo(const Box& b, std::ostream* os) { *os << "x " << b.x0 << "-" << b.x1 << ", y " << b.y0 << "-" << b.y1; }

struct Picture {
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[std::size_t(y) * width + x]; }
    bool inside(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height; }

    // How many pixels `pick` accepts, and the smallest box around them.
    template <typename Pick>
    int count(Pick pick, Box* bounds = nullptr) const {
        int n = 0;
        Box b{width, height, -1, -1};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if (!pick(x, y, at(x, y))) continue;
                ++n;
                b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x), std::max(b.y1, y)};
            }
        }
        if (bounds) *bounds = b;
        return n;
    }
};

// Decodes with the transforms the program's loader uses and no gamma
// handling; an empty picture when libpng refuses the file or the result is
// not 8-bit RGB.
struct PngReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    const Bytes* data = nullptr;
    std::size_t offset = 0;

    static void read(png_structp png, png_bytep out, png_size_t n) {
        auto* self = static_cast<PngReader*>(png_get_io_ptr(png));
        if (self->offset + n > self->data->size()) png_error(png, "truncated");
        std::memcpy(out, self->data->data() + self->offset, n);
        self->offset += n;
    }
};

bool decode_rows(PngReader& r, std::vector<std::uint8_t>& rgb, int& width, int& height) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_set_read_fn(r.png, &r, PngReader::read);
    png_read_info(r.png, r.info);
    png_set_strip_16(r.png);
    png_set_expand(r.png);
    png_read_update_info(r.png, r.info);
    if (png_get_bit_depth(r.png, r.info) != 8 || png_get_color_type(r.png, r.info) != PNG_COLOR_TYPE_RGB)
        return false;
    width = int(png_get_image_width(r.png, r.info));
    height = int(png_get_image_height(r.png, r.info));
    rgb.assign(std::size_t(width) * height * 3, 0);
    for (int y = 0; y < height; ++y) png_read_row(r.png, rgb.data() + std::size_t(y) * width * 3, nullptr);
    png_read_end(r.png, nullptr);
    return true;
}

Picture decode_png(const Bytes& file) {
    PngReader r;
    r.data = &file;
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    r.info = png_create_info_struct(r.png);
    std::vector<std::uint8_t> rgb;
    int width = 0, height = 0;
    const bool ok = r.png && r.info && decode_rows(r, rgb, width, height);
    png_destroy_read_struct(&r.png, &r.info, nullptr);
    Picture picture;
    if (!ok) return picture;
    picture.width = width;
    picture.height = height;
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) picture.pixels.push_back({rgb[i], rgb[i + 1], rgb[i + 2]});
    return picture;
}

struct Chunk {
    std::string type;
    Bytes data;
};

// The chunks after the signature; stops at the first one that runs past the
// end of the file.
std::vector<Chunk> png_chunks(const Bytes& file) {
    std::vector<Chunk> chunks;
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const std::size_t size = be32(file, at);
        if (size > file.size() - at - 12) break;
        chunks.push_back({tag(file, at + 4, 4), Bytes(file.begin() + std::ptrdiff_t(at + 8),
                                                      file.begin() + std::ptrdiff_t(at + 8 + size))});
        at += 12 + size;
    }
    return chunks;
}

// --- BMP files -----------------------------------------------------------------

struct Field {
    std::size_t offset;
    int size;
    std::uint32_t value;
};

struct BmpCase {
    const char* name;
    std::size_t file_size;
    std::vector<Field> header;
    std::map<int, Rgb> used_palette;
    Bytes pixel_data;  // index bytes, bottom row first, padding included
};

class BmpFile : public testing::TestWithParam<BmpCase> {};

TEST_P(BmpFile, HasItsExactBytes) {
    const BmpCase& c = GetParam();
    const Bytes file = read_asset(c.name);
    ASSERT_EQ(file.size(), c.file_size);
    EXPECT_EQ(tag(file, 0, 2), "BM");
    for (const Field& f : c.header) EXPECT_EQ(le(file, f.offset, f.size), f.value) << "field at offset " << f.offset;
    for (const auto& [index, colour] : c.used_palette) {
        const std::size_t at = 54 + std::size_t(index) * 4;
        EXPECT_EQ((Rgb{file[at + 2], file[at + 1], file[at]}), colour) << "palette entry " << index;
        EXPECT_EQ(file[at + 3], 0);
    }
    EXPECT_TRUE(std::equal(file.begin() + 1078, file.end(), c.pixel_data.begin(), c.pixel_data.end()));
}

constexpr int kLight = 126, kDark = 83;

INSTANTIATE_TEST_SUITE_P(
    BuiltinFiles, BmpFile,
    testing::Values(
        BmpCase{"pixel.bmp",
                1090,
                {{2, 4, 1090}, {6, 2, 0}, {8, 2, 0}, {10, 4, 1078}, {14, 4, 40}, {18, 4, 3}, {22, 4, 3},
                 {26, 2, 1}, {28, 2, 8}, {30, 4, 0}, {34, 4, 12}, {38, 4, 3780}, {42, 4, 3780}, {46, 4, 0},
                 {50, 4, 0}},
                {{kLight, rgb(toy::kBrushLight)}, {kDark, rgb(toy::kBrushDark)}},
                {kLight, kDark, kLight, 0, kDark, kLight, kDark, 0, kLight, kDark, kLight, 0}},
        BmpCase{"backdrop.bmp",
                481078,
                {{2, 4, 481078}, {6, 2, 0}, {8, 2, 0}, {10, 4, 1078}, {14, 4, 40}, {18, 4, 800}, {22, 4, 600},
                 {26, 2, 1}, {28, 2, 8}, {30, 4, 0}, {34, 4, 480000}, {38, 4, 0}, {42, 4, 0}, {46, 4, 0},
                 {50, 4, 0}},
                {{8, rgb(toy::kBackdrop)}},
                Bytes(800 * 600, 8)}),
    [](const testing::TestParamInfo<BmpCase>& info) { return info.index == 0 ? "Brush" : "Backdrop"; });

// --- PNG chunk lists --------------------------------------------------------------

Bytes be_values(std::initializer_list<std::uint32_t> values) {
    Bytes out;
    for (std::uint32_t v : values)
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(std::uint8_t(v >> shift));
    return out;
}

Bytes ihdr(std::uint32_t w, std::uint32_t h) {
    Bytes out = be_values({w, h});
    out.insert(out.end(), {8, 2, 0, 0, 0});
    return out;
}

const Bytes kSrgb{0};
const Bytes kGama = be_values({45455});
const Bytes kChrm = be_values({31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000});

struct PngCase {
    const char* name;
    std::vector<Chunk> expected;  // IDAT's content is not compared
};

class PngFile : public testing::TestWithParam<PngCase> {};

TEST_P(PngFile, HasExactlyItsChunks) {
    const Bytes file = read_asset(GetParam().name);
    ASSERT_GE(file.size(), 8u);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 8), (Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
    const std::vector<Chunk> chunks = png_chunks(file);
    const std::vector<Chunk>& want = GetParam().expected;
    ASSERT_EQ(chunks.size(), want.size());
    std::size_t end = 8;
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(chunks[i].type, want[i].type) << "chunk " << i;
        if (want[i].type != "IDAT") {
            EXPECT_EQ(chunks[i].data, want[i].data) << want[i].type;
        }
        end += 12 + chunks[i].data.size();
    }
    EXPECT_EQ(end, file.size()) << "bytes after IEND";
}

INSTANTIATE_TEST_SUITE_P(
    BuiltinFiles, PngFile,
    testing::Values(PngCase{"frame.png",
                            {{"IHDR", ihdr(800, 600)},
                             {"pHYs", [] {
                                  Bytes b = be_values({3779, 3779});
                                  b.push_back(1);
                                  return b;
                              }()},
                             {"sRGB", kSrgb},
                             {"gAMA", kGama},
                             {"cHRM", kChrm},
                             {"IDAT", {}},
                             {"IEND", {}}}},
                    PngCase{"pen.png",
                            {{"IHDR", ihdr(56, 56)},
                             {"sRGB", kSrgb},
                             {"gAMA", kGama},
                             {"cHRM", kChrm},
                             {"IDAT", {}},
                             {"IEND", {}}}}),
    [](const testing::TestParamInfo<PngCase>& info) { return info.index == 0 ? "Frame" : "Pen"; });

// --- frame.png -----------------------------------------------------------------------

constexpr Box kDrawingArea{toy::kDrawingArea.x0, toy::kDrawingArea.y0, toy::kDrawingArea.x1, toy::kDrawingArea.y1};
constexpr Box kBorderOuter{100, 45, 696, 485};
constexpr Box kLetteringBoxes[] = {
    {171, 9, 598, 23}, {262, 508, 510, 530}, {241, 551, 540, 565}, {296, 576, 485, 587}};

// A colour strictly between the body red and the yellow, on the line that
// joins them (within rounding).
bool is_shade(Rgb c) {
    if (c == kRed || c == kYellow) return false;
    const double f = double(c.g - kRed.g) / (kYellow.g - kRed.g);
    if (f <= 0 || f >= 1) return false;
    auto near = [f](int value, int from, int to) { return std::abs(value - (from + f * (to - from))) <= 1.0; };
    return near(c.r, kRed.r, kYellow.r) && near(c.b, kRed.b, kYellow.b);
}

class FramePicture : public testing::Test {
protected:
    static void SetUpTestSuite() { frame_ = new Picture(decode_png(read_asset("frame.png"))); }
    static void TearDownTestSuite() {
        delete frame_;
        frame_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(frame_->width, 800);
        ASSERT_EQ(frame_->height, 600);
    }
    static bool in_lettering(int x, int y) {
        return std::any_of(std::begin(kLetteringBoxes), std::end(kLetteringBoxes),
                           [&](const Box& b) { return b.contains(x, y); });
    }
    const Picture& frame() const { return *frame_; }

private:
    static inline Picture* frame_ = nullptr;
};

TEST_F(FramePicture, HoldsEachColourItsNumberOfTimes) {
    auto is = [](Rgb want) { return [want](int, int, Rgb c) { return c == want; }; };
    EXPECT_EQ(frame().count(is(kBlack)), 244284);
    EXPECT_EQ(frame().count(is(kRed)), 197765);
    EXPECT_EQ(frame().count(is(kYellow)), 21762);
    EXPECT_EQ(frame().count(is(kBlue)), 11164);
    std::set<Rgb> shades;
    EXPECT_EQ(frame().count([&](int, int, Rgb c) {
        if (!is_shade(c)) return false;
        shades.insert(c);
        return true;
    }),
              5025);
    EXPECT_EQ(shades.size(), 56u);
    EXPECT_EQ(frame().count([](int, int, Rgb c) {
        return c != kBlack && c != kRed && c != kYellow && c != kBlue && !is_shade(c);
    }),
              0)
        << "pixels of some other colour";
}

TEST_F(FramePicture, DrawingAreaIsBlackAndItsBorderYellow) {
    Box bounds{};
    EXPECT_EQ(frame().count([](int x, int y, Rgb c) { return kDrawingArea.contains(x, y) && c == kBlack; }, &bounds),
              575 * 424);
    EXPECT_EQ(bounds, kDrawingArea);
    EXPECT_EQ(frame().count([](int x, int y, Rgb c) {
        return kBorderOuter.contains(x, y) && !kDrawingArea.contains(x, y) && c == kYellow;
    }),
              19477);
}

struct Knob {
    const char* name;
    Box disc, outline;
};

constexpr Knob kKnobs[] = {{"left", {34, 501, 119, 583}, {33, 500, 120, 584}},
                           {"right", {674, 506, 759, 588}, {673, 505, 760, 589}}};

TEST_F(FramePicture, KnobsAreBlueDiscsInClosedThinBlackRings) {
    for (const Knob& knob : kKnobs) {
        SCOPED_TRACE(knob.name);
        const Box& ring = knob.outline;
        Box bounds{};
        EXPECT_EQ(frame().count([&](int x, int y, Rgb c) { return ring.contains(x, y) && c == kBlue; }, &bounds), 5582);
        EXPECT_EQ(bounds, knob.disc);
        EXPECT_EQ(frame().count([&](int x, int y, Rgb c) { return ring.contains(x, y) && c == kBlack; }, &bounds), 242);
        EXPECT_EQ(bounds, ring);

        auto colour = [&](int x, int y) { return frame().inside(x, y) ? frame().at(x, y) : kRed; };
        // Every ring pixel touches the disc side by side and the outside at
        // least at a corner: the ring is one pixel wide.
        for (int y = ring.y0; y <= ring.y1; ++y) {
            for (int x = ring.x0; x <= ring.x1; ++x) {
                if (colour(x, y) != kBlack) continue;
                const bool touches_disc = colour(x - 1, y) == kBlue || colour(x + 1, y) == kBlue ||
                                          colour(x, y - 1) == kBlue || colour(x, y + 1) == kBlue;
                bool touches_outside = false;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        touches_outside |= colour(x + dx, y + dy) != kBlack && colour(x + dx, y + dy) != kBlue;
                EXPECT_TRUE(touches_disc && touches_outside) << "ring pixel " << x << "," << y;
            }
        }
        // Closed: from outside its box, stepping side by side over anything
        // but black never reaches the disc.
        const Box area{ring.x0 - 1, ring.y0 - 1, ring.x1 + 1, ring.y1 + 1};
        const int w = area.x1 - area.x0 + 1, h = area.y1 - area.y0 + 1;
        std::vector<bool> seen(std::size_t(w) * h, false);
        std::vector<std::pair<int, int>> todo{{area.x0, area.y0}};
        seen[0] = true;
        bool reached_disc = false;
        while (!todo.empty()) {
            const auto [x, y] = todo.back();
            todo.pop_back();
            reached_disc |= colour(x, y) == kBlue;
            for (auto [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
                const int nx = x + dx, ny = y + dy;
                if (!area.contains(nx, ny) || colour(nx, ny) == kBlack) continue;
                const std::size_t at = std::size_t(ny - area.y0) * w + (nx - area.x0);
                if (seen[at]) continue;
                seen[at] = true;
                todo.push_back({nx, ny});
            }
        }
        EXPECT_FALSE(reached_disc) << "the ring has a gap";
    }
}

TEST_F(FramePicture, BlackAndBlueAreOnlyTheDrawingAreaAndTheKnobs) {
    auto in_knob = [](int x, int y) { return kKnobs[0].outline.contains(x, y) || kKnobs[1].outline.contains(x, y); };
    EXPECT_EQ(frame().count([&](int x, int y, Rgb c) {
        return (c == kBlack || c == kBlue) && !kDrawingArea.contains(x, y) && !in_knob(x, y);
    }),
              0);
}

TEST_F(FramePicture, LetteringIsYellowAndShadesInsideItsBoxes) {
    // Outside the border and the knobs, anything but body red is lettering.
    auto lettering_pixel = [](int x, int y, Rgb c) {
        return !kBorderOuter.contains(x, y) && c != kRed && c != kBlue && c != kBlack &&
               !kKnobs[0].outline.contains(x, y) && !kKnobs[1].outline.contains(x, y);
    };
    EXPECT_EQ(frame().count([&](int x, int y, Rgb c) { return lettering_pixel(x, y, c) && !in_lettering(x, y); }), 0)
        << "lettering outside its boxes";
    EXPECT_EQ(frame().count([&](int x, int y, Rgb c) {
        return in_lettering(x, y) && c != kRed && c != kYellow && !is_shade(c);
    }),
              0)
        << "lettering in another colour";
    EXPECT_EQ(frame().count([&](int x, int y, Rgb c) { return lettering_pixel(x, y, c) && c == kYellow; }), 2285);
    for (const Box& box : kLetteringBoxes) {
        Box bounds{};
        frame().count([&](int x, int y, Rgb c) { return box.contains(x, y) && c != kRed; }, &bounds);
        EXPECT_EQ(bounds, box) << "the line does not span its box";
    }
}

// --- pen.png ------------------------------------------------------------------------------

TEST(PenPicture, IsAPencilOfFivePartsOnBlack) {
    const Picture pen = decode_png(read_asset("pen.png"));
    ASSERT_EQ(pen.width, 56);
    ASSERT_EQ(pen.height, 56);
    struct Part {
        const char* name;
        Rgb colour;
        int pixels;
        Box bounds;
    };
    const Part parts[] = {
        {"eraser", {255, 163, 177}, 45, {41, 6, 50, 12}}, {"ferrule", {220, 220, 220}, 34, {38, 9, 46, 15}},
        {"body", kYellow, 182, {20, 11, 42, 30}},          {"wood", {245, 228, 156}, 43, {14, 26, 22, 34}},
        {"lead", {70, 70, 70}, 7, {13, 33, 15, 35}},
    };
    for (const Part& part : parts) {
        Box bounds{};
        EXPECT_EQ(pen.count([&](int, int, Rgb c) { return c == part.colour; }, &bounds), part.pixels) << part.name;
        EXPECT_EQ(bounds, part.bounds) << part.name;
    }
    Box pencil{};
    EXPECT_EQ(pen.count([](int, int, Rgb c) { return c == kBlack; }), 2825);
    pen.count([](int, int, Rgb c) { return c != kBlack; }, &pencil);
    EXPECT_EQ(pencil, (Box{13, 6, 50, 35}));
}

// --- shake.wav ---------------------------------------------------------------------------------

constexpr int kRate = 11025, kWindow = 1103;

class ShakeSound : public testing::Test {
protected:
    void SetUp() override {
        file_ = read_asset("shake.wav");
        ASSERT_EQ(file_.size(), 20780u);
        for (std::size_t at = 44; at + 1 < file_.size(); at += 2) samples_.push_back(std::int16_t(le(file_, at, 2)));
    }
    Bytes file_;
    std::vector<std::int16_t> samples_;
};

TEST_F(ShakeSound, HeaderDescribesMono16BitPcm) {
    EXPECT_EQ(tag(file_, 0, 4), "RIFF");
    EXPECT_EQ(le(file_, 4, 4), 20772u);
    EXPECT_EQ(tag(file_, 8, 4), "WAVE");
    EXPECT_EQ(tag(file_, 12, 4), "fmt ");
    EXPECT_EQ(tag(file_, 36, 4), "data");
    const Field fields[] = {{16, 4, 16},    {20, 2, 1},  {22, 2, 1},  {24, 4, 11025},
                            {28, 4, 22050}, {32, 2, 2}, {34, 2, 16}, {40, 4, 20736}};
    for (const Field& f : fields) EXPECT_EQ(le(file_, f.offset, f.size), f.value) << "field at offset " << f.offset;
    EXPECT_EQ(samples_.size(), 10368u);
}

TEST_F(ShakeSound, IsSilentExactlyAtBothEnds) {
    const auto first = std::find_if(samples_.begin(), samples_.end(), [](std::int16_t s) { return s != 0; });
    const auto last = std::find_if(samples_.rbegin(), samples_.rend(), [](std::int16_t s) { return s != 0; });
    EXPECT_EQ(first - samples_.begin(), 769);
    EXPECT_EQ(last - samples_.rbegin(), 198);
}

TEST_F(ShakeSound, FollowsTheLoudnessTable) {
    struct Loudness {
        int peak, rms;
    };
    const Loudness table[] = {{2064, 208},  {14275, 2525}, {16087, 3415}, {15892, 4159}, {25641, 6499},
                              {27103, 5609}, {13403, 2935}, {16462, 2406}, {2823, 495},   {1, 0}};
    for (int k = 0; k < 10; ++k) {
        const int begin = k * kWindow, end = std::min(begin + kWindow, int(samples_.size()));
        int peak = 0;
        double sum = 0;
        for (int n = begin; n < end; ++n) {
            peak = std::max(peak, std::abs(int(samples_[n])));
            sum += double(samples_[n]) * samples_[n];
        }
        const double rms = std::sqrt(sum / (end - begin));
        EXPECT_EQ(peak, table[k].peak) << "window " << k;
        if (table[k].rms == 0) {
            EXPECT_LT(rms, 0.5) << "window " << k;
        } else {
            EXPECT_NEAR(rms, table[k].rms, 0.02 * table[k].rms) << "window " << k;
        }
    }
    const auto [lowest, highest] = std::minmax_element(samples_.begin(), samples_.end());
    EXPECT_EQ(*lowest, -27103);
    EXPECT_NEAR(double(lowest - samples_.begin()) / kRate, 0.55, 0.01);
    EXPECT_EQ(*highest, 23100);
}

TEST_F(ShakeSound, IsBroadbandNoise) {
    // Zero crossings per second while the rattle is loud (0.19 s - 0.72 s).
    const int begin = int(0.19 * kRate), end = int(0.72 * kRate);
    int crossings = 0;
    for (int n = begin + 1; n < end; ++n) crossings += (samples_[n - 1] < 0) != (samples_[n] < 0);
    const double per_second = crossings * double(kRate) / (end - begin);
    EXPECT_GE(per_second, 4400);
    EXPECT_LE(per_second, 5400);
}

}  // namespace
