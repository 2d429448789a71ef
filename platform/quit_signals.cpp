#include "platform/quit_signals.hpp"

#include <signal.h>
#include <unistd.h>

#include <csignal>

#include "platform/backend.hpp"

namespace platform::posix {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM};
struct sigaction previous[2];
bool caught = false;
volatile std::sig_atomic_t received = 0;
pid_t owner = 0;

void on_quit_signal(int signal) {
    // A process forked from ours (SDL shows its message box from one) ends
    // as the signal asks: Ctrl+C in a terminal reaches both, and the box
    // goes away instead of holding the program up.
    if (getpid() != owner) {
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    received = 1;
}

}  // namespace

void catch_quit_signals() {
    if (caught) return;
    owner = getpid();
    received = 0;
    struct sigaction action = {};
    action.sa_handler = on_quit_signal;
    sigemptyset(&action.sa_mask);
    // Calls under way (a file write, waiting for the box) go on.
    action.sa_flags = SA_RESTART;
    for (int i = 0; i < 2; ++i) sigaction(kSignals[i], &action, &previous[i]);
    caught = true;
}

void report_quit_signals() {
    if (received == 0) return;
    received = 0;
    events::close_request();
}

bool quit_signal_pending() { return received != 0; }

void release_quit_signals() {
    if (!caught) return;
    for (int i = 0; i < 2; ++i) sigaction(kSignals[i], &previous[i], nullptr);
    caught = false;
}

}  // namespace platform::posix
