// SIGINT and SIGTERM on POSIX systems: a request to end, taken like a
// close request. A notice box up is closed, the pass under way finishes,
// the loop ends, the exit steps run and the status is 0. Every POSIX
// backend makes the calls below.
#pragma once

namespace platform::posix {

// From backend::start(), before anything else: the two signals are ours.
void catch_quit_signals();
// From backend::pump(): reports events::close_request() for signals that
// arrived since the previous call.
void report_quit_signals();
// True while a signal has arrived that report_quit_signals has not told
// yet: a notice box's own event loop closes the box on it, so that the
// program can end.
bool quit_signal_pending();
// From backend::shutdown(): the signals are handled as before start().
void release_quit_signals();

}  // namespace platform::posix
