// The snapshot encoder on arbitrary pixels: the input fills part of the
// Screen with any 32-bit values (the unused top byte included), a rectangle
// taken from the input is grabbed, clipped to the Screen, and saved as PNG
// into files kept in memory. The stream must decode, through libpng, to the
// grabbed pixels with alpha 255 everywhere, hold IHDR, IDAT and IEND only,
// and a save made to fail at a byte taken from the input must leave the
// previous file whole.
#include <fuzzer/FuzzedDataProvider.h>
#include <png.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "platform/png_save.hpp"
#include "tests/fuzz/fuzz_support.hpp"
#include "tests/fuzz/png_chunks.hpp"

namespace {

using fuzz::Bytes;
using fuzz::check;

// Files in memory. Writing fails once more than `write_budget` bytes were
// written to one file.
class MemoryFiles final : public platform::FileSystem {
public:
    std::map<std::string, Bytes> files;
    std::size_t write_budget = SIZE_MAX;

    std::unique_ptr<platform::OutputFile> create_new(const std::string& path, bool& taken) override {
        taken = files.count(path) != 0;
        if (taken) return nullptr;
        files[path].clear();
        return std::make_unique<File>(*this, path);
    }
    bool replace(const std::string& from, const std::string& to) override {
        const auto it = files.find(from);
        if (it == files.end()) return false;
        files[to] = std::move(it->second);
        files.erase(from);
        return true;
    }
    bool remove(const std::string& path) override { return files.erase(path) == 1; }
    std::string last_error() const override { return "no room left"; }

private:
    class File final : public platform::OutputFile {
    public:
        File(MemoryFiles& owner, std::string path) : owner_(owner), path_(std::move(path)) {}
        bool write(const void* data, std::size_t size) override {
            Bytes& out = owner_.files[path_];
            if (size > owner_.write_budget - std::min(owner_.write_budget, out.size())) return false;
            const auto* p = static_cast<const std::uint8_t*>(data);
            out.insert(out.end(), p, p + size);
            return true;
        }
        bool close() override { return true; }

    private:
        MemoryFiles& owner_;
        std::string path_;
    };
};

const std::string kPath = "current_save\\save.bmp";
const std::string kStored = "current_save/save.bmp";
const Bytes kPrevious = {'p', 'r', 'e', 'v', 'i', 'o', 'u', 's'};

// Rectangle sides: mostly small, sometimes up to past the Screen's size.
int side(FuzzedDataProvider& in) { return in.ConsumeIntegralInRange(0, 1023) >> in.ConsumeIntegralInRange(0, 9); }
int corner(FuzzedDataProvider& in) {
    return in.ConsumeIntegralInRange(0, 15) == 0 ? in.ConsumeIntegral<int>() : in.ConsumeIntegralInRange(-1024, 1023);
}

void check_png(const Bytes& file, const platform::Pixmap& pixmap) {
    std::vector<std::string> kinds;
    fuzz::for_each_png_chunk(file, [&](std::size_t, std::uint32_t, const std::uint8_t* type) {
        kinds.emplace_back(reinterpret_cast<const char*>(type), 4);
    });
    check(kinds.size() >= 3 && kinds.front() == "IHDR" && kinds.back() == "IEND", "IHDR first and IEND last");
    for (std::size_t i = 1; i + 1 < kinds.size(); ++i) check(kinds[i] == "IDAT", "only IDAT in between");
    const std::uint8_t* ihdr = file.data() + 16;
    check(fuzz::be32(ihdr) == std::uint32_t(pixmap.width) && fuzz::be32(ihdr + 4) == std::uint32_t(pixmap.height),
          "IHDR holds the grabbed size");
    check(ihdr[8] == 8 && ihdr[9] == PNG_COLOR_TYPE_RGB_ALPHA && ihdr[12] == 0, "8-bit RGBA, not interlaced");

    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    check(png_image_begin_read_from_memory(&image, file.data(), file.size()) != 0, "libpng reads the header");
    image.format = PNG_FORMAT_RGBA;
    Bytes rgba(PNG_IMAGE_SIZE(image));
    check(png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr) != 0, "libpng decodes the stream");
    check(rgba.size() == pixmap.pixels.size() * 4, "one decoded pixel per grabbed pixel");
    for (std::size_t i = 0; i < pixmap.pixels.size(); ++i) {
        const std::uint32_t p = pixmap.pixels[i];
        const std::uint8_t* d = rgba.data() + 4 * i;
        check(d[0] == std::uint8_t(p >> 16) && d[1] == std::uint8_t(p >> 8) && d[2] == std::uint8_t(p),
              "decoded colours are the grabbed ones");
        check(d[3] == 255, "alpha is 255 everywhere");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int x = corner(in);
    const int y = corner(in);
    const int width = side(in);
    const int height = side(in);
    const bool fail_write = in.ConsumeIntegralInRange(0, 7) == 0;
    const std::size_t budget = in.ConsumeIntegralInRange<std::size_t>(0, 1 << 16);
    const Bytes pixels = in.ConsumeRemainingBytes<std::uint8_t>();

    // The Screen under the rectangle gets the input's bytes, four to a
    // pixel, over and over; elsewhere it keeps what it had.
    platform::Screen& screen = platform::screen();
    std::uint32_t* edit = screen.edit_pixels();
    if (pixels.size() >= 4) {
        std::size_t k = 0;
        for (std::int64_t row = std::max(y, 0); row < std::min<std::int64_t>(std::int64_t(y) + height, 600); ++row) {
            for (std::int64_t col = std::max(x, 0); col < std::min<std::int64_t>(std::int64_t(x) + width, 800); ++col) {
                std::memcpy(&edit[row * 800 + col], &pixels[k], 4);
                k = k + 8 <= pixels.size() ? k + 4 : 0;
            }
        }
    }

    const platform::Pixmap pixmap = platform::grab_screen(screen, x, y, width, height);
    const std::int64_t w = std::min<std::int64_t>(std::int64_t(x) + width, 800) - std::max(x, 0);
    const std::int64_t h = std::min<std::int64_t>(std::int64_t(y) + height, 600) - std::max(y, 0);
    const bool on_screen = w > 0 && h > 0;
    check(on_screen ? pixmap.width == w && pixmap.height == h : pixmap.pixels.empty(),
          "the grab is the part of the rectangle on the Screen");
    for (std::int32_t j = 0; j < pixmap.height; ++j)
        for (std::int32_t i = 0; i < pixmap.width; ++i)
            check(pixmap.pixels[std::size_t(j) * std::size_t(pixmap.width) + std::size_t(i)] ==
                      (screen.at(std::max(x, 0) + i, std::max(y, 0) + j) | 0xFF000000u),
                  "grabbed pixels are the Screen's with alpha 255");

    MemoryFiles files;
    files.files[kStored] = kPrevious;
    if (fail_write) files.write_budget = budget;
    platform::set_file_system(&files);
    const platform::SaveResult result = platform::save_png(pixmap, kPath);
    platform::set_file_system(nullptr);

    check(result.path == kStored, "a backslash is a folder separator");
    if (!result.ok) {
        check(!on_screen || fail_write, "a save with nothing failing succeeds");
        check(files.files.size() == 1 && files.files[kStored] == kPrevious,
              "a failed save keeps the previous file whole and leaves nothing else");
        return 0;
    }
    check(on_screen && files.files.size() == 1, "a save leaves one file");
    check_png(files.files[kStored], pixmap);
    return 0;
}
