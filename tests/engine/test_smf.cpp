#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "common/errors.hpp"
#include "midi/message.hpp"
#include "midi/smf.hpp"
#include "sampler/sampler.hpp"

using namespace tamlor::midi;

namespace {

std::vector<unsigned char> file(std::vector<unsigned char> track_body, unsigned tpb = 4) {
    // Built at its final size (growing the header in place trips a false
    // bounds warning in some compilers).
    const unsigned char head[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, static_cast<unsigned char>(tpb >> 8),
                                  static_cast<unsigned char>(tpb), 'M', 'T', 'r', 'k', 0, 0, 0,
                                  static_cast<unsigned char>(track_body.size())};
    std::vector<unsigned char> f(sizeof head + track_body.size());
    std::copy(std::begin(head), std::end(head), f.begin());
    std::copy(track_body.begin(), track_body.end(), f.begin() + sizeof head);
    return f;
}

SmfError error_of(const std::vector<unsigned char>& bytes, std::size_t size) {
    try {
        read_smf(bytes.data(), size);
    } catch (const SmfError& e) {
        return e;
    }
    return SmfError("no error", 0);
}

TEST(Smf, EveryCutOfAFileFailsInsideIt) {
    // A file cut anywhere is refused at an offset inside what was given,
    // never read past it (the sanitizer build checks the reads).
    const auto f = file({0x00, 0x90, 60, 100, 0x04, 60, 0, 0x00, 0xFF, 0x2F, 0x00});
    ASSERT_NO_THROW(read_smf(f.data(), f.size()));
    for (std::size_t n = 0; n < f.size(); ++n) {
        std::vector<unsigned char> cut(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(n));
        const SmfError e = error_of(cut, cut.size());
        EXPECT_NE(e.reason, "no error") << n;
        EXPECT_LE(e.offset, n) << n;
    }
}

TEST(Smf, NotesPairOldestFirstAndTheFileWritesBack) {
    const auto f = file({0x00, 0x90, 60, 100, 0x02, 0x90, 60, 90, 0x02, 0x80, 60, 0, 0x04, 60, 0,  // running status
                         0x00, 0xFF, 0x2F, 0x00});
    const Smf smf = read_smf(f.data(), f.size());
    ASSERT_EQ(smf.parts.size(), 1u);
    const auto& notes = smf.parts[0].notes;
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].start, 0.0);
    EXPECT_EQ(notes[0].duration, 1.0);
    EXPECT_EQ(notes[1].start, 0.5);
    EXPECT_EQ(notes[1].duration, 1.5);
    const auto back = write_smf(smf.tempo, {{"", 0, -1, notes}}, 4);
    const Smf again = read_smf(back.data(), back.size());
    EXPECT_EQ(again.tempo.size(), 1u);
    ASSERT_EQ(again.parts.size(), 1u);
    ASSERT_EQ(again.parts[0].notes.size(), 2u);
    EXPECT_EQ(again.parts[0].notes[1].duration, 1.5);
}

TEST(MidiBytes, RoundTripAndRefusals) {
    unsigned char out[3];
    const Message bend = Message::pitch_bend(Channel{2}, 0x2001);
    ASSERT_EQ(bend.to_bytes(out), 3u);
    EXPECT_EQ(out[0], 0xE2);
    EXPECT_EQ(out[1], 0x01);
    EXPECT_EQ(out[2], 0x40);
    EXPECT_EQ(Message::from_bytes(out, 3), bend);
    EXPECT_THROW(Message::pitch_bend(Channel{0}, 0x4000).to_bytes(out), tamlor::ValueError);
    EXPECT_THROW(Message::program_change(Channel{0}, 128).to_bytes(out), tamlor::ValueError);
    EXPECT_THROW(Message::from_bytes(out, 0), tamlor::ValueError);
}

TEST(SamplerHandles, ReleaseOnlyTheVoiceOfTheHandle) {
    using namespace tamlor::sampler;
    Sampler s(AudioSample(std::vector<float>(64, 0.5f), 100, 60), 100, 4);
    s.set_envelope(Envelope(0.0, 0.0, 1.0, 0.0));
    const auto a = s.note_on_voice(60, 127);
    const auto b = s.note_on_voice(60, 127);
    EXPECT_NE(a, b);
    EXPECT_TRUE(s.release_voice(a));
    EXPECT_EQ(s.voices()[0].envelope.stage, EnvelopeStage::Release);
    EXPECT_EQ(s.voices()[1].envelope.stage, EnvelopeStage::Attack);
    EXPECT_FALSE(s.release_voice(0));
    EXPECT_FALSE(s.release_voice(b + 1));
}

}  // namespace
