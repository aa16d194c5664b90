// 32-bit float samples to 16-bit PCM, the one conversion used for WAV files
// and for playback. A sample is scaled by 32768, clipped to the 16-bit range
// and rounded to the nearest integer, ties to even: -1.0 gives -32768, +1.0
// and anything above give 32767, NaN gives 0 (silence). Reading back divides
// by 32768, so a 16-bit value survives a trip through float and back.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tamlor::audio {

inline std::int16_t to_pcm16(float x) {
    float y = x * 32768.0f;  // exact: a power of two
    y = (y == y) ? y : 0.0f;
    y = y < -32768.0f ? -32768.0f : y;
    y = y > 32767.0f ? 32767.0f : y;
    // Adding and taking away 1.5 x 2^23 leaves y rounded to an integer in the
    // default rounding mode (nearest, ties to even); exact for |y| <= 2^22.
    y = (y + 12582912.0f) - 12582912.0f;
    return static_cast<std::int16_t>(y);
}

inline void to_pcm16(const float* in, std::size_t n, std::int16_t* out) {
    std::size_t i = 0;
#if defined(__SSE2__)
    // Eight samples at a time, the same steps: NaN masked to 0, clipped,
    // converted in the default rounding mode and packed. (The compiler does
    // not vectorize the scalar form: its comparisons may trap.)
    const __m128 scale = _mm_set1_ps(32768.0f);
    const __m128 lo = _mm_set1_ps(-32768.0f);
    const __m128 hi = _mm_set1_ps(32767.0f);
    auto four = [&](const float* p) {
        __m128 y = _mm_mul_ps(_mm_loadu_ps(p), scale);
        y = _mm_and_ps(y, _mm_cmpord_ps(y, y));
        return _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(y, lo), hi));
    };
    for (; i + 8 <= n; i += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(four(in + i), four(in + i + 4)));
    }
#endif
    for (; i < n; ++i) out[i] = to_pcm16(in[i]);
}

// 24-bit PCM the same way, in double precision: scaled by 2^23, clipped to
// -8388608..8388607, rounded to nearest with ties to even; NaN gives 0.
inline std::int32_t to_pcm24(float x) {
    double y = static_cast<double>(x) * 8388608.0;  // exact
    y = (y == y) ? y : 0.0;
    y = y < -8388608.0 ? -8388608.0 : y;
    y = y > 8388607.0 ? 8388607.0 : y;
    // 1.5 x 2^52 rounds a double to an integer the same way; exact for |y| <= 2^51.
    y = (y + 6755399441055744.0) - 6755399441055744.0;
    return static_cast<std::int32_t>(y);
}

inline float from_pcm16(std::int16_t v) { return static_cast<float>(v) / 32768.0f; }

}  // namespace tamlor::audio
