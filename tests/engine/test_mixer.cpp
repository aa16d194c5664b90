#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <span>
#include <stdexcept>
#include <vector>

#include "common/errors.hpp"
#include "mixer/mixer.hpp"

using namespace tamlor::mixer;

namespace {

using Views = std::vector<std::span<const float>>;

TEST(Mixer, SilencedChannelsAreNotRead) {
    Mixer m;
    for (const char* n : {"a", "b", "c"}) m.add_channel(n);
    m.set_master_gain(1.0f);
    m.set_channel_gain(0, 1.0f);
    m.set_channel_pan(0, -1.0f);
    m.set_channel_solo(0, true);
    m.set_channel_mute(1, true);
    EXPECT_TRUE(m.is_audible(0));
    EXPECT_FALSE(m.is_audible(1));
    EXPECT_FALSE(m.is_audible(2));
    const std::vector<float> a{2.0f};
    const Views views{a, {}, {}};  // silenced channels may pass nothing
    EXPECT_EQ(m.mix_down(views), (std::vector<float>{2.0f, 0.0f}));
    m.set_channel_mute(0, true);  // a muted solo still silences the rest
    EXPECT_FALSE(m.is_audible(2));
    EXPECT_EQ(m.mix_down(views), (std::vector<float>{0.0f, 0.0f}));
}

TEST(Mixer, BufferCountIsAnInternalCheck) {
    Mixer m;
    m.add_channel("a");
    EXPECT_THROW(m.mix_down(Views{}), std::logic_error);
    EXPECT_TRUE(Mixer().mix_down(Views{}).empty());
}

// The mix against the plain definition: per frame, the channels' parts
// summed in channel order from 0.0 into one interleaved output, then scaled.
// Buffers of every length (past the output, short of it, empty) and outputs
// over several internal chunks.
TEST(Mixer, MatchesTheInterleavedDefinitionBitForBit) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    for (int round = 0; round < 300; ++round) {
        Mixer m;
        const std::size_t channels = rng() % 9;
        for (std::size_t c = 0; c < channels; ++c) {
            m.add_channel("c");
            m.set_channel_gain(c, 1.0f + unit(rng));
            m.set_channel_pan(c, unit(rng));
            m.set_channel_mute(c, rng() % 5 == 0);
            m.set_channel_solo(c, rng() % 7 == 0);
        }
        m.set_master_gain(1.0f + unit(rng));
        const std::size_t frames = rng() % 1100;
        std::vector<std::vector<float>> data(channels);
        Views views;
        for (std::size_t c = 0; c < channels; ++c) {
            data[c].resize(c == 0 ? frames : rng() % 1200);
            for (float& v : data[c]) v = unit(rng) * 4.0f;
            views.emplace_back(data[c]);
        }
        std::vector<float> expected(2 * frames, 0.0f);
        for (std::size_t c = 0; c < channels; ++c) {
            if (!m.is_audible(c)) continue;
            const MixerChannel& ch = m.channels()[c];
            const PanFactors f = pan_factors(ch.pan());
            for (std::size_t j = 0; j < std::min(frames, data[c].size()); ++j) {
                const float s = data[c][j] * ch.gain();
                expected[2 * j] += s * f.left;
                expected[2 * j + 1] += s * f.right;
            }
        }
        for (float& v : expected) v *= m.master_gain();
        std::vector<float> out(2 * frames, 7.0f);
        m.mix_down(views, out);
        ASSERT_EQ(0, std::memcmp(out.data(), expected.data(), out.size() * sizeof(float))) << round;
    }
}

}  // namespace
