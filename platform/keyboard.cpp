#include "platform/keyboard.hpp"

namespace platform {

void Keyboard::key_down(int code, bool repeat) {
    if (!valid(code) || repeat) return;
    const auto i = std::size_t(code);
    if (stale_[i] || state_[i] != 0) return;
    state_[i] = 1;
    ++hits_[i];
}

void Keyboard::key_up(int code) {
    if (!valid(code)) return;
    const auto i = std::size_t(code);
    state_[i] = 0;
    stale_[i] = false;
}

void Keyboard::reset() {
    state_.fill(0);
    hits_.fill(0);
    stale_.fill(false);
}

void Keyboard::mark_stale(int code) {
    if (!valid(code)) return;
    const auto i = std::size_t(code);
    state_[i] = 0;
    stale_[i] = true;
}

}  // namespace platform
