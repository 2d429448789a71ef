// One pass of the main loop on the headless backend, and start-up's
// decoding of the built-in files.
#include <benchmark/benchmark.h>

#include "app/twindial.hpp"
#include "assets/assets.hpp"
#include "platform/headless/headless.hpp"
#include "platform/keyboard.hpp"

namespace {

namespace headless = platform::headless;

// Runs the real program for `passes` passes; the time per pass is the
// whole run divided by the passes, so start-up is spread thin.
void BM_Pass(benchmark::State& state) {
    constexpr int kPasses = 2000;
    for (auto _ : state) {
        headless::reset();
        headless::at_pump(0, headless::Event::down(platform::vk::kRight));
        headless::in_pass(kPasses, headless::Event::close());
        benchmark::DoNotOptimize(app::twindial_main());
    }
    state.SetItemsProcessed(state.iterations() * kPasses);
    state.counters["us_per_pass"] =
        benchmark::Counter(double(state.iterations() * kPasses), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Pass)->Unit(benchmark::kMillisecond);

// A shake and the next pass's frame: both 800x600 images drawn in full.
void BM_ShakeAndFrame(benchmark::State& state) {
    assets::register_builtin_files();
    const assets::Image* frame = assets::load_image("incbin::frame.png", -1);
    const assets::Image* backdrop = assets::load_image("incbin::backdrop.bmp", -1);
    for (auto _ : state) {
        assets::draw_image(backdrop, 0, 0, 0);
        assets::draw_image(frame, 0, 0, 0);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ShakeAndFrame)->Unit(benchmark::kMicrosecond);

void BM_DecodeBuiltinFiles(benchmark::State& state) {
    assets::register_builtin_files();
    for (auto _ : state) {
        for (const char* url : {"incbin::frame.png", "incbin::pixel.bmp", "incbin::backdrop.bmp", "incbin::pen.png"}) {
            auto in = assets::open_url(url, true, false);
            auto picture = assets::decode_picture(*in);
            benchmark::DoNotOptimize(picture);
        }
        auto in = assets::open_url("incbin::shake.wav", true, false);
        auto sample = assets::decode_wav(*in);
        benchmark::DoNotOptimize(sample);
    }
}
BENCHMARK(BM_DecodeBuiltinFiles)->Unit(benchmark::kMillisecond);

}  // namespace
