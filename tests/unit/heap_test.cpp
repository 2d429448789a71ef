// A long run in process: 1000 snapshots and 1000 shakes by the real
// start-up and main loop on the headless backend leave the heap where the
// first 10 left it.
#include <gtest/gtest.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <string>

#include "app/twindial.hpp"
#include "platform/headless/headless.hpp"
#include "platform/keyboard.hpp"

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's own count (its allocator bypasses malloc's); GCC ships
// no header for it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

namespace fs = std::filesystem;
namespace headless = platform::headless;
using headless::Event;
namespace vk = platform::vk;

// Bytes the program holds on the heap now.
std::size_t heap_in_use() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// Enter and Backspace pressed and released in `pass`: one snapshot (its
// notice answered at once) and one shake.
void snapshot_and_shake(int pass) {
    for (const int key : {vk::kEnter, vk::kBackspace}) {
        headless::in_pass(pass, Event::down(key));
        headless::in_pass(pass, Event::up(key));
    }
}

TEST(Heap, ThousandSnapshotsAndShakesLeaveItWhereTenLeftIt) {
    constexpr int kWarmUp = 10;
    constexpr int kPasses = kWarmUp + 1000;
    // 1000 snapshots write 1.9 GB: in memory where the system offers a
    // folder there, so that the run waits for no disk.
    const fs::path base = access("/dev/shm", W_OK) == 0 ? fs::path("/dev/shm") : fs::temp_directory_path();
    std::string dir = (base / "heap_test.XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    fs::create_directory(fs::path(dir) / "current_save");
    const fs::path previous_folder = fs::current_path();

    headless::reset();
    headless::set_executable_folder(dir);
    headless::set_present_limit(kPasses + 10);
    // Each pass is scripted while the one before it presents, and the
    // recordings are forgotten at every present, so that neither the
    // script nor the recordings hold more at the end than after the
    // warm-up (memory they free stays in malloc's caches, counted in use).
    std::size_t warm = 0, end = 0;
    int saved = 0;
    headless::on_present([&](int index, const platform::Screen&) {
        const int pass = index + 1;
        saved += int(headless::notices().size());
        headless::forget_recordings();
        if (pass == kWarmUp) warm = heap_in_use();
        if (pass == kPasses) end = heap_in_use();
        if (pass < kPasses) snapshot_and_shake(pass + 1);
        else headless::in_pass(pass + 1, Event::close());
    });
    snapshot_and_shake(1);

    EXPECT_EQ(app::twindial_main(), 0);
    headless::on_present(nullptr);
    fs::current_path(previous_folder);
    fs::remove_all(dir);

    EXPECT_GE(saved, kPasses) << "every pass saved a snapshot";
    ASSERT_GT(warm, 0u);
    // Any leak of a pass adds at least 1000 small blocks.
    EXPECT_LE(end, warm + 1024) << "after " << kWarmUp << " passes " << warm << " bytes, after "
                                << kPasses << " passes " << end << " bytes";
    std::printf("heap in use after %d passes: %zu bytes; after %d passes: %zu bytes\n", kWarmUp, warm,
                kPasses, end);
}

}  // namespace
