#include <gtest/gtest.h>

#include <cmath>

#include "common/errors.hpp"
#include "midi/message.hpp"
#include "midi/pitch.hpp"
#include "midi/values.hpp"

using namespace tamlor::midi;

namespace {

TEST(Midi, Pitch) {
    EXPECT_EQ(note_to_hz(69), 440.0);
    EXPECT_EQ(note_to_hz(60), 261.6255653005986);
    EXPECT_EQ(note_to_hz(127), 12543.853951415975);
    for (int n = 0; n < 128; ++n) EXPECT_EQ(note_from_hz(note_to_hz(static_cast<std::uint8_t>(n))), n);
    EXPECT_EQ(note_from_hz(std::nan("")), 0);
    EXPECT_EQ(note_from_hz(-5.0), 0);
    EXPECT_EQ(note_from_hz(0.0), 0);
    EXPECT_EQ(note_from_hz(INFINITY), 127);
    EXPECT_EQ(note_from_hz(8.0), 0);
    EXPECT_EQ(note_from_hz(1000.0), 83);
}

TEST(Midi, ChecksAndText) {
    EXPECT_EQ(check_channel(15), 15);
    try {
        check_channel(16);
        FAIL();
    } catch (const tamlor::ValueError& e) {
        EXPECT_STREQ(e.what(), "MidiChannel out of range: 16 (must be 0\u201315)");
    }
    EXPECT_THROW(check_control(128), tamlor::ValueError);
    EXPECT_EQ(Message::aftertouch(Channel{3}, Note{64}, 90).text(),
              "Aftertouch { channel: MidiChannel(3), note: Note(64), pressure: 90 }");
    EXPECT_EQ(Message::channel_pressure(Channel{3}, 90).text(), "ChannelPressure { channel: MidiChannel(3), pressure: 90 }");
    EXPECT_EQ(Message::simple(MessageKind::Continue).text(), "Continue");
    EXPECT_FALSE(Message::program_change(Channel{0}, 5) == Message::channel_pressure(Channel{0}, 5));
}

}  // namespace
