#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sequencer/transport_clock.hpp"

using tamlor::sequencer::TransportClock;
using tamlor::sequencer::TransportState;

namespace {

TEST(TransportClock, AdvancesOnlyWhilePlaying) {
    TransportClock c;
    EXPECT_FALSE(c.advance_by_frames(44100, 44100));
    c.pause();
    EXPECT_FALSE(c.advance_by_frames(44100, 44100));
    EXPECT_EQ(c.position(), 0.0);
    c.play();
    auto r = c.advance_by_frames(44100, 44100);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->first, 0.0);
    EXPECT_EQ(r->second, 2.0);
    r = c.advance_by_frames(44100, 44100);
    EXPECT_EQ(r->first, 2.0);
    EXPECT_EQ(r->second, 4.0);
}

TEST(TransportClock, BlockArithmeticOrder) {
    TransportClock c;
    c.play();
    EXPECT_EQ(c.advance_by_frames(512, 44100)->second, 0.023219954648526078);
    // frames / rate first: a different order gives a different last bit.
    TransportClock d(133.0);
    d.play();
    const double expect = ((512.0 / 44100.0) * 133.0) / 60.0;
    EXPECT_EQ(d.advance_by_frames(512, 44100)->second, expect);
}

TEST(TransportClock, ZeroSampleRate) {
    TransportClock c;
    c.play();
    EXPECT_TRUE(std::isinf(c.advance_by_frames(1, 0)->second));
    c.stop();
    c.play();
    EXPECT_TRUE(std::isnan(c.advance_by_frames(0, 0)->second));
}

TEST(TransportClock, ClampsTempoAndSeek) {
    TransportClock c(0.5);
    EXPECT_EQ(c.bpm(), 0.5);
    c.set_bpm(-10);
    EXPECT_EQ(c.bpm(), 1.0);
    c.set_bpm(std::nan(""));
    EXPECT_EQ(c.bpm(), 1.0);
    c.seek(-3.5);
    EXPECT_EQ(c.position(), 0.0);
    c.seek(std::nan(""));
    EXPECT_EQ(c.position(), 0.0);
    c.seek(7.25);
    EXPECT_EQ(c.position(), 7.25);
    EXPECT_EQ(c.state(), TransportState::Stopped);
}

TEST(TransportClock, Ticks) {
    TransportClock c;
    EXPECT_EQ(c.beats_to_ticks(1.0), 480u);
    EXPECT_EQ(c.beats_to_ticks(0.75 / 480), 1u);
    EXPECT_EQ(c.beats_to_ticks(2.5 / 480), 3u);  // halves away from zero
    EXPECT_EQ(c.beats_to_ticks(-1.0), 0u);
    EXPECT_EQ(c.beats_to_ticks(std::nan("")), 0u);
    EXPECT_EQ(c.beats_to_ticks(1e300), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(c.beats_to_ticks(std::numeric_limits<double>::infinity()), std::numeric_limits<std::uint64_t>::max());
    EXPECT_EQ(c.ticks_to_beats(240), 0.5);
    c.set_ticks_per_beat(0);
    EXPECT_EQ(c.beats_to_ticks(12.0), 0u);
    EXPECT_TRUE(std::isinf(c.ticks_to_beats(1)));
    EXPECT_TRUE(std::isnan(c.ticks_to_beats(0)));
}

}  // namespace
