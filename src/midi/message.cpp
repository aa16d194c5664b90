#include "midi/message.hpp"

#include "common/errors.hpp"

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

namespace tamlor::midi {

namespace {

std::uint8_t seven_bits(std::uint8_t v, const char* what) {
    if (v > 127) throw ValueError(std::string(what) + " " + std::to_string(v) + " does not fit in 7 bits (0-127)");
    return v;
}

std::string hex_byte(unsigned v) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[(v >> 4) & 15] + digits[v & 15];
}

}  // namespace

std::size_t Message::to_bytes(unsigned char out[3]) const {
    const auto status = [&](unsigned high) { return static_cast<unsigned char>(high | (channel & 0x0F)); };
    switch (kind) {
        case MessageKind::NoteOn:
        case MessageKind::NoteOff:
            out[0] = status(kind == MessageKind::NoteOn ? 0x90 : 0x80);
            out[1] = data1;
            out[2] = data2;
            return 3;
        case MessageKind::ControlChange:
            out[0] = status(0xB0);
            out[1] = data1;
            out[2] = seven_bits(data2, "control value");
            return 3;
        case MessageKind::ProgramChange:
            out[0] = status(0xC0);
            out[1] = seven_bits(data1, "program");
            return 2;
        case MessageKind::PitchBend:
            if (bend > 0x3FFF) {
                throw ValueError("pitch bend value " + std::to_string(bend) + " does not fit in 14 bits (0-16383)");
            }
            out[0] = status(0xE0);
            out[1] = static_cast<unsigned char>(bend & 0x7F);
            out[2] = static_cast<unsigned char>(bend >> 7);
            return 3;
        case MessageKind::Aftertouch:
            out[0] = status(0xA0);
            out[1] = data1;
            out[2] = seven_bits(data2, "pressure");
            return 3;
        case MessageKind::ChannelPressure:
            out[0] = status(0xD0);
            out[1] = seven_bits(data1, "pressure");
            return 2;
        case MessageKind::Clock: out[0] = 0xF8; return 1;
        case MessageKind::Start: out[0] = 0xFA; return 1;
        case MessageKind::Continue: out[0] = 0xFB; return 1;
        case MessageKind::Stop: out[0] = 0xFC; return 1;
    }
    return 0;
}

Message Message::from_bytes(const unsigned char* data, std::size_t size) {
    if (size == 0) throw ValueError("no bytes: a MIDI message starts with a status byte");
    const unsigned s = data[0];
    if (s < 0x80) throw ValueError("the first byte " + hex_byte(s) + " is not a status byte (0x80 or more)");
    std::size_t length = 1;
    MessageKind kind = MessageKind::Clock;
    switch (s >> 4) {
        case 0x8: kind = MessageKind::NoteOff; length = 3; break;
        case 0x9: kind = MessageKind::NoteOn; length = 3; break;
        case 0xA: kind = MessageKind::Aftertouch; length = 3; break;
        case 0xB: kind = MessageKind::ControlChange; length = 3; break;
        case 0xC: kind = MessageKind::ProgramChange; length = 2; break;
        case 0xD: kind = MessageKind::ChannelPressure; length = 2; break;
        case 0xE: kind = MessageKind::PitchBend; length = 3; break;
        default:
            if (s == 0xF8) kind = MessageKind::Clock;
            else if (s == 0xFA) kind = MessageKind::Start;
            else if (s == 0xFB) kind = MessageKind::Continue;
            else if (s == 0xFC) kind = MessageKind::Stop;
            else throw ValueError("status byte " + hex_byte(s) + " is not a message this system knows");
    }
    if (size != length) {
        throw ValueError("status byte " + hex_byte(s) + " takes " + std::to_string(length) + " byte" +
                         (length == 1 ? "" : "s") + ", got " + std::to_string(size));
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (data[i] > 0x7F) {
            throw ValueError("data byte " + std::to_string(i) + " is " + hex_byte(data[i]) + " (must be below 0x80)");
        }
    }
    Message m;
    m.kind = kind;
    if (s < 0xF0) m.channel = static_cast<std::uint8_t>(s & 0x0F);
    if (kind == MessageKind::PitchBend) {
        m.bend = static_cast<std::uint16_t>(data[1] | (data[2] << 7));
    } else {
        if (length > 1) m.data1 = data[1];
        if (length > 2) m.data2 = data[2];
    }
    return m;
}

}  // namespace tamlor::midi
