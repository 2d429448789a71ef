// The real start-up and main loop on the headless backend.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/pen/pen.hpp"
#include "app/twindial.hpp"
#include "platform/headless/headless.hpp"
#include "platform/keyboard.hpp"
#include "tests/unit/toy_pictures.hpp"

namespace {

using namespace toy_pictures;

namespace headless = platform::headless;
using headless::Event;
namespace vk = platform::vk;

using Frame = std::vector<std::uint32_t>;

class MainLoop : public testing::Test {
protected:
    void SetUp() override {
        headless::reset();
        headless::set_present_limit(200);
        headless::on_present([this](int, const platform::Screen& s) {
            if (frames_.size() < 12) frames_.emplace_back(s.pixels(), s.pixels() + 800 * 600);
        });
    }
    void TearDown() override { headless::on_present(nullptr); }

    int run() { return app::twindial_main(); }
    std::uint32_t at(std::size_t frame, int x, int y) const { return frames_.at(frame)[std::size_t(y) * 800 + std::size_t(x)]; }

    // True when the 3x3 brush stands with its top-left pixel at (x, y).
    bool brush_at(std::size_t frame, int x, int y) const {
        return toy_pictures::brush_at([&](int px, int py) { return at(frame, px, py); }, x, y);
    }

    std::vector<Frame> frames_;
};

TEST_F(MainLoop, FirstPresentShowsTheFrameAndTheMarkAtTheCentre) {
    headless::in_pass(1, Event::close());
    EXPECT_EQ(run(), 0);
    ASSERT_EQ(frames_.size(), 1u);
    EXPECT_TRUE(brush_at(0, 400, 300));
    EXPECT_EQ(at(0, 200, 200), kBackdrop) << "the drawing area shows the backdrop";
    EXPECT_EQ(at(0, 399, 300), kBackdrop);
    EXPECT_EQ(at(0, 403, 300), kBackdrop);
    EXPECT_EQ(at(0, 20, 20), kBody) << "the toy frame is drawn";
    EXPECT_EQ(at(0, 790, 300), kBody);
    EXPECT_TRUE(headless::pointer_hidden());
}

TEST_F(MainLoop, AMoveShowsOnePassLaterAndLeavesATrail) {
    headless::at_pump(0, Event::down(vk::kRight));
    headless::in_pass(3, Event::close());
    run();
    ASSERT_EQ(frames_.size(), 3u);
    EXPECT_TRUE(brush_at(0, 400, 300)) << "the first pass stamps before reading the keys";
    EXPECT_EQ(at(0, 403, 300), kBackdrop);
    EXPECT_TRUE(brush_at(1, 401, 300));
    EXPECT_TRUE(brush_at(2, 402, 300));
    EXPECT_EQ(at(2, 400, 300), kLight) << "the first stamp stays as trail";
}

TEST_F(MainLoop, HeldArrowsMoveOnePixelPerPassOnEachAxis) {
    const struct {
        std::vector<int> keys;
        int dx, dy;
    } cases[] = {
        {{vk::kUp}, 0, -1},         {{vk::kDown}, 0, 1},          {{vk::kLeft}, -1, 0},
        {{vk::kUp, vk::kDown}, 0, 0}, {{vk::kUp, vk::kLeft}, -1, -1}, {{vk::kRight, vk::kDown}, 1, 1},
    };
    for (const auto& c : cases) {
        SetUp();
        frames_.clear();
        for (int key : c.keys) headless::at_pump(0, Event::down(key));
        headless::in_pass(11, Event::close());
        run();
        ASSERT_EQ(frames_.size(), 11u);
        EXPECT_TRUE(brush_at(10, 400 + 10 * c.dx, 300 + 10 * c.dy)) << "keys " << c.keys.front();
        EXPECT_EQ(app::Pen->X, 400 + 11 * c.dx);
        EXPECT_EQ(app::Pen->Y, 300 + 11 * c.dy);
    }
}

TEST_F(MainLoop, ShakePresentsTheBareBackdropThenTheFrameAgain) {
    headless::in_pass(3, Event::down(vk::kBackspace));
    headless::in_pass(4, Event::close());
    run();
    ASSERT_EQ(frames_.size(), 4u);
    for (std::uint32_t p : frames_[2]) ASSERT_EQ(p, kBackdrop) << "the whole shake frame is backdrop";
    EXPECT_EQ(at(3, 20, 20), kBody);
    EXPECT_TRUE(brush_at(3, 400, 300));
    ASSERT_EQ(headless::sound_plays().size(), 1u);
    EXPECT_EQ(headless::sound_plays()[0].frames, 10368u);
}

TEST_F(MainLoop, HoldingOrDoublePressingBackspaceShakesOnce) {
    headless::in_pass(2, Event::down(vk::kBackspace));
    headless::in_pass(2, Event::down(vk::kBackspace, true));
    headless::in_pass(3, Event::down(vk::kBackspace, true));
    headless::in_pass(4, Event::up(vk::kBackspace));
    // Two presses that arrive before one query make one shake too.
    headless::in_pass(6, Event::down(vk::kBackspace));
    headless::in_pass(6, Event::up(vk::kBackspace));
    headless::in_pass(6, Event::down(vk::kBackspace));
    headless::in_pass(8, Event::close());
    run();
    EXPECT_EQ(headless::sound_plays().size(), 2u);
}

TEST_F(MainLoop, WithoutASoundDeviceTheShakeStillWipes) {
    headless::set_sound_device_available(false);
    headless::at_pump(0, Event::down(vk::kBackspace));
    headless::in_pass(1, Event::close());
    run();
    EXPECT_FALSE(headless::sound_device_opened());
    EXPECT_TRUE(headless::sound_plays().empty());
    ASSERT_EQ(frames_.size(), 1u);
    EXPECT_EQ(at(0, 20, 20), kBackdrop);
}

TEST_F(MainLoop, EscapeShowsTheNoticeAndEndsWithoutPresentingThatPass) {
    headless::in_pass(3, Event::down(vk::kEscape));
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(frames_.size(), 2u);
    ASSERT_EQ(headless::notices().size(), 1u);
    EXPECT_EQ(headless::notices()[0].caption, toy::kTitle);
    EXPECT_EQ(headless::notices()[0].text,
              "Visit https://twindial.example for product updates and more info on Twindial");
    EXPECT_EQ(headless::shutdowns(), 1);
    EXPECT_FALSE(headless::window_open());
}

TEST_F(MainLoop, EscapeAndACloseRequestInOnePassEndThroughTheNotice) {
    headless::in_pass(2, Event::close());
    headless::in_pass(2, Event::down(vk::kEscape));
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(frames_.size(), 1u);
    EXPECT_EQ(headless::notices().size(), 1u);
}

TEST_F(MainLoop, EscapeTwiceInAPassGivesOneNoticeAndOneEnd) {
    headless::in_pass(2, Event::down(vk::kEscape));
    headless::in_pass(2, Event::up(vk::kEscape));
    headless::in_pass(2, Event::down(vk::kEscape));
    // Had the second press been left for a later pass, it would end there.
    headless::in_pass(3, Event::close());
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(headless::notices().size(), 1u);
    EXPECT_EQ(frames_.size(), 1u) << "the pass that saw Escape is not presented";
    EXPECT_EQ(headless::shutdowns(), 1);
}

TEST_F(MainLoop, EscapeDuringStartUpEndsInTheFirstPass) {
    headless::at_pump(0, Event::down(vk::kEscape));
    run();
    EXPECT_TRUE(frames_.empty());
    EXPECT_EQ(headless::notices().size(), 1u);
}

TEST_F(MainLoop, ACloseRequestEndsAfterThePassWithItsPresentAndNoNotice) {
    headless::in_pass(3, Event::close());
    headless::in_pass(3, Event::close());  // a flag, not a count
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(frames_.size(), 3u);
    EXPECT_TRUE(headless::notices().empty());
    EXPECT_EQ(headless::shutdowns(), 1);
}

TEST_F(MainLoop, NoticeWithoutABoxGoesToStandardError) {
    headless::set_notice_box_available(false);
    headless::at_pump(0, Event::down(vk::kEscape));
    testing::internal::CaptureStderr();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Visit https://twindial.example for product updates and more info on Twindial\n");
}

TEST_F(MainLoop, SwitchingToAnotherProgramReleasesHeldKeys) {
    headless::at_pump(0, Event::down(vk::kRight));
    headless::in_pass(4, Event::focus_lost());
    headless::in_pass(5, Event::focus_gained());
    // The window system re-announces the key still held on return.
    headless::in_pass(5, Event::held_down(vk::kRight));
    headless::in_pass(7, Event::close());
    run();
    EXPECT_EQ(app::Pen->X, 403) << "three passes moved it, then it stopped";
}

TEST_F(MainLoop, PresentsFollowTheScheduleAndALatePassRestartsIt) {
    headless::reset(0xFFFFFFFFu - 50);  // the clock wraps during the run
    headless::set_present_limit(200);
    headless::in_pass(7, Event::stall(100));
    headless::in_pass(9, Event::close());
    run();
    const auto& t = headless::present_times();
    ASSERT_EQ(t.size(), 9u);
    const std::uint32_t gaps[] = {17, 17, 16, 17, 17};
    for (std::size_t i = 0; i < 5; ++i) EXPECT_EQ(std::uint32_t(t[i + 1] - t[i]), gaps[i]) << i;
    // The seventh pass took 100 ms: shown at once, then one period later.
    EXPECT_EQ(std::uint32_t(t[6] - t[5]), 100u);
    EXPECT_EQ(std::uint32_t(t[7] - t[6]), 17u);
}

}  // namespace
