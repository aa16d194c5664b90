// 32-bit float samples to 16-bit PCM, the one conversion used for WAV files
// and for playback. A sample is scaled by 32768, clipped to the 16-bit range
// and rounded to the nearest integer, ties to even: -1.0 gives -32768, +1.0
// and anything above give 32767, NaN gives 0 (silence). Reading back divides
// by 32768, so a 16-bit value survives a trip through float and back.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tamlor::audio {

inline std::int16_t to_pcm16(float x) {
    float y = x * 32768.0f;  // exact: a power of two
    y = (y == y) ? y : 0.0f;
    y = y < -32768.0f ? -32768.0f : y;
    y = y > 32767.0f ? 32767.0f : y;
    // Adding and taking away 1.5 x 2^23 leaves y rounded to an integer in the
    // default rounding mode (nearest, ties to even); exact for |y| <= 2^22,
    // and free of library calls, so the loop below vectorizes.
    y = (y + 12582912.0f) - 12582912.0f;
    return static_cast<std::int16_t>(y);
}

inline void to_pcm16(const float* in, std::size_t n, std::int16_t* out) {
    for (std::size_t i = 0; i < n; ++i) out[i] = to_pcm16(in[i]);
}

inline float from_pcm16(std::int16_t v) { return static_cast<float>(v) / 32768.0f; }

}  // namespace tamlor::audio
