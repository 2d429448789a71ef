#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/mixer.hpp"

namespace {

using platform::Mixer;
using platform::PcmSample;

PcmSample mono16(std::vector<std::int16_t> values, std::uint32_t rate) {
    PcmSample s;
    s.channels = 1;
    s.bits = 16;
    s.rate = rate;
    s.frames = std::uint32_t(values.size());
    for (std::int16_t v : values) {
        s.data.push_back(std::uint8_t(std::uint16_t(v) & 0xFF));
        s.data.push_back(std::uint8_t(std::uint16_t(v) >> 8));
    }
    return s;
}

std::vector<std::int16_t> mix(Mixer& m, int frames) {
    std::vector<std::int16_t> out(std::size_t(frames) * 2);
    m.mix(out.data(), frames);
    return out;
}

TEST(Mixer, MonoIsCentredUnattenuatedAtItsOwnRate) {
    const PcmSample s = mono16({1000, -2000}, 11025);
    Mixer m(44100);
    m.play(s);
    const auto out = mix(m, 10);
    const std::vector<std::int16_t> expected = {1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000,
                                                -2000, -2000, -2000, -2000, -2000, -2000, -2000, -2000,
                                                0, 0, 0, 0};
    EXPECT_EQ(out, expected);
    EXPECT_EQ(m.voices(), 0u) << "a finished voice is dropped";
}

TEST(Mixer, EachPlayStartsANewVoiceAndNoneIsCutOff) {
    const PcmSample s = mono16({100, 200, 300, 400}, 100);
    Mixer m(100);
    m.play(s);
    auto out = mix(m, 2);  // the first voice is halfway
    m.play(s);
    EXPECT_EQ(m.voices(), 2u);
    out = mix(m, 3);
    EXPECT_EQ(out[0], 300 + 100);
    EXPECT_EQ(out[2], 400 + 200);
    EXPECT_EQ(out[4], 300) << "the first voice ended, the second goes on";
}

TEST(Mixer, SumsSaturateInsteadOfWrappingOnBothChannels) {
    const PcmSample loud = mono16({30000, -30000}, 100);
    Mixer m(100);
    m.play(loud);
    m.play(loud);
    const auto out = mix(m, 2);
    const std::vector<std::int16_t> expected = {32767, 32767, -32768, -32768};
    EXPECT_EQ(out, expected);

    // Stereo whose channels overflow in opposite directions.
    PcmSample stereo;
    stereo.channels = 2;
    stereo.bits = 16;
    stereo.rate = 100;
    stereo.frames = 1;
    stereo.data = {0x30, 0x75, 0xD0, 0x8A};  // left 30000, right -30000
    m.play(stereo);
    m.play(stereo);
    const std::vector<std::int16_t> opposite = {32767, -32768};
    EXPECT_EQ(mix(m, 1), opposite);
}

TEST(Mixer, EightBitStereoIsCentredOnZero) {
    PcmSample s;
    s.channels = 2;
    s.bits = 8;
    s.rate = 100;
    s.frames = 1;
    s.data = {128 + 10, 128 - 10};
    Mixer m(100);
    m.play(s);
    const auto out = mix(m, 1);
    EXPECT_EQ(out[0], 10 * 256);
    EXPECT_EQ(out[1], -10 * 256);
}

TEST(Mixer, EmptySampleMakesNoVoice) {
    const PcmSample s = mono16({}, 11025);
    Mixer m(44100);
    m.play(s);
    EXPECT_EQ(m.voices(), 0u);
}

}  // namespace
