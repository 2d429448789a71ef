// Snapshots taken by the real start-up and main loop on the headless
// backend: what the grab sees within a pass, how many snapshots Enter
// makes, and a failed save that leaves the program running.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/twindial.hpp"
#include "platform/files.hpp"
#include "platform/headless/headless.hpp"
#include "platform/keyboard.hpp"
#include "tests/unit/snapshot_test_support.hpp"
#include "tests/unit/toy_pictures.hpp"

namespace {

using namespace snapshot_test;
using namespace toy_pictures;
namespace headless = platform::headless;
using headless::Event;
namespace vk = platform::vk;
constexpr const char* kSaved =
    "image saved to current_image, Please backup your image before starting a new one!";

// Runs the program in a temporary folder that holds "current_save" and
// keeps the presented frames asked for.
class SnapshotLoop : public TempFolder {
protected:
    void SetUp() override {
        TempFolder::SetUp();
        fs::create_directory(dir_ / "current_save");
        previous_folder_ = fs::current_path();
        headless::reset();
        headless::set_present_limit(1000);
        headless::set_executable_folder(dir_.string());
        headless::on_present([this](int index, const platform::Screen& s) {
            if (keep_.count(index) != 0) frames_[index].assign(s.pixels(), s.pixels() + 800 * 600);
        });
    }
    void TearDown() override {
        headless::on_present(nullptr);
        fs::current_path(previous_folder_);
        TempFolder::TearDown();
    }

    int run() { return app::twindial_main(); }
    std::uint32_t at(int frame, int x, int y) const {
        return frames_.at(frame).at(std::size_t(y) * 800 + std::size_t(x));
    }
    std::vector<std::string> notice_texts() const {
        std::vector<std::string> texts;
        for (const headless::Notice& n : headless::notices()) texts.push_back(n.text);
        return texts;
    }

