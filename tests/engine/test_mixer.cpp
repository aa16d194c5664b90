#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <span>
#include <stdexcept>
#include <vector>

#include "common/errors.hpp"
#include "mixer/mixer.hpp"

using namespace tamlor::mixer;

namespace {

using Views = std::vector<std::span<const float>>;

TEST(Mixer, PanLaw) {
    const PanFactors left = pan_factors(-1.0f), centre = pan_factors(0.0f), right = pan_factors(1.0f);
    EXPECT_EQ(left.left, 1.0f);
    EXPECT_EQ(left.right, 0.0f);
    EXPECT_EQ(centre.left, centre.right);
    EXPECT_NEAR(centre.left, 0.70710678f, 1e-7f);
    EXPECT_LT(right.left, 0.0f);
    EXPECT_GT(right.left, -5e-8f);
    EXPECT_EQ(right.right, 1.0f);
}

TEST(Mixer, Clamping) {
    EXPECT_EQ(clamp(5.0f, 0.0f, 2.0f), 2.0f);
    EXPECT_EQ(clamp(-1.0f, 0.0f, 2.0f), 0.0f);
    EXPECT_EQ(clamp(0.5f, 0.0f, 2.0f), 0.5f);
    EXPECT_TRUE(std::isnan(clamp(std::nanf(""), 0.0f, 2.0f)));
    MixerChannel c("x");
    c.set_pan(-3.0f);
    c.set_gain(std::numeric_limits<float>::infinity());
    EXPECT_EQ(c.pan(), -1.0f);
    EXPECT_EQ(c.gain(), 2.0f);
}

TEST(Mixer, ChannelList) {
    Mixer m;
    EXPECT_EQ(m.add_channel("a"), 0u);
    EXPECT_EQ(m.add_channel("b"), 1u);
    m.set_channel_gain(1, 1.5f);
    EXPECT_FALSE(m.remove_channel(2));
    auto removed = m.remove_channel(0);
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed->name(), "a");
    EXPECT_EQ(m.channel(0).gain(), 1.5f);
    EXPECT_THROW(m.channel(1), tamlor::IndexError);
    try {
        m.set_channel_mute(7, true);
        FAIL();
    } catch (const tamlor::IndexError& e) {
        EXPECT_STREQ(e.what(), "Channel index 7 out of range");
    }
}

TEST(Mixer, MixDownSumsInOrderThenAppliesMaster) {
    Mixer m;
    m.add_channel("a");
    m.add_channel("b");
    m.set_master_gain(0.5f);
    for (std::size_t i = 0; i < 2; ++i) {
        m.set_channel_gain(i, 1.0f);
        m.set_channel_pan(i, -1.0f);
    }
    const std::vector<float> a{1.0f, 2.0f, 3.0f}, b{10.0f};
    const Views views{a, b};
    EXPECT_EQ(m.mix_down(views), (std::vector<float>{5.5f, 0.0f, 1.0f, 0.0f, 1.5f, 0.0f}));
    const Views shorter{b, a};
    EXPECT_EQ(m.mix_down(shorter), (std::vector<float>{5.5f, 0.0f}));
}

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

}  // namespace
