#include "kit/placeholder.hpp"
#include "registry.hpp"

TAMLOR_PLACEHOLDER(audio_output, "builtins.AudioOutput", "AudioOutput(sample_rate=44100, channels=2, buffer_size=512)\n--\n\n")
TAMLOR_PLACEHOLDER(midi_input, "builtins.MidiInput", "MidiInput(client_name=\"tamlor\")\n--\n\n")
