#include "kit/placeholder.hpp"
#include "registry.hpp"

TAMLOR_PLACEHOLDER(audio_sample, "builtins.AudioSample", "AudioSample(data, sample_rate=44100, root_note=69)\n--\n\n")
TAMLOR_PLACEHOLDER(envelope, "builtins.Envelope", "Envelope(attack=0.005, decay=0.1, sustain=0.8, release=0.1)\n--\n\n")
TAMLOR_PLACEHOLDER(sample_mapping, "builtins.SampleMapping", "SampleMapping(sample, note_low, note_high, velocity_low, velocity_high)\n--\n\n")
TAMLOR_PLACEHOLDER(sample_map, "builtins.SampleMap", "SampleMap()\n--\n\n")
TAMLOR_PLACEHOLDER(sampler, "builtins.Sampler", "Sampler(sample, sample_rate=44100, max_voices=8)\n--\n\n")
