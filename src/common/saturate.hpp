// Conversion of a beat count or time to an unsigned 64-bit integer that
// saturates instead of overflowing.
#pragma once

#include <cstdint>

namespace tamlor {

// x truncated toward zero; NaN, zero and negatives give 0, values at or above
// 2^64 give 2^64 - 1.
inline std::uint64_t saturate_u64(double x) {
    if (!(x > 0.0)) return 0;
    if (x >= 18446744073709551616.0) return UINT64_MAX;
    return static_cast<std::uint64_t>(x);
}

}  // namespace tamlor
