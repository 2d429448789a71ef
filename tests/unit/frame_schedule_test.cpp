#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/frame_schedule.hpp"

namespace {

using platform::clock_diff;
using platform::FrameSchedule;

// Runs passes that take no time: each present sleeps to its due time.
std::vector<std::uint32_t> due_times(std::uint32_t start, int presents) {
    FrameSchedule s;
    s.start(60, start);
    std::uint32_t now = start;
    std::vector<std::uint32_t> times;
    for (int i = 0; i < presents; ++i) {
        now += std::uint32_t(s.advance(now));
        times.push_back(now);
    }
    return times;
}

TEST(FrameSchedule, GapsRun16_17_17And60PresentsTakeOneSecond) {
    const auto t = due_times(5000, 60);
    const int expected[] = {16, 17, 17};
    std::uint32_t previous = 5000;
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(t[std::size_t(i)] - previous, std::uint32_t(expected[i % 3])) << "present " << i;
        previous = t[std::size_t(i)];
    }
    EXPECT_EQ(t.back(), 6000u);
}

TEST(FrameSchedule, AccumulatorStaysBelowRate) {
    FrameSchedule s;
    s.start(60, 0);
    std::uint32_t now = 0;
    for (int i = 0; i < 600; ++i) {
        now += std::uint32_t(s.advance(now));
        ASSERT_GE(s.accumulator(), 0);
        ASSERT_LT(s.accumulator(), 60);
    }
}

TEST(FrameSchedule, LatePassIsShownAtOnceAndRestartsTheSchedule) {
    FrameSchedule s;
    s.start(60, 1000);
    EXPECT_EQ(s.advance(1000), 16);  // due at 1016
    // The next pass ends at 1100, long after its slot at 1033.
    EXPECT_EQ(s.advance(1100), 0);
    EXPECT_EQ(s.next(), 1100u);
    // One normal period after the slow one, not a burst of short passes.
    EXPECT_EQ(s.advance(1100), 17);
}

TEST(FrameSchedule, PassEndingExactlyOnTimeIsLate) {
    FrameSchedule s;
    s.start(60, 0);
    EXPECT_EQ(s.advance(16), 0);
    EXPECT_EQ(s.next(), 16u);
}

TEST(FrameSchedule, ClockWrapDoesNotDisturbIt) {
    const std::uint32_t start = 0xFFFFFFFFu - 40;  // wraps during the run
    const auto t = due_times(start, 6);
    const std::uint32_t gaps[] = {16, 17, 17, 16, 17, 17};
    std::uint32_t previous = start;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(std::uint32_t(t[std::size_t(i)] - previous), gaps[i]);
        previous = t[std::size_t(i)];
    }
    EXPECT_LT(t.back(), start) << "the clock wrapped";
}

TEST(ClockDiff, SignedAcrossTheWrap) {
    EXPECT_EQ(clock_diff(5, 0xFFFFFFFBu), 10);
    EXPECT_EQ(clock_diff(0xFFFFFFFBu, 5), -10);
    EXPECT_EQ(clock_diff(100, 100), 0);
}

}  // namespace
