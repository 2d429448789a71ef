// Helpers for the snapshot tests: a temporary folder, file reading, a PNG
// decoder, and a file layer that records every save and can be made to fail
// at one step.
#pragma once

#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/backend.hpp"
#include "platform/files.hpp"

namespace snapshot_test {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

inline Bytes read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The names in `dir`, sorted.
inline std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// A decoded snapshot: 0x00RRGGBB per pixel, and whether every alpha was 255.
struct Decoded {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint32_t> xrgb;
    bool opaque = false;
    std::uint32_t at(int x, int y) const { return xrgb.at(std::size_t(y) * width + std::size_t(x)); }
};

inline Decoded decode(const Bytes& file) {
    Decoded out;
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return out;
    image.format = PNG_FORMAT_RGBA;
    Bytes rgba(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgba.data(), 0, nullptr)) return out;
    out.width = image.width;
    out.height = image.height;
    out.opaque = true;
    for (std::size_t i = 0; i + 3 < rgba.size(); i += 4) {
        out.xrgb.push_back(std::uint32_t(rgba[i]) << 16 | std::uint32_t(rgba[i + 1]) << 8 | rgba[i + 2]);
        out.opaque = out.opaque && rgba[i + 3] == 255;
    }
    return out;
}

// A fresh folder per test, removed afterwards; the file layer is the
// native one again after each test.
class TempFolder : public testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "snapshot_test.XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        platform::set_file_system(nullptr);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string target() const { return (dir_ / "save.bmp").string(); }

    fs::path dir_;
};

enum class Fault { kNone, kCreate, kWriteNothing, kWritePartial, kClose, kReplace };

// The native files, made to fail at one step: create, the `at_write`-th
// write (storing nothing, or half of what it was given), close or replace.
// Records the content of every file that replaced another.
class TestFiles final : public platform::FileSystem {
public:
    explicit TestFiles(Fault fault = Fault::kNone, int at_write = 0)
        : fault_(fault), at_write_(at_write) {}

    const std::vector<Bytes>& saved() const { return saved_; }

    std::unique_ptr<platform::OutputFile> create_new(const std::string& path, bool& taken) override {
        if (fault_ == Fault::kCreate) {
            error_ = "Permission denied";
            return nullptr;
        }
        std::unique_ptr<platform::OutputFile> file = real().create_new(path, taken);
        if (file == nullptr) {
            error_ = real().last_error();
            return nullptr;
        }
        return std::make_unique<File>(*this, std::move(file));
    }
    bool replace(const std::string& from, const std::string& to) override {
        if (fault_ == Fault::kReplace) return fail("Device or resource busy");
        Bytes content = read_file(from);
        if (!real().replace(from, to)) return fail(real().last_error());
        saved_.push_back(std::move(content));
        return true;
    }
    bool remove(const std::string& path) override {
        return real().remove(path) || fail(real().last_error());
    }
    std::string last_error() const override { return error_; }

private:
    class File final : public platform::OutputFile {
    public:
        File(TestFiles& owner, std::unique_ptr<platform::OutputFile> file)
            : owner_(owner), file_(std::move(file)) {}
        bool write(const void* data, std::size_t size) override {
            if (++writes_ == owner_.at_write_) {
                if (owner_.fault_ == Fault::kWritePartial) file_->write(data, size / 2);
                if (owner_.fault_ == Fault::kWriteNothing || owner_.fault_ == Fault::kWritePartial)
                    return owner_.fail("No space left on device");
            }
            return file_->write(data, size) || owner_.fail(real().last_error());
        }
        bool close() override {
            const bool closed = file_->close();
            if (owner_.fault_ == Fault::kClose) return owner_.fail("Input/output error");
            return closed || owner_.fail(real().last_error());
        }

    private:
        TestFiles& owner_;
        std::unique_ptr<platform::OutputFile> file_;
        int writes_ = 0;
    };

    static platform::FileSystem& real() { return platform::backend::native_files(); }
    bool fail(const std::string& error) {
        error_ = error;
        return false;
    }

    Fault fault_;
    int at_write_;
    std::string error_;
    std::vector<Bytes> saved_;
};

}  // namespace snapshot_test
