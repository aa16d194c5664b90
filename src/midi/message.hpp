// MIDI messages as plain tagged values. Fields a variant does not use stay 0,
// so member-wise equality is variant-plus-fields equality.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "midi/values.hpp"

namespace tamlor::midi {

enum class MessageKind : std::uint8_t {
    NoteOn = 0,
    NoteOff = 1,
    ControlChange = 2,
    ProgramChange = 3,
    PitchBend = 4,
    Aftertouch = 5,
    ChannelPressure = 6,
    Clock = 7,
    Start = 8,
    Stop = 9,
    Continue = 10,
};

struct Message {
    MessageKind kind = MessageKind::Clock;
    std::uint8_t channel = 0;
    // note (NoteOn, NoteOff, Aftertouch), control (ControlChange),
    // program (ProgramChange) or pressure (ChannelPressure)
    std::uint8_t data1 = 0;
    // velocity (NoteOn, NoteOff), value (ControlChange), pressure (Aftertouch)
    std::uint8_t data2 = 0;
    std::uint16_t bend = 0;  // PitchBend value, stored as passed

    static Message note_on(Channel c, Note n, Velocity v) {
        return {MessageKind::NoteOn, c.value, n.value, v.value, 0};
    }
    static Message note_off(Channel c, Note n, Velocity v) {
        return {MessageKind::NoteOff, c.value, n.value, v.value, 0};
    }
    static Message control_change(Channel c, ControlNumber n, std::uint8_t value) {
        return {MessageKind::ControlChange, c.value, n.value, value, 0};
    }
    static Message program_change(Channel c, std::uint8_t program) {
        return {MessageKind::ProgramChange, c.value, program, 0, 0};
    }
    static Message pitch_bend(Channel c, std::uint16_t value) {
        return {MessageKind::PitchBend, c.value, 0, 0, value};
    }
    static Message aftertouch(Channel c, Note n, std::uint8_t pressure) {
        return {MessageKind::Aftertouch, c.value, n.value, pressure, 0};
    }
    static Message channel_pressure(Channel c, std::uint8_t pressure) {
        return {MessageKind::ChannelPressure, c.value, pressure, 0, 0};
    }
    static Message simple(MessageKind kind) { return {kind, 0, 0, 0, 0}; }

    friend bool operator==(const Message&, const Message&) = default;

    // "Clock", or "NoteOn { channel: MidiChannel(0), note: Note(60), velocity: Velocity(100) }".
    std::string text() const;

    // The message on the wire: a status byte and its data bytes (1 to 3
    // bytes, written to `out`; returns the count). ValueError when a field
    // does not fit its wire width: 7 bits for control values, programs and
    // pressures, 14 bits for a pitch-bend value.
    std::size_t to_bytes(unsigned char out[3]) const;
    // The message of exactly one complete wire message: a channel message
    // of its length, or Clock, Start, Continue or Stop. ValueError, with the
    // reason, for anything else (a note-on of velocity 0 stays a NoteOn).
    static Message from_bytes(const unsigned char* data, std::size_t size);
};

}  // namespace tamlor::midi
