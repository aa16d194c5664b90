// Range-checked MIDI numbers. Every class that takes a note, velocity or
// channel as a plain integer validates it here, so the rules and their
// messages live in one place.
#pragma once

#include <cstdint>
#include <string>

namespace tamlor::midi {

// Each check returns the value unchanged or throws tamlor::ValueError with the
// value's message, e.g. "Note out of range: 128 (must be 0–127)".
std::uint8_t check_note(std::uint8_t value);
std::uint8_t check_velocity(std::uint8_t value);
std::uint8_t check_channel(std::uint8_t value);
std::uint8_t check_control(std::uint8_t value);

// A validated number: the type name fixes the range and the text form
// "Note(60)", "Velocity(100)", "MidiChannel(9)", "ControlNumber(7)".
template <class Tag>
struct Checked {
    std::uint8_t value = 0;

    static Checked make(std::uint8_t v) { return Checked{Tag::check(v)}; }
    friend bool operator==(Checked a, Checked b) { return a.value == b.value; }
    std::string text() const { return std::string(Tag::name) + "(" + std::to_string(value) + ")"; }
};

struct NoteTag {
    static constexpr const char* name = "Note";
    static std::uint8_t check(std::uint8_t v) { return check_note(v); }
};
struct VelocityTag {
    static constexpr const char* name = "Velocity";
    static std::uint8_t check(std::uint8_t v) { return check_velocity(v); }
};
struct ChannelTag {
    static constexpr const char* name = "MidiChannel";
    static std::uint8_t check(std::uint8_t v) { return check_channel(v); }
};
struct ControlTag {
    static constexpr const char* name = "ControlNumber";
    static std::uint8_t check(std::uint8_t v) { return check_control(v); }
};

using Note = Checked<NoteTag>;
using Velocity = Checked<VelocityTag>;
using Channel = Checked<ChannelTag>;
using ControlNumber = Checked<ControlTag>;

}  // namespace tamlor::midi
