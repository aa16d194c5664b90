#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "common/errors.hpp"
#include "sampler/envelope.hpp"
#include "sampler/sample.hpp"
#include "sampler/sampler.hpp"

using namespace tamlor::sampler;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Levels used by successive frames; NaN marks a frame that finished the envelope.
std::vector<double> levels(EnvelopeGenerator& g, int frames, double period) {
    std::vector<double> out;
    for (int i = 0; i < frames; ++i) out.push_back(g.step(period) ? g.level : kNaN);
    return out;
}

TEST(EnvelopeGenerator, WorkedExampleAtFourHertz) {
    EnvelopeGenerator g(Envelope(0.5, 0.5, 0.5, 0.5));
    EXPECT_EQ(levels(g, 6, 0.25), (std::vector<double>{0.0, 0.5, 1.0, 0.75, 0.5, 0.5}));
    EXPECT_EQ(g.stage, EnvelopeStage::Sustain);
    g.release();
    EXPECT_EQ(g.release_level, 0.5);
    EXPECT_EQ(g.step(0.25), true);
    EXPECT_EQ(g.level, 0.5);
    EXPECT_EQ(g.step(0.25), true);
    EXPECT_EQ(g.level, 0.25);
    EXPECT_FALSE(g.step(0.25));
    EXPECT_EQ(g.stage, EnvelopeStage::Done);
    g.release();  // Done is final
    EXPECT_EQ(g.stage, EnvelopeStage::Done);
}

TEST(EnvelopeGenerator, DecayKeepsItsClockWhenReachingSustain) {
    EnvelopeGenerator g(Envelope(0.0, 1.0, 0.5, 0.1));
    levels(g, 4, 0.25);  // 1.0, 0.875, 0.75, 0.625
    EXPECT_EQ(g.stage, EnvelopeStage::Decay);
    levels(g, 2, 0.25);
    EXPECT_EQ(g.stage, EnvelopeStage::Sustain);
    EXPECT_EQ(g.stage_time, 1.5);
}

TEST(EnvelopeGenerator, SecondReleaseRestartsFromTheCurrentLevel) {
    EnvelopeGenerator g(Envelope(0.0, 0.0, 1.0, 1.0));
    g.step(0.25);
    g.release();
    EXPECT_EQ(levels(g, 2, 0.25), (std::vector<double>{1.0, 0.75}));
    g.release();
    EXPECT_EQ(g.release_level, 0.75);
    EXPECT_EQ(levels(g, 2, 0.25), (std::vector<double>{0.75, 0.5625}));
}

TEST(AudioSample, CopiesShareOneFrameStore) {
    AudioSample s(std::vector<float>(1000, 0.25f));
    SampleMap map = SampleMap::single_sample(s);
    auto found = map.find_sample(60, 100);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->frames().data(), s.frames().data());
    Sampler sampler(s);
    sampler.note_on(60, 100);
    EXPECT_EQ(sampler.voices()[0].sample.frames().data(), s.frames().data());
    found->set_root_note(10);
    EXPECT_EQ(map.find_sample(0, 0)->root_note(), 69);
    EXPECT_THROW(found->set_root_note(128), tamlor::ValueError);
    EXPECT_EQ(found->root_note(), 10);
}

TEST(Sampler, OtherMessagesAndChannelsAreIgnored) {
    Sampler s(AudioSample({0.0f}));
    using tamlor::midi::Message;
    s.handle_message(Message::control_change(tamlor::midi::Channel{3}, tamlor::midi::ControlNumber{7}, 100));
    EXPECT_EQ(s.active_voice_count(), 0u);
    s.handle_message(Message::note_on(tamlor::midi::Channel{9}, tamlor::midi::Note{60}, tamlor::midi::Velocity{0}));
    EXPECT_EQ(s.active_voice_count(), 1u);
    s.handle_message(Message::note_off(tamlor::midi::Channel{5}, tamlor::midi::Note{60}, tamlor::midi::Velocity{0}));
    EXPECT_EQ(s.voices()[0].envelope.stage, EnvelopeStage::Release);
}

