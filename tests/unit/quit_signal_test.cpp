// SIGINT and SIGTERM end the real start-up and main loop on the headless
// backend (a POSIX backend, like the SDL one) as a close request does: the
// pass finishes, the exit steps run once, the status is 0, and afterwards
// the signals are handled as before.
#include <gtest/gtest.h>
#include <signal.h>

#include <csignal>

#include "app/twindial.hpp"
#include "platform/headless/headless.hpp"

namespace {

namespace headless = platform::headless;

TEST(QuitSignal, EndsTheLoopThroughTheExitSteps) {
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(strsignal(signal));
        headless::reset();
        headless::set_present_limit(100);
        // The signal comes in the middle of the fifth pass's present.
        headless::on_present([signal](int index, const platform::Screen&) {
            if (index == 4) ::raise(signal);
        });
        struct sigaction before = {};
        sigaction(signal, nullptr, &before);

        EXPECT_EQ(app::twindial_main(), 0);
        headless::on_present(nullptr);
        EXPECT_EQ(headless::present_times().size(), 5u) << "the pass presented, then the loop ended";
        EXPECT_EQ(headless::shutdowns(), 1);
        EXPECT_TRUE(headless::notices().empty());

        struct sigaction after = {};
        sigaction(signal, nullptr, &after);
        EXPECT_EQ(after.sa_handler, before.sa_handler) << "handled as before the program ran";
    }
}

}  // namespace
