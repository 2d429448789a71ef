#include "platform/screen.hpp"

#include <algorithm>
#include <cstring>

namespace platform {

void Rect::unite(const Rect& r) {
    if (r.empty()) return;
    if (empty()) {
        *this = r;
        return;
    }
    x0 = std::min(x0, r.x0);
    y0 = std::min(y0, r.y0);
    x1 = std::max(x1, r.x1);
    y1 = std::max(y1, r.y1);
}

Rect Rect::intersect(const Rect& r) const {
    return {std::max(x0, r.x0), std::max(y0, r.y0), std::min(x1, r.x1), std::min(y1, r.y1)};
}

Sprite Sprite::from_rgba(std::int32_t width, std::int32_t height, const std::uint8_t* rgba) {
    static std::uint64_t last_id = 0;
    Sprite s;
    s.id = ++last_id;
    if (width <= 0 || height <= 0) return s;
    s.width = width;
    s.height = height;
    s.pixels.resize(std::size_t(width) * std::size_t(height));
    s.row_runs.reserve(std::size_t(height) + 1);
    for (std::int32_t y = 0; y < height; ++y) {
        s.row_runs.push_back(std::uint32_t(s.runs.size()));
        const std::uint8_t* src = rgba + std::size_t(y) * std::size_t(width) * 4;
        std::uint32_t* dst = s.pixels.data() + std::size_t(y) * std::size_t(width);
        std::int32_t run_start = -1;
        for (std::int32_t x = 0; x < width; ++x, src += 4) {
            dst[x] = xrgb(src[0], src[1], src[2]);
            const bool opaque = src[3] >= 128;
            if (opaque && run_start < 0) run_start = x;
            if (!opaque && run_start >= 0) {
                s.runs.push_back({run_start, x - run_start});
                run_start = -1;
            }
        }
        if (run_start >= 0) s.runs.push_back({run_start, width - run_start});
    }
    s.row_runs.push_back(std::uint32_t(s.runs.size()));
    return s;
}

void Screen::fill(std::uint32_t xrgb_value) {
    std::fill(pixels_.begin(), pixels_.end(), xrgb_value);
    touched({0, 0, kWidth, kHeight});
}

void Screen::touched(const Rect& r) {
    changed_.unite(r);
    for (Placement& p : placements_) p.overdrawn.unite(r);
}

void Screen::draw(const Sprite& sprite, std::int64_t x, std::int64_t y) {
    // The part of the Screen the sprite covers, computed in 64-bit so that
    // positions far off the Screen cannot overflow.
    const Rect covered{int(std::clamp<std::int64_t>(x, 0, kWidth)), int(std::clamp<std::int64_t>(y, 0, kHeight)),
                       int(std::clamp<std::int64_t>(x + sprite.width, 0, kWidth)),
                       int(std::clamp<std::int64_t>(y + sprite.height, 0, kHeight))};
    if (covered.empty()) return;

    // Drawn at the same place before: only what was drawn over since can
    // differ from the sprite's pixels.
    Placement* placement = nullptr;
    for (Placement& p : placements_)
        if (p.sprite == sprite.id && p.x == x && p.y == y) placement = &p;
    const Rect clip = placement != nullptr ? covered.intersect(placement->overdrawn) : covered;
    if (placement == nullptr) {
        placement = &placements_[next_slot_++ % std::size(placements_)];
        *placement = {sprite.id, x, y, {}};
    }
    if (clip.empty()) return;

    // Visible rows and columns in sprite coordinates.
    const std::int64_t row_first = clip.y0 - y;
    const std::int64_t row_end = clip.y1 - y;
    const std::int64_t col_first = clip.x0 - x;
    const std::int64_t col_end = clip.x1 - x;

    // Runs whose pixels are already there are left alone, so that what
    // counts as changed is only what really differs: a pen standing still
    // changes nothing, and its present sends nothing.
    Rect changed;
    for (std::int64_t j = row_first; j < row_end; ++j) {
        const std::uint32_t* src = sprite.pixels.data() + j * sprite.width;
        std::uint32_t* dst = pixels_.data() + std::size_t(y + j) * kWidth;
        for (std::uint32_t r = sprite.row_runs[j]; r < sprite.row_runs[j + 1]; ++r) {
            const std::int64_t a = std::max<std::int64_t>(sprite.runs[r].x, col_first);
            const std::int64_t b = std::min<std::int64_t>(sprite.runs[r].x + sprite.runs[r].length, col_end);
            if (a >= b) continue;
            const std::size_t bytes = std::size_t(b - a) * sizeof(std::uint32_t);
            if (std::memcmp(dst + (x + a), src + a, bytes) == 0) continue;
            std::memcpy(dst + (x + a), src + a, bytes);
            changed.unite({int(x + a), int(y + j), int(x + b), int(y + j + 1)});
        }
    }
    touched(changed);
    placement->overdrawn = {};
}

}  // namespace platform
