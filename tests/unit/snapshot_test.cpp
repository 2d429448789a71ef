// The snapshot file: its exact PNG layout, the Screen grab, and saves that
// fail at every step without touching the previous file.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "platform/png_save.hpp"
#include "platform/screen.hpp"
#include "tests/unit/snapshot_test_support.hpp"

namespace {

using namespace snapshot_test;
using platform::Pixmap;
using platform::Screen;

constexpr std::size_t kContentSize = 600 * (1 + 800 * 4);  // filter byte + RGBA per row

std::uint32_t be32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
           std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

Screen noise_screen(unsigned seed) {
    Screen screen;
    std::mt19937 random(seed);
    std::uint32_t* pixels = screen.edit_pixels();
    for (int i = 0; i < Screen::kWidth * Screen::kHeight; ++i) pixels[i] = random() & 0x00FFFFFFu;
    return screen;
}

Pixmap grab(const Screen& screen) {
    return platform::grab_screen(screen, 0, 0, Screen::kWidth, Screen::kHeight);
}

// ---------------------------------------------------------------------------
// The file layout, checked on one save of a noise Screen.

struct Chunk {
    std::string type;
    Bytes data;
    bool crc_ok = false;
};

std::vector<Chunk> chunks_of(const Bytes& file) {
    std::vector<Chunk> chunks;
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const std::uint32_t length = be32(file, at);
        if (length > file.size() - at - 12) break;
        Chunk chunk;
        chunk.type.assign(file.begin() + long(at) + 4, file.begin() + long(at) + 8);
        chunk.data.assign(file.begin() + long(at) + 8, file.begin() + long(at + 8 + length));
        const uLong crc = crc32(0, file.data() + at + 4, uInt(length + 4));
        chunk.crc_ok = crc == be32(file, at + 8 + length);
        chunks.push_back(std::move(chunk));
        at += 12 + length;
    }
    EXPECT_EQ(at, file.size()) << "bytes after the last whole chunk";
    return chunks;
}

class SnapshotLayout : public testing::Test {
protected:
    static void SetUpTestSuite() {
        screen_ = new Screen(noise_screen(1));
        // A folder of its own: the test runner may run this suite in
        // several processes at once.
        std::string dir = (fs::temp_directory_path() / "snapshot_layout.XXXXXX").string();
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        const platform::SaveResult saved = platform::save_png(grab(*screen_), dir + "/save.bmp");
        file_ = new Bytes(read_file(dir + "/save.bmp"));
        fs::remove_all(dir);
        ASSERT_TRUE(saved.ok) << saved.reason;
    }
    static void TearDownTestSuite() {
        delete screen_;
        delete file_;
    }
    static Screen* screen_;
    static Bytes* file_;
};
Screen* SnapshotLayout::screen_ = nullptr;
Bytes* SnapshotLayout::file_ = nullptr;

TEST_F(SnapshotLayout, StartsWithTheFixed43Bytes) {
    const Bytes prefix = {
        0x89, 'P',  'N',  'G',  0x0D, 0x0A, 0x1A, 0x0A,              // signature
        0x00, 0x00, 0x00, 0x0D, 'I',  'H',  'D',  'R',               // IHDR, 13 bytes
        0x00, 0x00, 0x03, 0x20, 0x00, 0x00, 0x02, 0x58,              // 800 x 600
        0x08, 0x06, 0x00, 0x00, 0x00,                                // 8 bits, RGBA, no interlace
        0x9A, 0x76, 0x82, 0x70,                                      // IHDR CRC
        0x00, 0x00, 0x20, 0x00, 'I',  'D',  'A',  'T',  0x78, 0x01,  // first IDAT, zlib header
    };
    ASSERT_GE(file_->size(), prefix.size());
    EXPECT_EQ(Bytes(file_->begin(), file_->begin() + long(prefix.size())), prefix);
}

TEST_F(SnapshotLayout, HoldsOnlyIhdrIdatsAndIend) {
    const std::vector<Chunk> chunks = chunks_of(*file_);
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(chunks.back().type, "IEND");
    EXPECT_TRUE(chunks.back().data.empty());
    EXPECT_EQ(Bytes(file_->end() - 4, file_->end()), (Bytes{0xAE, 0x42, 0x60, 0x82}));
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_TRUE(chunks[i].crc_ok) << "chunk " << i;
        if (i == 0 || i + 1 == chunks.size()) continue;
        EXPECT_EQ(chunks[i].type, "IDAT") << "chunk " << i;
        if (i + 2 < chunks.size()) {
            EXPECT_EQ(chunks[i].data.size(), 8192u) << "chunk " << i;
        } else {
            EXPECT_GT(chunks[i].data.size(), 0u);
            EXPECT_LE(chunks[i].data.size(), 8192u);
        }
    }
}

