// Equal-tempered pitch: note numbers to frequencies and back, A4 (note 69)
// at 440 Hz.
#pragma once

#include <cstdint>

namespace tamlor::midi {

// 440 * 2^((note - 69) / 12) Hz.
double note_to_hz(std::uint8_t note);

// The nearest note to `hz`: 12 * log2(hz / 440) + 69 rounded half away from
// zero and clamped to 0..127. NaN (from a NaN or negative frequency) gives 0.
std::uint8_t note_from_hz(double hz);

}  // namespace tamlor::midi
