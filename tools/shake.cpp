// The shake sound: beads rattling inside the toy. Each bead hit is a burst
// of broadband noise that dies away within a few milliseconds; hits come in
// bunches, one bunch per shaking movement. A loudness curve then brings every
// tenth of a second to its intended peak and RMS level.
//
// Only the basic arithmetic operations are used, so the samples are the same
// on every machine.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "tools/asset_files.hpp"

namespace make_assets {
namespace {

constexpr int kWindow = 1103;  // a tenth of a second
constexpr int kWindows = (kShakeFrames + kWindow - 1) / kWindow;
constexpr int kFirstSound = 769;      // samples before it are silent
constexpr int kLastSound = 10169;     // samples after it are silent
constexpr int kHighestSample = 23100;  // no sample is larger

struct Loudness {
    int peak;  // largest magnitude in the window
    int rms;
};
constexpr std::array<Loudness, kWindows> kLoudness = {{
    {2064, 208},
    {14275, 2525},
    {16087, 3415},
    {15892, 4159},
    {25641, 6499},
    {27103, 5609},
    {13403, 2935},
    {16462, 2406},
    {2823, 495},
    {1, 0},
}};
// The loudest sample of all sits near this one (0.55 s).
constexpr int kLoudestNear = 6064;

// splitmix64: small, fast and the same everywhere.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) / 9007199254740992.0; }  // [0, 1)
    // Nearly normal, mean 0 and deviation 1: the sum of twelve uniforms.
    double normal() {
        double sum = -6.0;
        for (int i = 0; i < 12; ++i) sum += uniform();
        return sum;
    }

private:
    std::uint64_t state_;
};

struct Hit {
    double time;  // seconds
    double strength;
};

// Bunches of hits: one per shaking movement, strongest at its middle.
std::vector<Hit> bead_hits(Random& random) {
    std::vector<Hit> hits;
    // A light shuffle while the toy starts to move.
    for (double t = kFirstSound / double(kShakeRate); t < 0.17; t += 0.008 + 0.006 * random.uniform())
        hits.push_back({t, 0.05 + 0.25 * (t - 0.07) / 0.1 * random.uniform()});
    hits.front().time = kFirstSound / double(kShakeRate);

    struct Movement {
        double time, strength;
    };
    constexpr Movement kMovements[] = {{0.19, 0.60}, {0.28, 0.60}, {0.37, 0.75}, {0.46, 1.00},
                                       {0.55, 0.95}, {0.635, 0.50}, {0.72, 0.45}};
    constexpr double kShape[] = {0.25, 0.45, 0.75, 1.0, 0.8, 0.55, 0.4, 0.3, 0.2};
    for (const Movement& m : kMovements) {
        double t = m.time - 0.018;
        for (double shape : kShape) {
            hits.push_back({t, m.strength * shape * (0.7 + 0.6 * random.uniform())});
            t += 0.004 + 0.004 * random.uniform();
        }
    }
    // Beads settling once the shaking stops.
    constexpr Hit kSettling[] = {{0.77, 0.12}, {0.80, 0.08}, {0.83, 0.06}, {0.855, 0.03}, {0.875, 0.015}};
    hits.insert(hits.end(), std::begin(kSettling), std::end(kSettling));
    return hits;
}

// Noise shaped by the hits, before any loudness is applied.
std::vector<double> rattle() {
    Random random(0x5EED'7A11'D1A1ull);
    std::vector<double> envelope(kShakeFrames, 0.0);
    constexpr double kDecay = 1.0 - 1.0 / (0.007 * kShakeRate);  // about 7 ms
    for (const Hit& hit : bead_hits(random)) {
        double level = hit.strength;
        for (int n = int(hit.time * kShakeRate); n < kShakeFrames && level > 1e-4; ++n) {
            envelope[n] += level;
            level *= kDecay;
        }
    }
    // White noise with a touch of its previous value, which sets how often it
    // crosses zero.
    std::vector<double> out(kShakeFrames, 0.0);
    double previous = 0.0;
    for (int n = 0; n < kShakeFrames; ++n) {
        const double white = random.normal();
        out[n] = envelope[n] * (white + 0.18 * previous);
        previous = white;
    }
    return out;
}

double window_rms(const std::vector<std::int16_t>& s, int k) {
    const int begin = k * kWindow, end = std::min(begin + kWindow, kShakeFrames);
    double sum = 0;
    for (int n = begin; n < end; ++n) sum += double(s[n]) * s[n];
    return std::sqrt(sum / (end - begin));
}

// Gives window k exactly its peak: every sample is held below it and one,
// the largest (of the sign the peak needs), is set to it.
void set_peak(std::vector<std::int16_t>& s, int k) {
    const int begin = k * kWindow, end = std::min(begin + kWindow, kShakeFrames);
    const int peak = kLoudness[std::size_t(k)].peak;
    const bool negative = peak > kHighestSample;
    int chosen = -1;
    for (int n = begin; n < end; ++n) {
        if (k == kLoudestNear / kWindow && std::abs(n - kLoudestNear) > 60) continue;
        const int v = s[n];
        if (negative ? v >= 0 : v == 0) continue;
        if (chosen < 0 || std::abs(v) > std::abs(int(s[chosen]))) chosen = n;
    }
    for (int n = begin; n < end; ++n) s[n] = std::int16_t(std::clamp(int(s[n]), 1 - peak, std::min(peak, kHighestSample) - 1));
    if (chosen < 0) throw std::runtime_error("the rattle has no sample to carry a peak");
    s[chosen] = std::int16_t(s[chosen] < 0 ? -peak : peak);
}

}  // namespace

std::vector<std::int16_t> make_shake() {
    const std::vector<double> raw = rattle();

    // The loudness curve runs straight between the middles of the windows.
    std::array<double, kWindows> gain;
    gain.fill(4000.0);
    std::vector<std::int16_t> s(kShakeFrames, 0);
    for (int round = 0; round < 40; ++round) {
        for (int n = kFirstSound; n <= kLastSound; ++n) {
            const double at = (n - kWindow / 2) / double(kWindow);
            const int k = std::clamp(int(std::floor(at)), 0, kWindows - 2);
            const double f = std::clamp(at - k, 0.0, 1.0);
            const double g = gain[std::size_t(k)] * (1 - f) + gain[std::size_t(k) + 1] * f;
            s[n] = std::int16_t(std::clamp(std::lround(raw[n] * g), -32768l, 32767l));
        }
        for (int k = 0; k < kWindows; ++k) set_peak(s, k);
        for (int k = 0; k + 1 < kWindows; ++k) {
            const double rms = window_rms(s, k);
            gain[std::size_t(k)] *= kLoudness[std::size_t(k)].rms / rms;
        }
        gain.back() = gain[kWindows - 2];  // the last window only fades out
    }
    // The highest sample, in the loudest stretch.
    const auto loud = s.begin() + 4 * kWindow;
    *std::max_element(loud, loud + 2 * kWindow) = kHighestSample;
    if (s[kFirstSound] == 0) s[kFirstSound] = 1;
    if (s[kLastSound] == 0) s[kLastSound] = -1;
    return s;
}

}  // namespace make_assets
