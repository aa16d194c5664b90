#include <gtest/gtest.h>

#include <cmath>

#include "midi/message.hpp"
#include "midi/pitch.hpp"

using namespace tamlor::midi;

namespace {

TEST(Midi, PitchRoundTrip) {
    EXPECT_EQ(note_to_hz(69), 440.0);
    for (int n = 0; n < 128; ++n) EXPECT_EQ(note_from_hz(note_to_hz(static_cast<std::uint8_t>(n))), n);
    EXPECT_EQ(note_from_hz(std::nan("")), 0);
    EXPECT_EQ(note_from_hz(INFINITY), 127);
}

// Variants Python cannot create still print and compare by variant.
TEST(Midi, VariantsWithoutConstructors) {
    EXPECT_EQ(Message::aftertouch(Channel{3}, Note{64}, 90).text(),
              "Aftertouch { channel: MidiChannel(3), note: Note(64), pressure: 90 }");
    EXPECT_EQ(Message::channel_pressure(Channel{3}, 90).text(), "ChannelPressure { channel: MidiChannel(3), pressure: 90 }");
    EXPECT_EQ(Message::simple(MessageKind::Continue).text(), "Continue");
    EXPECT_FALSE(Message::program_change(Channel{0}, 5) == Message::channel_pressure(Channel{0}, 5));
}

}  // namespace