TEST_F(SnapshotLayout, IdatIsAZlibStreamOfStoredBlocks) {
    Bytes z;
    for (const Chunk& chunk : chunks_of(*file_))
        if (chunk.type == "IDAT") z.insert(z.end(), chunk.data.begin(), chunk.data.end());
    ASSERT_GE(z.size(), 6u);
    EXPECT_EQ(z[0], 0x78);
    EXPECT_EQ(z[1], 0x01);

    // Stored blocks start on a byte: BFINAL in bit 0, BTYPE 00, then LEN
    // and its complement, little-endian.
    Bytes content;
    std::size_t at = 2;
    bool final_block = false;
    while (!final_block) {
        ASSERT_LE(at + 5, z.size());
        ASSERT_EQ(z[at] & ~1u, 0u) << "not a stored block at " << at;
        final_block = (z[at] & 1) != 0;
        const unsigned length = z[at + 1] | unsigned(z[at + 2]) << 8;
        const unsigned complement = z[at + 3] | unsigned(z[at + 4]) << 8;
        ASSERT_EQ(length ^ 0xFFFFu, complement);
        at += 5;
        ASSERT_LE(at + length, z.size());
        content.insert(content.end(), z.begin() + long(at), z.begin() + long(at + length));
        at += length;
    }
    ASSERT_EQ(at + 4, z.size()) << "the Adler-32 must end the stream";
    EXPECT_EQ(be32(z, at), adler32(1, content.data(), uInt(content.size())));

    ASSERT_EQ(content.size(), kContentSize);
    for (std::size_t row = 0; row < 600; ++row) EXPECT_LE(content[row * 3201], 4) << "row " << row;
}

TEST_F(SnapshotLayout, DecodesToTheScreenWithOpaqueAlpha) {
    const Decoded decoded = decode(*file_);
    ASSERT_EQ(decoded.width, 800u);
    ASSERT_EQ(decoded.height, 600u);
    EXPECT_TRUE(decoded.opaque);
    EXPECT_TRUE(std::equal(decoded.xrgb.begin(), decoded.xrgb.end(), screen_->pixels()));
}

// ---------------------------------------------------------------------------
// Every snapshot has the same length, whatever the picture and whatever was
// there before.

TEST_F(TempFolder, EverySnapshotHasTheSameLength) {
    std::vector<Screen> screens(4);
    screens[1].fill(0x00FFFFFF);
    screens[2] = noise_screen(7);
    std::uint32_t* gradient = screens[3].edit_pixels();
    for (int y = 0; y < Screen::kHeight; ++y)
        for (int x = 0; x < Screen::kWidth; ++x)
            gradient[y * Screen::kWidth + x] = platform::xrgb(std::uint8_t(x), std::uint8_t(y), std::uint8_t(x ^ y));

    // An older, longer file is replaced in full.
    write_file(target(), Bytes(3'000'000, 0x5A));
    std::uintmax_t length = 0;
    for (std::size_t i = 0; i < screens.size(); ++i) {
        const platform::SaveResult saved = platform::save_png(grab(screens[i]), target());
        ASSERT_TRUE(saved.ok) << saved.reason;
        if (i == 0) length = fs::file_size(target());
        EXPECT_EQ(fs::file_size(target()), length) << "screen " << i;
    }
    EXPECT_GT(length, kContentSize);
    EXPECT_LT(length, kContentSize + 20'000);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"save.bmp"});
}

TEST_F(TempFolder, BackslashSeparatesFolders) {
    fs::create_directory(dir_ / "current_save");
    const std::string path = dir_.string() + "/current_save\\save.bmp";
    const platform::SaveResult saved = platform::save_png(grab(Screen{}), path);
    ASSERT_TRUE(saved.ok) << saved.reason;
    EXPECT_EQ(saved.path, dir_.string() + "/current_save/save.bmp");
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"current_save"});
    EXPECT_EQ(entries(dir_ / "current_save"), std::vector<std::string>{"save.bmp"});
}

// ---------------------------------------------------------------------------
// The grab.

TEST(ScreenGrab, CopiesTheScreenWithOpaqueAlpha) {
    const Screen screen = noise_screen(3);
    const Pixmap pixmap = grab(screen);
    ASSERT_EQ(pixmap.width, 800);
    ASSERT_EQ(pixmap.height, 600);
    ASSERT_EQ(pixmap.pixels.size(), 800u * 600u);
    for (std::size_t i = 0; i < pixmap.pixels.size(); ++i)
        ASSERT_EQ(pixmap.pixels[i], screen.pixels()[i] | 0xFF000000u) << "pixel " << i;
}

