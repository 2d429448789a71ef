// Millisecond clock arithmetic and the frame schedule of the paced present.
#pragma once

#include <cstdint>

namespace platform {

// Difference a - b of two readings of the 32-bit millisecond clock, in
// signed 32-bit arithmetic, so that the clock's wrap after 2^32 ms does not
// disturb it.
constexpr std::int32_t clock_diff(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b);
}

// Presents at `rate` per second: due times `period` = 1000 / rate apart,
// with the remainder of 1000 spread by an accumulator, so that at 60 the
// gaps run 16, 17, 17, 16, 17, 17, ... and 60 presents take exactly 1000 ms.
class FrameSchedule {
public:
    void start(int rate, std::uint32_t now) {
        rate_ = rate;
        period_ = 1000 / rate;
        remainder_ = 1000 - period_ * rate;
        accumulator_ = 0;
        next_ = now;
    }

    // Advances to the next due time and returns how long to sleep before it
    // (> 0), or 0 when the pass is late: the schedule then restarts from
    // `now` and missed slots are not made up.
    std::int32_t advance(std::uint32_t now) {
        next_ += std::uint32_t(period_);
        accumulator_ += remainder_;
        if (accumulator_ >= rate_) {
            accumulator_ -= rate_;
            next_ += 1;
        }
        const std::int32_t wait = clock_diff(next_, now);
        if (wait > 0) return wait;
        next_ = now;
        return 0;
    }

    std::uint32_t next() const { return next_; }
    int accumulator() const { return accumulator_; }

private:
    int rate_ = 60;
    int period_ = 16;
    int remainder_ = 40;
    int accumulator_ = 0;
    std::uint32_t next_ = 0;
};

}  // namespace platform
