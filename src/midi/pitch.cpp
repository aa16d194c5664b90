#include "midi/pitch.hpp"

#include <cmath>

namespace tamlor::midi {

double note_to_hz(std::uint8_t note) {
    return 440.0 * std::exp2((static_cast<double>(note) - 69.0) / 12.0);
}

std::uint8_t note_from_hz(double hz) {
    const double x = std::round(12.0 * std::log2(hz / 440.0) + 69.0);
    if (!(x > 0.0)) return 0;  // NaN, zero, negatives and -inf
    if (x >= 127.0) return 127;
    return static_cast<std::uint8_t>(x);
}

}  // namespace tamlor::midi