// The frame-by-frame order written out plainly: for each frame a 32-bit
// accumulator sums the voices in list order. The engine renders voice by
// voice; both must give bit-identical blocks.
std::vector<float> reference_render(std::vector<Voice>& voices, std::size_t frames, std::uint32_t rate) {
    const double period = 1.0 / static_cast<double>(rate);
    std::vector<float> out(frames);
    for (std::size_t f = 0; f < frames; ++f) {
        float acc = 0.0f;
        for (Voice& v : voices) {
            if (!v.active) continue;
            if (!v.envelope.step(period)) {
                v.active = false;
                continue;
            }
            const auto data = v.sample.frames();
            const auto ls = v.sample.loop_start();
            const auto le = v.sample.loop_end();
            if (!(v.position < static_cast<double>(data.size()))) {
                if (ls && le && *ls < *le && *le <= data.size()) {
                    const double s = static_cast<double>(*ls);
                    v.position = s + std::fmod(v.position - s, static_cast<double>(*le) - s);
                }
                if (!(v.position < static_cast<double>(data.size()))) {
                    v.active = false;
                    continue;
                }
            }
            const std::size_t idx = static_cast<std::size_t>(v.position);
            const float x0 = data[idx];
            const float x1 = idx + 1 < data.size() ? data[idx + 1] : x0;
            const float frac = static_cast<float>(v.position - static_cast<double>(idx));
            const float y = frac * (x1 - x0) + x0;
            v.position += v.increment;
            acc += static_cast<float>(v.gain) * (static_cast<float>(v.envelope.level) * y);
        }
        out[f] = acc > 1.0f ? 1.0f : (acc < -1.0f ? -1.0f : acc);
    }
    std::erase_if(voices, [](const Voice& v) { return !v.active; });
    return out;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0);
}

TEST(Sampler, RenderMatchesFrameByFrameOrderAndSplits) {
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> sample_value(-0.9f, 0.9f);
    std::uniform_int_distribution<int> small(0, 40);
    for (int trial = 0; trial < 200; ++trial) {
        std::vector<float> data(1 + small(rng) * 3);
        for (float& x : data) x = sample_value(rng);
        AudioSample sample(data, 8000 + small(rng) * 1000, 40 + small(rng));
        if (small(rng) % 2) {
            sample.set_loop_start(small(rng) % data.size());
            sample.set_loop_end(small(rng) % (data.size() + 2));
        }
        Sampler s(sample, 8000 + small(rng) * 1000, 1 + small(rng) % 6);
        std::vector<Voice> ref_voices;
        std::vector<float> got, want;
        for (int event = 0; event < 12; ++event) {
            const double t = small(rng) / 400.0;
            s.set_envelope(Envelope(t, small(rng) / 400.0, small(rng) / 40.0, small(rng) / 400.0));
            const auto note = static_cast<std::uint8_t>(30 + small(rng));
            if (small(rng) % 3) s.note_on(note, static_cast<std::uint8_t>(small(rng) * 3));
            else s.note_off(note);
            if (small(rng) % 7 == 0) s.all_notes_off();
            ref_voices = s.voices();
            // Render the same state both ways, the engine in two pieces.
            const std::size_t n = small(rng) * 5, cut = n ? small(rng) % (n + 1) : 0;
            Sampler copy = s;
            std::vector<float> a(n, 0.0f);
            copy.render(a.data(), cut);
            copy.render(a.data() + cut, n - cut);
            s.render((got = std::vector<float>(n, 0.0f)).data(), n);
            want = reference_render(ref_voices, n, s.sample_rate());
            ASSERT_TRUE(same_bits(got, want)) << "trial " << trial;
            ASSERT_TRUE(same_bits(a, want)) << "split, trial " << trial;
            ASSERT_EQ(s.voices().size(), ref_voices.size());
        }
    }
}

}  // namespace

TEST(Sampler, NoteOnSamplePlaysTheGivenSampleUnderTheSharedLimit) {
    // The sampler's own sample is silent; the zone sample is a constant 0.5
    // recorded at half the output rate with its root at 48.
    Sampler s(AudioSample({0.0f, 0.0f}), 8000, 2);
    s.set_envelope(Envelope(0.0, 0.0, 1.0, 0.0));
    const AudioSample zone(std::vector<float>(64, 0.5f), 4000, 48);
    s.note_on_sample(60, 127, zone);
    ASSERT_EQ(s.voices().size(), 1u);
    EXPECT_EQ(s.voices()[0].sample.frames().data(), zone.frames().data());
    EXPECT_EQ(s.voices()[0].increment, playback_increment(48, 60, 4000, 8000));
    std::vector<float> out(2, 0.0f);
    s.render(out.data(), out.size());
    EXPECT_EQ(out, (std::vector<float>{0.5f, 0.5f}));

    // Zone voices and the sampler's own voices share one limit, oldest out first.
    s.note_on(62, 100);
    s.note_on_sample(64, 100, zone);
    ASSERT_EQ(s.voices().size(), 2u);
    EXPECT_EQ(s.voices()[0].note, 62);
    EXPECT_EQ(s.voices()[1].note, 64);

    // note_off reaches a zone voice like any other voice of its note.
    s.note_off(64);
    EXPECT_EQ(s.voices()[1].envelope.stage, EnvelopeStage::Release);

    // A bad note is reported before a bad velocity, and nothing starts.
    EXPECT_THROW(s.note_on_sample(128, 200, zone), tamlor::ValueError);
    EXPECT_THROW(s.note_on_sample(60, 128, zone), tamlor::ValueError);
    EXPECT_EQ(s.voices().size(), 2u);
}
