#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "common/errors.hpp"
#include "instrument/player.hpp"

using namespace tamlor::instrument;

namespace {

// A zone of `frames` frames of 1.0 at 4 Hz, hard left, full level at every velocity.
Zone flat_zone(std::size_t frames = 100) {
    ZoneParams z;
    z.sample_rate = 4.0;
    z.pan = -1.0;
    z.end = frames;
    return Zone{SampleData(std::vector<float>(frames, 1.0f), 1), z};
}

std::vector<float> left_side(Player& p, std::size_t frames) {
    std::vector<float> out(2 * frames, 0.0f);
    p.render(out.data(), frames);
    std::vector<float> left;
    for (std::size_t i = 0; i < frames; ++i) left.push_back(out[2 * i]);
    return left;
}

TEST(Instrument, StageLengthsRoundToWholeFrames) {
    EXPECT_EQ(stage_frames(0.0, 44100), 0u);
    EXPECT_EQ(stage_frames(-1.0, 44100), 0u);
    EXPECT_EQ(stage_frames(0.5, 4), 2u);
    EXPECT_EQ(stage_frames(0.625, 4), 3u);  // 2.5 rounds half up
    EXPECT_EQ(stage_frames(1e300, 44100), 9000000000000000u);
}

TEST(Instrument, IncrementIsTheRateRatioTimesTheCentsRatio) {
    ZoneParams z;
    z.root_key = 60;
    z.sample_rate = 22050.0;
    EXPECT_EQ(zone_increment(z, 60, 44100), 0.5);
    EXPECT_EQ(zone_increment(z, 72, 44100), 1.0);
    z.tune_cents = -1200.0;
    z.key_tracking = 50.0;
    EXPECT_EQ(zone_increment(z, 60, 22050), 0.5);
    EXPECT_EQ(zone_increment(z, 84, 22050), 1.0);
}

TEST(Instrument, LinearEnvelopeAtFourHertz) {
    Zone zone = flat_zone();
    zone.params.delay = 0.25;
    zone.params.attack = 0.5;
    zone.params.hold = 0.25;
    zone.params.decay = 0.5;
    zone.params.sustain = 0.5;
    zone.params.release = 0.5;
    Player p(4);
    p.add_zone(zone);
    const auto id = p.note_on(60, 127);
    EXPECT_EQ(left_side(p, 7), (std::vector<float>{0.0f, 0.0f, 0.5f, 1.0f, 1.0f, 0.75f, 0.5f}));
    p.note_off(id);
    EXPECT_EQ(left_side(p, 3), (std::vector<float>{0.5f, 0.25f, 0.0f}));
    EXPECT_EQ(p.active_voice_count(), 0u);
}

TEST(Instrument, ChokeFadesOverTwoMillisecondsAndOnlyItsGroup) {
    Zone a = flat_zone();
    a.params.key_low = a.params.key_high = 1;
    a.params.group = a.params.off_by = 7;
    Zone b = a;
    b.params.key_low = b.params.key_high = 2;
    Zone c = flat_zone();
    c.params.key_low = c.params.key_high = 3;
    Player p(1000);  // 2 frames of fade
    p.add_zone(a);
    p.add_zone(b);
    p.add_zone(c);
    p.note_on(1, 127);
    p.note_on(3, 127);
    EXPECT_EQ(p.choke_frames(), 2u);
    p.note_on(2, 127);
    left_side(p, 3);
    EXPECT_EQ(p.active_voice_count(), 2u);
}

TEST(Instrument, ARestoredStateIsCheckedFirst) {
    Player p(4);
    p.add_zone(flat_zone());
    p.note_on(60, 127);
    Player::State bad = p.state();
    bad.voices[0].zone = 5;
    EXPECT_THROW(p.set_state(bad), tamlor::ValueError);
    bad = p.state();
    bad.voices[0].position = 1e9;
    EXPECT_THROW(p.set_state(bad), tamlor::ValueError);
    bad.voices[0].position = std::nan("");
    EXPECT_THROW(p.set_state(bad), tamlor::ValueError);
    EXPECT_EQ(p.active_voice_count(), 1u);
    EXPECT_EQ(p.state().voices[0].zone, 0u);
}

TEST(Instrument, SixteenBitDataReadsAsValueOver32768) {
    ZoneParams z;
    z.sample_rate = 4.0;
    z.pan = -1.0;
    z.end = 3;
    Player p(4);
    p.add_zone(Zone{SampleData(std::vector<std::int16_t>{16384, -32768, 8192}, 1), z});
    p.note_on(60, 127);
    EXPECT_EQ(left_side(p, 4), (std::vector<float>{0.5f, -1.0f, 0.25f, 0.0f}));
}

}  // namespace
