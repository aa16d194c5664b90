#include "kit/placeholder.hpp"
#include "registry.hpp"

TAMLOR_PLACEHOLDER(midi_channel, "builtins.MidiChannel", "MidiChannel(value)\n--\n\n")
TAMLOR_PLACEHOLDER(note, "builtins.Note", "Note(value)\n--\n\n")
TAMLOR_PLACEHOLDER(velocity, "builtins.Velocity", "Velocity(value)\n--\n\n")
TAMLOR_PLACEHOLDER(midi_message, "builtins.MidiMessage", nullptr)
TAMLOR_PLACEHOLDER(midi_event, "builtins.MidiEvent", "MidiEvent(message, timestamp_us)\n--\n\n")
