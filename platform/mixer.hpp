// Software mixing of sound voices into a 16-bit stereo stream, for backends
// whose device takes one stream (SDL) rather than mixing by itself.
//
// Each play starts a new voice from the sample's first frame, at the
// sample's own rate, unattenuated and centred; voices add up with
// saturation and none cuts another off.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/pcm.hpp"

namespace platform {

class Mixer {
public:
    explicit Mixer(int output_rate = 44100) : output_rate_(output_rate) {}

    // The sample must outlive its voices.
    void play(const PcmSample& sample);
    // Fills `frames` interleaved stereo frames and drops finished voices.
    void mix(std::int16_t* out, int frames);
    std::size_t voices() const { return voices_.size(); }

private:
    struct Voice {
        const PcmSample* sample;
        std::uint64_t position;  // in sample frames, 32.32 fixed point
        std::uint64_t step;      // sample frames per output frame, 32.32
    };
    int output_rate_;
    std::vector<Voice> voices_;
};

}  // namespace platform
