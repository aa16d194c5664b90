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
