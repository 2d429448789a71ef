// Load sound on any bytes: the input is registered in the Embedded resource
// table and decoded through "incbin::input" as load sound does, which runs
// the WAV decoder. A sample that comes out is played through the shared
// mixer, one voice and then a second one started part-way, for a few
// buffers.
//
// Input: the file, then 5 control bytes at the end (read from the back):
// output rate, buffer size and when the second voice starts.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <vector>

#include "assets/assets.hpp"
#include "platform/mixer.hpp"
#include "tests/fuzz/fuzz_support.hpp"

namespace {

using fuzz::check;

constexpr int kBuffers = 4;
constexpr int kOutputRates[] = {8000, 11025, 22050, 44100, 48000, 96000, 1, 192000};

// The first sample frame as the mixer plays it: 16-bit signed, 8-bit
// unsigned centred on 128.
std::int32_t first_frame(const platform::PcmSample& s, int channel) {
    const std::uint8_t* p = s.data.data() + std::size_t(channel) * std::size_t(s.bits / 8);
    return s.bits == 8 ? (std::int32_t(p[0]) - 128) * 256 : std::int16_t(std::uint16_t(p[0] | (p[1] << 8)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int output_rate = kOutputRates[in.ConsumeIntegral<std::uint8_t>() % std::size(kOutputRates)];
    const int frames_per_buffer = 1 + in.ConsumeIntegral<std::uint16_t>() % 2048;
    const int second_voice_after = in.ConsumeIntegral<std::uint16_t>() % (kBuffers * frames_per_buffer);
    const fuzz::Bytes file = in.ConsumeRemainingBytes<std::uint8_t>();

    assets::EmbeddedTableScope table;
    fuzz::register_input(file);
    const std::optional<platform::PcmSample> sample = assets::load_sample(fuzz::kInputUrl);
    if (!sample) return 0;

    const platform::PcmSample& s = *sample;
    check((s.channels == 1 || s.channels == 2) && (s.bits == 8 || s.bits == 16) && s.rate > 0,
          "a sample is mono or stereo, 8 or 16 bits, at a positive rate");
    const std::size_t frame_bytes = std::size_t(s.channels) * std::size_t(s.bits / 8);
    check(s.data.size() == std::size_t(s.frames) * frame_bytes, "a sample holds whole frames only");

    // Output frames a voice lasts: it advances rate / output_rate sample
    // frames per output frame (32.32 fixed point) and ends once past the
    // last frame.
    const std::uint64_t step = (std::uint64_t(s.rate) << 32) / std::uint64_t(output_rate);
    const std::uint64_t lasts = step == 0 ? UINT64_MAX : ((std::uint64_t(s.frames) << 32) + step - 1) / step;

    platform::Mixer mixer(output_rate);
    mixer.play(s);
    check(mixer.voices() == (s.frames > 0 ? 1u : 0u), "an empty sample starts no voice");
    std::vector<std::int16_t> buffer(std::size_t(frames_per_buffer) * 2);
    std::uint64_t mixed = 0;
    bool second_started = false;
    std::uint64_t second_start = 0;
    for (int b = 0; b < kBuffers; ++b) {
        if (!second_started && std::uint64_t(second_voice_after) <= mixed) {
            mixer.play(s);
            second_started = true;
            second_start = mixed;
        }
        mixer.mix(buffer.data(), frames_per_buffer);
        if (b == 0 && s.frames > 0 && !(second_voice_after == 0)) {
            check(buffer[0] == first_frame(s, 0) && buffer[1] == first_frame(s, s.channels - 1),
                  "a voice starts with the sample's first frame");
        }
        if (s.channels == 1) {
            for (int i = 0; i < frames_per_buffer; ++i)
                check(buffer[2 * std::size_t(i)] == buffer[2 * std::size_t(i) + 1], "mono plays the same on both sides");
        }
        mixed += std::uint64_t(frames_per_buffer);
        if (s.frames > 0 && !second_started) {
            check(mixer.voices() == (mixed < lasts ? 1u : 0u), "a voice ends exactly when its sample is done");
        }
    }
    if (s.frames > 0 && lasts <= mixed - second_start) {
        check(mixer.voices() == 0, "both voices end when their sample is done");
    }
    return 0;
}
