// One snapshot: grab the Screen, encode it and write it through the files,
// as an Enter press does. The second case swaps in files that store nothing
// to show what the encoding alone costs.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "platform/files.hpp"
#include "platform/png_save.hpp"
#include "platform/screen.hpp"

namespace {

namespace fs = std::filesystem;

platform::Screen drawn_screen() {
    platform::Screen screen;
    std::mt19937 random(42);
    std::uint32_t* pixels = screen.edit_pixels();
    for (int i = 0; i < platform::Screen::kWidth * platform::Screen::kHeight; ++i)
        pixels[i] = random() & 0x00FFFFFFu;
    return screen;
}

void snapshot(benchmark::State& state, const platform::Screen& screen, const std::string& path) {
    for (auto _ : state) {
        const platform::Pixmap pixmap = platform::grab_screen(screen, 0, 0, 800, 600);
        const platform::SaveResult saved = platform::save_png(pixmap, path);
        if (!saved.ok) {
            state.SkipWithError(saved.reason.c_str());
            break;
        }
    }
}

void BM_Snapshot(benchmark::State& state) {
    const platform::Screen screen = drawn_screen();
    std::string dir = (fs::temp_directory_path() / "snapshot_bench.XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    snapshot(state, screen, dir + "\\save.bmp");
    fs::remove_all(dir);
}
BENCHMARK(BM_Snapshot)->Unit(benchmark::kMillisecond)->UseRealTime();

class NoFiles final : public platform::FileSystem {
    class Sink final : public platform::OutputFile {
        bool write(const void*, std::size_t) override { return true; }
        bool close() override { return true; }
    };

public:
    std::unique_ptr<platform::OutputFile> create_new(const std::string&, bool&) override {
        return std::make_unique<Sink>();
    }
    bool replace(const std::string&, const std::string&) override { return true; }
    bool remove(const std::string&) override { return true; }
    std::string last_error() const override { return {}; }
};

void BM_SnapshotEncodeOnly(benchmark::State& state) {
    const platform::Screen screen = drawn_screen();
    NoFiles files;
    platform::set_file_system(&files);
    snapshot(state, screen, "save.bmp");
    platform::set_file_system(nullptr);
}
BENCHMARK(BM_SnapshotEncodeOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
