#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/keyboard.hpp"

namespace {

using platform::Keyboard;

struct Step {
    enum Op { Down, Repeat, Up, Reset, Stale } op;
    int code;
};

struct Case {
    std::string name;
    std::vector<Step> steps;
    int code;        // key queried afterwards
    int state;       // its key-down state
    int hits;        // its hit count
};

class FeedingRules : public testing::TestWithParam<Case> {};

TEST_P(FeedingRules, StateAndHits) {
    const Case& c = GetParam();
    Keyboard keys;
    for (const Step& s : c.steps) {
        switch (s.op) {
            case Step::Down: keys.key_down(s.code, false); break;
            case Step::Repeat: keys.key_down(s.code, true); break;
            case Step::Up: keys.key_up(s.code); break;
            case Step::Reset: keys.reset(); break;
            case Step::Stale: keys.mark_stale(s.code); break;
        }
    }
    EXPECT_EQ(keys.state(c.code), c.state);
    EXPECT_EQ(keys.take_hits(c.code), c.hits);
    EXPECT_EQ(keys.take_hits(c.code), 0) << "a hit query clears the count";
}

constexpr int kRight = 39;
constexpr int kEnter = 13;

INSTANTIATE_TEST_SUITE_P(
    Keyboard, FeedingRules,
    testing::Values(
        Case{"PressCountsOneHit", {{Step::Down, kRight}}, kRight, 1, 1},
        Case{"HeldKeyWithRepeatsIsOneHit",
             {{Step::Down, kRight}, {Step::Repeat, kRight}, {Step::Repeat, kRight}}, kRight, 1, 1},
        Case{"SecondDownWithoutUpAddsNothing", {{Step::Down, kRight}, {Step::Down, kRight}}, kRight, 1, 1},
        Case{"PressAndReleaseBetweenQueries", {{Step::Down, kRight}, {Step::Up, kRight}}, kRight, 0, 1},
        Case{"TwoPressesTwoHits",
             {{Step::Down, kEnter}, {Step::Up, kEnter}, {Step::Down, kEnter}, {Step::Up, kEnter}}, kEnter, 0, 2},
        Case{"RepeatAloneIsNothing", {{Step::Repeat, kRight}}, kRight, 0, 0},
        Case{"ReleaseWithoutPress", {{Step::Up, kRight}}, kRight, 0, 0},
        Case{"ResetReleasesAndDropsHits", {{Step::Down, kRight}, {Step::Reset, 0}}, kRight, 0, 0},
        Case{"OtherKeysAreIndependent", {{Step::Down, kEnter}}, kRight, 0, 0},
        Case{"CodeZeroIgnored", {{Step::Down, 0}}, 0, 0, 0},
        Case{"CodeAbove255Ignored", {{Step::Down, 256 + kRight}}, kRight, 0, 0},
        Case{"NegativeCodeIgnored", {{Step::Down, -1}}, kRight, 0, 0},
        Case{"StaleKeyReReportedCountsReleased", {{Step::Stale, kRight}, {Step::Down, kRight}}, kRight, 0, 0},
        Case{"StaleKeyPressedAnewCounts",
             {{Step::Stale, kRight}, {Step::Down, kRight}, {Step::Up, kRight}, {Step::Down, kRight}}, kRight, 1, 1},
        Case{"StaleClearsAHeldState", {{Step::Down, kRight}, {Step::Stale, kRight}}, kRight, 0, 1},
        Case{"ResetForgetsStale", {{Step::Stale, kRight}, {Step::Reset, 0}, {Step::Down, kRight}}, kRight, 1, 1}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
