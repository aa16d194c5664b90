#include "kit/placeholder.hpp"
#include "registry.hpp"

TAMLOR_PLACEHOLDER(audio_format, "builtins.AudioFormat", "AudioFormat(sample_rate=44100, channels=2)\n--\n\n")
TAMLOR_PLACEHOLDER(audio_buffer, "builtins.AudioBuffer", "AudioBuffer(frames, sample_rate=44100, channels=1)\n--\n\n")
