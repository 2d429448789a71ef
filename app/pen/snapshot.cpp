#include "app/pen/snapshot.hpp"

#include <cstdio>
#include <string>

#include "platform/keyboard.hpp"
#include "platform/platform.hpp"
#include "platform/png_save.hpp"

namespace app {

namespace {

// Relative to the working directory, the executable's folder.
constexpr const char* kSavePath = "current_save\\save.bmp";
constexpr const char* kSaved =
    "image saved to current_image, Please backup your image before starting a new one!";

}  // namespace

void snapshot_on_enter() {
    // Any number of presses since the previous pass makes one snapshot.
    if (platform::key_hit(platform::vk::kEnter) == 0) return;

    // Runs before this pass's brush stamp: the grab holds this pass's frame
    // over the trail of earlier passes.
    const platform::Pixmap SnapshotPixmap =
        platform::grab_screen(platform::screen(), 0, 0, platform::Screen::kWidth,
                              platform::Screen::kHeight);
    const platform::SaveResult saved = platform::save_png(SnapshotPixmap, kSavePath);
    if (saved.ok) {
        platform::notice(kSaved);
        return;
    }
    const std::string text = "The image was not saved to " + saved.path + ": " + saved.reason;
    std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    platform::notice(text);
}

}  // namespace app
