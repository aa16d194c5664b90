#include "midi/message.hpp"

namespace tamlor::midi {
namespace {

std::string channel_text(std::uint8_t c) { return Channel{c}.text(); }
std::string note_text(std::uint8_t n) { return Note{n}.text(); }

}  // namespace

std::string Message::text() const {
    const auto num = [](unsigned v) { return std::to_string(v); };
    switch (kind) {
        case MessageKind::NoteOn:
        case MessageKind::NoteOff:
            return std::string(kind == MessageKind::NoteOn ? "NoteOn" : "NoteOff") +
                   " { channel: " + channel_text(channel) + ", note: " + note_text(data1) +
                   ", velocity: " + Velocity{data2}.text() + " }";
        case MessageKind::ControlChange:
            return "ControlChange { channel: " + channel_text(channel) +
                   ", control: " + ControlNumber{data1}.text() + ", value: " + num(data2) + " }";
        case MessageKind::ProgramChange:
            return "ProgramChange { channel: " + channel_text(channel) + ", program: " + num(data1) +
                   " }";
        case MessageKind::PitchBend:
            return "PitchBend { channel: " + channel_text(channel) + ", value: " + num(bend) + " }";
        case MessageKind::Aftertouch:
            return "Aftertouch { channel: " + channel_text(channel) + ", note: " + note_text(data1) +
                   ", pressure: " + num(data2) + " }";
        case MessageKind::ChannelPressure:
            return "ChannelPressure { channel: " + channel_text(channel) +
                   ", pressure: " + num(data1) + " }";
        case MessageKind::Clock: return "Clock";
        case MessageKind::Start: return "Start";
        case MessageKind::Stop: return "Stop";
        case MessageKind::Continue: return "Continue";
    }
    return "Continue";
}

}  // namespace tamlor::midi
