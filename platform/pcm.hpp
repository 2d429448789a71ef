// A decoded PCM sample, as the sound decoders give it and the sound outputs
// play it.
#pragma once

#include <cstdint>
#include <vector>

namespace platform {

struct PcmSample {
    int channels = 1;            // 1 or 2
    int bits = 16;               // 8 (unsigned) or 16 (signed, little-endian)
    std::uint32_t rate = 11025;  // frames per second
    std::uint32_t frames = 0;
    std::vector<std::uint8_t> data;  // frames * channels * bits / 8 bytes
};

}  // namespace platform
