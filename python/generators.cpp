#include "kit/placeholder.hpp"
#include "registry.hpp"

TAMLOR_PLACEHOLDER(sine_oscillator, "builtins.SineOscillator", "SineOscillator(frequency=440.0, amplitude=1.0, sample_rate=44100)\n--\n\n")
TAMLOR_PLACEHOLDER(square_oscillator, "builtins.SquareOscillator", "SquareOscillator(frequency=440.0, amplitude=1.0, sample_rate=44100)\n--\n\n")
TAMLOR_PLACEHOLDER(saw_oscillator, "builtins.SawOscillator", "SawOscillator(frequency=440.0, amplitude=1.0, sample_rate=44100)\n--\n\n")
TAMLOR_PLACEHOLDER(noise_source, "builtins.NoiseSource", "NoiseSource(amplitude=1.0, seed=42)\n--\n\n")
