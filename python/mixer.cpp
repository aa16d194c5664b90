#include "kit/placeholder.hpp"
#include "registry.hpp"

TAMLOR_PLACEHOLDER(mixer_channel, "builtins.MixerChannel", "MixerChannel(name=\"Channel\")\n--\n\n")
TAMLOR_PLACEHOLDER(mixer, "builtins.Mixer", "Mixer()\n--\n\n")