TEST(ScreenGrab, KeepsToTheScreen) {
    const Screen screen = noise_screen(4);
    struct Case {
        int x, y, width, height;
        int want_width, want_height;
        int first_x, first_y;  // Screen pixel of the Pixmap's first
    };
    const Case cases[] = {
        {10, 20, 30, 40, 30, 40, 10, 20},
        {-5, -7, 20, 20, 15, 13, 0, 0},
        {790, 595, 50, 50, 10, 5, 790, 595},
        {800, 0, 10, 10, 0, 0, 0, 0},
        {0, 0, -1, 600, 0, 0, 0, 0},
        {-2147483647, -2147483647, 2147483647, 2147483647, 0, 0, 0, 0},
        {2147483647, 0, 2147483647, 600, 0, 0, 0, 0},
        {-100, -100, 2147483647, 2147483647, 800, 600, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " " << c.width << "x" << c.height);
        const Pixmap pixmap = platform::grab_screen(screen, c.x, c.y, c.width, c.height);
        EXPECT_EQ(pixmap.width, c.want_width);
        EXPECT_EQ(pixmap.height, c.want_height);
        ASSERT_EQ(pixmap.pixels.size(), std::size_t(c.want_width) * std::size_t(c.want_height));
        if (!pixmap.pixels.empty()) {
            EXPECT_EQ(pixmap.pixels.front(), screen.at(c.first_x, c.first_y) | 0xFF000000u);
            EXPECT_EQ(pixmap.pixels.back(), screen.at(c.first_x + c.want_width - 1,
                                                      c.first_y + c.want_height - 1) |
                                                0xFF000000u);
        }
    }
}

// ---------------------------------------------------------------------------
// Failed saves: the previous file stays byte for byte, no temporary file is
// left, and the reason is told.

struct FaultCase {
    const char* name;
    Fault fault;
    int at_write;
    const char* reason;  // the start of the reason told
    bool stream_error;   // "Error writing to stream" on standard error
};

class FailedSave : public TempFolder, public testing::WithParamInterface<FaultCase> {};

TEST_P(FailedSave, KeepsThePreviousFile) {
    const FaultCase& c = GetParam();
    const Bytes previous = {'o', 'l', 'd', ' ', 's', 'a', 'v', 'e'};
    write_file(target(), previous);
    TestFiles files(c.fault, c.at_write);
    platform::set_file_system(&files);

    testing::internal::CaptureStderr();
    const platform::SaveResult saved = platform::save_png(grab(noise_screen(5)), target());
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.reason.rfind(c.reason, 0), 0u) << saved.reason;
    EXPECT_NE(saved.reason.find(files.last_error()), std::string::npos) << saved.reason;
    EXPECT_EQ(err, c.stream_error ? "Error writing to stream\n" : "");
    EXPECT_EQ(read_file(target()), previous);
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"save.bmp"});
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, FailedSave,
    testing::Values(FaultCase{"Create", Fault::kCreate, 0, "cannot create ", false},
                    FaultCase{"FirstWriteStoresNothing", Fault::kWriteNothing, 1, "cannot write ", true},
                    FaultCase{"LaterWriteStoresNothing", Fault::kWriteNothing, 12, "cannot write ", true},
                    FaultCase{"WriteStoresPart", Fault::kWritePartial, 3, "cannot write ", true},
                    FaultCase{"LastWrite", Fault::kWritePartial, 30, "cannot write ", true},
                    FaultCase{"Close", Fault::kClose, 0, "cannot finish writing ", false},
                    FaultCase{"Replace", Fault::kReplace, 0, "cannot replace ", false}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

TEST_F(TempFolder, MissingFolderWritesNothingAnywhere) {
    const platform::SaveResult saved =
        platform::save_png(grab(Screen{}), (dir_ / "current_save" / "save.bmp").string());
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.reason, "cannot create a file in " + (dir_ / "current_save").string() +
                                ": No such file or directory");
    EXPECT_TRUE(entries(dir_).empty());
}

TEST_F(TempFolder, FolderInTheWayIsNotReplaced) {
    fs::create_directory(dir_ / "save.bmp");
    write_file(dir_ / "save.bmp" / "inside", {1, 2, 3});
    const platform::SaveResult saved = platform::save_png(grab(Screen{}), target());
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.reason.rfind("cannot replace " + target() + ": ", 0), 0u) << saved.reason;
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"save.bmp"});
    EXPECT_EQ(read_file(dir_ / "save.bmp" / "inside"), (Bytes{1, 2, 3}));
}

TEST_F(TempFolder, EncoderErrorKeepsThePreviousFile) {
    // Wider than libpng accepts by default.
    Pixmap wide;
    wide.width = 1'000'001;
    wide.height = 1;
    wide.pixels.assign(std::size_t(wide.width), 0xFF000000u);
    write_file(target(), {'o', 'l', 'd'});

    testing::internal::CaptureStderr();
    const platform::SaveResult saved = platform::save_png(wide, target());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_FALSE(saved.ok);
    EXPECT_EQ(saved.reason.rfind("the PNG encoder failed: ", 0), 0u) << saved.reason;
    EXPECT_EQ(read_file(target()), (Bytes{'o', 'l', 'd'}));
    EXPECT_EQ(entries(dir_), std::vector<std::string>{"save.bmp"});
}

TEST_F(TempFolder, BrokenPixmapIsNotSaved) {
    Pixmap broken;
    broken.width = 800;
    broken.height = 600;
    broken.pixels.resize(10);
    const platform::SaveResult saved = platform::save_png(broken, target());
    EXPECT_FALSE(saved.ok);
    EXPECT_FALSE(saved.reason.empty());
    EXPECT_TRUE(entries(dir_).empty());
}

}  // namespace
