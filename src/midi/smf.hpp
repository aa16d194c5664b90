// Standard MIDI Files read into parts: the notes of each (track, channel,
// program) with their beats, the tempo changes, and what a part needs to
// sound as written (name, program, initial volume and pan).
//
// Reading rules:
// - Formats 0 and 1, with the time division in ticks per quarter note (a
//   beat). Format 2 and SMPTE time division are refused. The header chunk
//   comes first; track chunks and unknown chunks may follow in any order
//   (unknown ones are skipped). Running status is honoured; meta events
//   other than tempo, track name and end of track, and SysEx, are skipped.
// - A tick t is beat t / ticks_per_beat (the nearest double). A tempo event
//   of u microseconds per quarter note is a tempo of 60000000 / u bpm.
// - A note-on with velocity above 0 starts a note; a note-off, or a note-on
//   with velocity 0, ends the oldest sounding note of that channel and
//   pitch in that track. While the channel's sustain pedal (controller 64,
//   value 64 or more) is down in that track, note-offs are held and the
//   notes end when it comes up. Notes still sounding when their track ends
//   end there.
// - One part per (track, channel) that has notes, in track then channel
//   order; a program change after a channel's first note starts a new part
//   for the notes that follow (one part per program: when a program comes
//   back, its notes go back to its part). A part's program is the channel's last program
//   change at or before its first note (0 if none), its volume and pan the
//   last controller 7 and 10 values at or before it (-1 when there are none).
//   Later controller moves, pitch bend and aftertouch are not kept.
//
// Every read goes through one bounded view of the bytes; anything malformed
// throws SmfError with the reason and the offset of the offending byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace tamlor::midi {

struct SmfError : std::runtime_error {
    SmfError(const std::string& reason, std::size_t offset)
        : std::runtime_error(reason), reason(reason), offset(offset) {}
    std::string reason;
    std::size_t offset;
};

struct SmfNote {
    double start;     // beats
    double duration;  // beats: end beat - start beat
    std::uint8_t note;
    std::uint8_t velocity;
};

struct SmfPart {
    std::size_t track;      // index among the file's track chunks
    std::uint8_t channel;
    std::uint8_t program;
    int volume = -1;        // initial controller 7 value, -1 when none
    int pan = -1;           // initial controller 10 value, -1 when none
    std::string name;       // the track's name event ("" when none)
    bool split_channels = false;  // the track has notes on more than one channel
    bool split_programs = false;  // the channel's notes are in more than one part
    std::vector<SmfNote> notes;   // in the order of their note-ons
};

struct SmfTempo {
    double beat;
    double bpm;
};

struct Smf {
    std::uint16_t format = 0;
    std::uint16_t ticks_per_beat = 0;
    std::size_t tracks = 0;       // track chunks read
    std::vector<SmfTempo> tempo;  // in time order; at one tick the later event wins
    std::vector<SmfPart> parts;
};

// Beats beyond this are refused (no piece needs them).
inline constexpr double smf_max_beat = 1e9;
// Tempo events faster than this many microseconds per quarter (10,000 bpm) are refused.
inline constexpr std::uint32_t smf_min_tempo_us = 6000;

Smf read_smf(const unsigned char* data, std::size_t size);

// A format 1 file of ticks_per_beat resolution from a tempo map and parts.
struct SmfOutTrack {
    std::string name;
    std::uint8_t channel;
    int program = -1;  // -1: no program change written
    std::vector<SmfNote> notes;
};
std::vector<unsigned char> write_smf(const std::vector<SmfTempo>& tempo,
                                     const std::vector<SmfOutTrack>& tracks, std::uint16_t ticks_per_beat);

}  // namespace tamlor::midi
