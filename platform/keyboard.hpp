// The keyboard state every backend feeds: a key-state table and a hit-count
// table of 256 entries each, indexed by Windows virtual-key code.
//
// Feeding rules (the same on every backend):
//  - a key-down that is not an auto-repeat counts one hit, and only when the
//    key was up: a held key is one hit however long it is held;
//  - a key-up clears the state and leaves the hit count;
//  - codes 0 and above 255 are ignored;
//  - activation passing to or from another program resets both tables;
//  - a key marked stale (held when the window regained focus, re-reported by
//    the window system as a fresh press) counts as released until it is
//    released and pressed anew.
#pragma once

#include <array>
#include <cstdint>

namespace platform {

namespace vk {
inline constexpr int kBackspace = 8;
inline constexpr int kEnter = 13;
inline constexpr int kEscape = 27;
inline constexpr int kLeft = 37;
inline constexpr int kUp = 38;
inline constexpr int kRight = 39;
inline constexpr int kDown = 40;
}  // namespace vk

class Keyboard {
public:
    static constexpr int kKeys = 256;

    // Key-down message; `repeat` is the window system's auto-repeat flag.
    void key_down(int code, bool repeat);
    void key_up(int code);
    // Activation changed to or from another program: all keys up, all hits 0.
    void reset();
    // The key is physically held but must count as released until pressed anew.
    void mark_stale(int code);

    // Queries: the callers pass 0-255.
    std::int32_t state(int code) const { return state_[std::size_t(code)]; }
    std::int32_t take_hits(int code) {
        const std::int32_t n = hits_[std::size_t(code)];
        hits_[std::size_t(code)] = 0;
        return n;
    }

private:
    static bool valid(int code) { return code > 0 && code < kKeys; }
    std::array<std::int32_t, kKeys> state_{};
    std::array<std::int32_t, kKeys> hits_{};
    std::array<bool, kKeys> stale_{};
};

}  // namespace platform
