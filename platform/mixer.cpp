#include "platform/mixer.hpp"

#include <algorithm>

namespace platform {
namespace {

// Sample value of channel `channel` of frame `frame`, as signed 16-bit.
std::int32_t sample_at(const PcmSample& s, std::uint32_t frame, int channel) {
    const std::size_t index = std::size_t(frame) * std::size_t(s.channels) + std::size_t(channel);
    if (s.bits == 8) return (std::int32_t(s.data[index]) - 128) * 256;
    const std::uint8_t* p = s.data.data() + index * 2;
    return std::int16_t(std::uint16_t(p[0] | (p[1] << 8)));
}

}  // namespace

void Mixer::play(const PcmSample& sample) {
    if (sample.frames == 0 || sample.rate == 0 || output_rate_ <= 0) return;
    const std::uint64_t step = (std::uint64_t(sample.rate) << 32) / std::uint64_t(output_rate_);
    voices_.push_back({&sample, 0, step});
}

void Mixer::mix(std::int16_t* out, int frames) {
    for (int i = 0; i < frames; ++i) {
        std::int32_t left = 0;
        std::int32_t right = 0;
        for (Voice& v : voices_) {
            const auto frame = std::uint32_t(v.position >> 32);
            if (frame >= v.sample->frames) continue;
            const std::int32_t l = sample_at(*v.sample, frame, 0);
            const std::int32_t r = v.sample->channels == 2 ? sample_at(*v.sample, frame, 1) : l;
            left += l;
            right += r;
            v.position += v.step;
        }
        out[2 * i] = std::int16_t(std::clamp(left, -32768, 32767));
        out[2 * i + 1] = std::int16_t(std::clamp(right, -32768, 32767));
    }
    std::erase_if(voices_, [](const Voice& v) { return (v.position >> 32) >= v.sample->frames; });
}

}  // namespace platform
