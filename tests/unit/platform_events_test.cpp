// The rules the platform applies to the events a backend reports, seen
// through the real start-up and main loop on the headless backend: the
// events are sent up exactly as a backend sends them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/pen/pen.hpp"
#include "app/twindial.hpp"
#include "platform/headless/headless.hpp"
#include "platform/keyboard.hpp"
#include "platform/platform.hpp"

namespace {

namespace headless = platform::headless;
using headless::Event;
namespace vk = platform::vk;

struct Scripted {
    enum When { Pump, Pass, Notice } when;
    int at;  // pump index or pass number; unused for Notice
    Event event;
};

struct Case {
    std::string name;
    std::vector<Scripted> script;
    int close_in_pass;
    int x;       // the pen's column once the program has ended
    int shakes;  // sounds played
};

class EventRules : public testing::TestWithParam<Case> {};

TEST_P(EventRules, PenAndShakes) {
    const Case& c = GetParam();
    headless::reset();
    headless::set_present_limit(100);
    for (const Scripted& s : c.script) {
        if (s.when == Scripted::Pump) headless::at_pump(s.at, s.event);
        if (s.when == Scripted::Pass) headless::in_pass(s.at, s.event);
        if (s.when == Scripted::Notice) headless::during_next_notice(s.event);
    }
    headless::in_pass(c.close_in_pass, Event::close());
    testing::internal::CaptureStderr();  // a snapshot without its folder says so
    EXPECT_EQ(app::twindial_main(), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(app::Pen->X, c.x);
    EXPECT_EQ(headless::sound_plays().size(), std::size_t(c.shakes));
}

// In the first pass the pumps are the queries of Enter (0), Backspace (1),
// Up (2), Down (3), Left (4), Right (5), Escape (6) and the close request (7).
INSTANTIATE_TEST_SUITE_P(
    Platform, EventRules,
    testing::Values(
        Case{"AFreshPressRightAfterAFocusReturnCounts",
             {{Scripted::Pump, 0, Event::down(vk::kRight)},
              {Scripted::Pass, 3, Event::focus_lost()},
              {Scripted::Pass, 4, Event::focus_gained()},
              {Scripted::Pass, 4, Event::down(vk::kRight)}},
             6, 405, 0},
        Case{"AKeyHeldAcrossTheSwitchAndItsAutoRepeatDoNotCount",
             {{Scripted::Pump, 0, Event::down(vk::kRight)},
              {Scripted::Pass, 3, Event::focus_lost()},
              {Scripted::Pass, 4, Event::focus_gained()},
              {Scripted::Pass, 4, Event::held_down(vk::kRight)},
              {Scripted::Pass, 5, Event::down(vk::kRight, true)},
              {Scripted::Pass, 5, Event::held_down(vk::kRight)}},
             6, 402, 0},
        Case{"AKeyHeldAcrossTheSwitchCountsOncePressedAnew",
             {{Scripted::Pass, 4, Event::focus_gained()},
              {Scripted::Pass, 4, Event::held_down(vk::kRight)},
              {Scripted::Pass, 5, Event::up(vk::kRight)},
              {Scripted::Pass, 5, Event::down(vk::kRight)}},
             6, 402, 0},
        Case{"ABackspaceNotYetReadIsDroppedBySwitching",
             {{Scripted::Pass, 2, Event::down(vk::kBackspace)},
              {Scripted::Pass, 2, Event::focus_lost()}},
             3, 400, 0},
        Case{"OurOwnBoxResetsNothing",
             {{Scripted::Pump, 0, Event::down(vk::kRight)},
              {Scripted::Pass, 2, Event::down(vk::kEnter)}},
             6, 406, 0},
        Case{"APressWhileOurBoxIsUpReachesNoTable",
             {{Scripted::Pass, 2, Event::down(vk::kEnter)},
              {Scripted::Notice, 0, Event::down(vk::kRight)},
              {Scripted::Notice, 0, Event::down(vk::kBackspace)}},
             6, 400, 0},
        Case{"AReleaseWhileOurBoxIsUpReachesTheWindow",
             {{Scripted::Pump, 0, Event::down(vk::kRight)},
              {Scripted::Pass, 2, Event::down(vk::kEnter)},
              {Scripted::Notice, 0, Event::up(vk::kRight)}},
             6, 401, 0},
        Case{"AKeyArrivingBetweenTwoQueriesOfAPassIsSeenByTheLater",
             {{Scripted::Pump, 4, Event::down(vk::kRight)}},
             2, 402, 0},
        Case{"ABackspaceAfterItsQueryShakesInTheNextPass",
             {{Scripted::Pump, 2, Event::down(vk::kBackspace)}},
             2, 400, 1}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// The platform's queries directly, with the window open on headless.
class Queries : public testing::Test {
protected:
    void SetUp() override {
        headless::reset();
        platform::start();
        platform::open_window(platform::Screen::kWidth, platform::Screen::kHeight, 60);
    }
    void TearDown() override { platform::exit_steps(); }
};

TEST_F(Queries, AQueryMadeDuringAPumpDoesNotPumpAgain) {
    headless::at_pump(0, Event::query(vk::kRight));
    headless::at_pump(1, Event::down(vk::kRight));
    EXPECT_EQ(platform::key_down(vk::kRight), 0) << "pump 0";
    EXPECT_EQ(platform::key_down(vk::kRight), 1) << "pump 1";
    ASSERT_EQ(headless::query_answers().size(), 1u);
    EXPECT_EQ(headless::query_answers()[0], 0) << "the inner query saw only what pump 0 had handled";
}

TEST_F(Queries, ACloseRequestIsReadOnce) {
    headless::at_pump(0, Event::close());
    headless::at_pump(0, Event::close());
    EXPECT_TRUE(platform::close_requested());
    EXPECT_FALSE(platform::close_requested());
}

TEST_F(Queries, APresentSendsWhatChangedAndEverythingAfterAnExpose) {
    using platform::Rect;
    platform::Screen& screen = platform::screen();
    const auto rects = [] { return headless::presented_rects(); };
    ASSERT_EQ(rects().size(), 1u);
    EXPECT_EQ(rects()[0].x1 - rects()[0].x0, 800) << "the opening present shows the whole black Screen";

    platform::present(0);
    EXPECT_TRUE(rects().back().empty()) << "nothing changed, nothing sent";

    const std::uint8_t red[] = {255, 0, 0, 255, 255, 0, 0, 255};
    const platform::Sprite dot = platform::Sprite::from_rgba(2, 1, red);
    screen.draw(dot, 10, 20);
    platform::present(0);
    const Rect r = rects().back();
    EXPECT_EQ(r.x0, 10);
    EXPECT_EQ(r.y0, 20);
    EXPECT_EQ(r.x1, 12);
    EXPECT_EQ(r.y1, 21);

    screen.draw(dot, 10, 20);  // the same sprite at the same place
    platform::present(0);
    EXPECT_TRUE(rects().back().empty());
    const platform::Sprite same = platform::Sprite::from_rgba(2, 1, red);
    screen.draw(same, 10, 20);  // other sprite, the pixels already there
    platform::present(0);
    EXPECT_TRUE(rects().back().empty());

    headless::at_pump(0, Event::expose());
    platform::close_requested();
    platform::present(0);
    EXPECT_EQ(rects().back().x1 - rects().back().x0, 800);
    EXPECT_EQ(rects().back().y1 - rects().back().y0, 600);
    platform::present(0);
    EXPECT_TRUE(rects().back().empty()) << "an expose repaints once";
}

TEST(Window, OneThatCannotBeOpenedEndsTheProgramWithStatusOne) {
    EXPECT_EXIT(
        {
            headless::reset();
            headless::set_window_available(false);
            app::twindial_main();
        },
        testing::ExitedWithCode(1), "^twindial: cannot open the window: no window in this test\n$");
}

}  // namespace