    fs::path previous_folder_;
    std::set<int> keep_;
    std::map<int, std::vector<std::uint32_t>> frames_;
};

TEST_F(SnapshotLoop, FirstPassSavesTheBlankToyBesideTheProgram) {
    keep_ = {0};
    headless::at_pump(0, Event::down(vk::kEnter));
    headless::in_pass(1, Event::close());
    EXPECT_EQ(run(), 0);

    ASSERT_EQ(headless::notices().size(), 1u);
    EXPECT_EQ(headless::notices()[0].caption, toy::kTitle);
    EXPECT_EQ(headless::notices()[0].text, kSaved);
    EXPECT_EQ(headless::notices()[0].after_presents, 0) << "shown within the first pass";
    EXPECT_EQ(entries(dir_ / "current_save"), std::vector<std::string>{"save.bmp"});

    const Decoded shot = decode(read_file(dir_ / "current_save" / "save.bmp"));
    ASSERT_EQ(shot.xrgb.size(), 800u * 600u);
    EXPECT_TRUE(shot.opaque);
    // The first present is the snapshot plus the pass's first stamp.
    EXPECT_TRUE(brush_at([&](int x, int y) { return at(0, x, y); }, 400, 300));
    for (int y = 0; y < 600; ++y) {
        for (int x = 0; x < 800; ++x) {
            const bool stamp = x >= 400 && x < 403 && y >= 300 && y < 303;
            ASSERT_EQ(shot.at(x, y), stamp ? kBackdrop : at(0, x, y)) << x << "," << y;
        }
    }
}

TEST_F(SnapshotLoop, GrabSeesThisPassFrameOverTheTrailButNotItsStamp) {
    // The pen moves right from the first pass; the sixth stamps at 405.
    keep_ = {4, 5};
    TestFiles files;
    platform::set_file_system(&files);
    headless::at_pump(0, Event::down(vk::kRight));
    headless::in_pass(6, Event::down(vk::kEnter));
    headless::in_pass(6, Event::close());
    run();

    ASSERT_EQ(files.saved().size(), 1u);
    const Decoded shot = decode(files.saved()[0]);
    ASSERT_EQ(shot.xrgb.size(), 800u * 600u);
    EXPECT_TRUE(brush_at([&](int x, int y) { return at(5, x, y); }, 405, 300));
    for (int y = 0; y < 600; ++y) {
        for (int x = 0; x < 800; ++x) {
            const bool stamp = x >= 405 && x < 408 && y >= 300 && y < 303;
            // Outside this pass's stamp the snapshot is what the pass shows;
            // under it, what the previous pass left there.
            ASSERT_EQ(shot.at(x, y), at(stamp ? 4 : 5, x, y)) << x << "," << y;
        }
    }
    EXPECT_EQ(shot.at(407, 300), kBackdrop);
    EXPECT_EQ(shot.at(400, 300), kLight) << "the trail of earlier passes";
}

TEST_F(SnapshotLoop, PenOverTheOpaqueFrameDoesNotShow) {
    // Held right for 390 passes the pen stands on the frame's right side.
    keep_ = {390, 391};
    TestFiles files;
    platform::set_file_system(&files);
    headless::at_pump(0, Event::down(vk::kRight));
    headless::in_pass(391, Event::up(vk::kRight));
    headless::in_pass(392, Event::down(vk::kEnter));
    headless::in_pass(392, Event::close());
    run();

    ASSERT_EQ(files.saved().size(), 1u);
    const Decoded shot = decode(files.saved()[0]);
    ASSERT_EQ(shot.xrgb.size(), 800u * 600u);
    EXPECT_TRUE(brush_at([&](int x, int y) { return at(390, x, y); }, 790, 300));
    EXPECT_TRUE(brush_at([&](int x, int y) { return at(391, x, y); }, 790, 300));
    for (int y = 300; y < 303; ++y)
        for (int x = 790; x < 793; ++x) EXPECT_EQ(shot.at(x, y), kBody) << x << "," << y;
    // Inside the drawing area the trail stays: a run to the right leaves
    // the brush's first column.
    EXPECT_EQ(shot.at(600, 300), kLight);
    EXPECT_EQ(shot.at(600, 301), kDark);
    EXPECT_EQ(shot.at(600, 302), kLight);
}

TEST_F(SnapshotLoop, OneSnapshotAndOneNoticePerPass) {
    const struct {
        const char* name;
        std::vector<std::pair<int, Event>> script;  // pass, event
        std::size_t snapshots;
    } cases[] = {
        {"two presses before one pass", {{3, Event::down(vk::kEnter)}, {3, Event::up(vk::kEnter)},
                                         {3, Event::down(vk::kEnter)}}, 1},
        {"held with auto-repeat", {{3, Event::down(vk::kEnter)}, {4, Event::down(vk::kEnter, true)},
                                   {5, Event::down(vk::kEnter, true)}, {7, Event::up(vk::kEnter)}}, 1},
        {"presses in two passes", {{3, Event::down(vk::kEnter)}, {4, Event::up(vk::kEnter)},
                                   {6, Event::down(vk::kEnter)}}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        headless::reset();
        headless::set_executable_folder(dir_.string());
        TestFiles files;
        platform::set_file_system(&files);
        for (const auto& [pass, event] : c.script) headless::in_pass(pass, event);
        headless::in_pass(8, Event::close());
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(files.saved().size(), c.snapshots);
        EXPECT_EQ(notice_texts(), std::vector<std::string>(c.snapshots, kSaved));
        platform::set_file_system(nullptr);
    }
}

TEST_F(SnapshotLoop, TheEnterThatDismissesTheNoticeStartsNone) {
    TestFiles files;
    platform::set_file_system(&files);
    headless::in_pass(3, Event::down(vk::kEnter));
    headless::in_pass(3, Event::up(vk::kEnter));
    headless::during_next_notice(Event::down(vk::kEnter));
    headless::during_next_notice(Event::up(vk::kEnter));
    headless::in_pass(6, Event::close());
    run();
    EXPECT_EQ(files.saved().size(), 1u);
    EXPECT_EQ(headless::notices().size(), 1u);
}

TEST_F(SnapshotLoop, FailedSavesAreToldAndTheProgramGoesOn) {
    const struct {
        const char* name;
        bool remove_folder;
        Fault fault;
        std::string notice;
        bool stream_error;
    } cases[] = {
        {"no folder", true, Fault::kNone,
         "The image was not saved to current_save/save.bmp: cannot create a file in "
         "current_save: No such file or directory",
         false},
        {"full disk", false, Fault::kWriteNothing,
         "The image was not saved to current_save/save.bmp: cannot write to "
         "current_save: No space left on device",
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_ / "current_save");
        if (!c.remove_folder) {
            fs::create_directory(dir_ / "current_save");
            write_file(dir_ / "current_save" / "save.bmp", {'o', 'l', 'd'});
        }
        headless::reset();
        headless::set_executable_folder(dir_.string());
        TestFiles files(c.fault, 5);
        platform::set_file_system(&files);
        headless::in_pass(3, Event::down(vk::kEnter));
        headless::in_pass(6, Event::close());

        testing::internal::CaptureStderr();
        const int status = run();
        const std::string err = testing::internal::GetCapturedStderr();
        platform::set_file_system(nullptr);

        EXPECT_EQ(status, 0);
        EXPECT_EQ(headless::present_times().size(), 6u) << "the loop went on after the failure";
        EXPECT_EQ(notice_texts(), std::vector<std::string>{c.notice});
        EXPECT_EQ(err, (c.stream_error ? "Error writing to stream\n" : "") + c.notice + "\n");
        if (c.remove_folder) {
            EXPECT_TRUE(entries(dir_).empty()) << "the folder is never created";
        } else {
            EXPECT_EQ(entries(dir_ / "current_save"), std::vector<std::string>{"save.bmp"});
            EXPECT_EQ(read_file(dir_ / "current_save" / "save.bmp"), (Bytes{'o', 'l', 'd'}));
        }
    }
}

}  // namespace
