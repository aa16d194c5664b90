// Arithmetic shared by the effects: powers and logarithms of our own (plain
// double arithmetic, so every machine and build gives the same bits, which
// the platform's math library does not promise), decibel conversions,
// denormal flushing and linear parameter glides.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

#include "generators/sine.hpp"

namespace tamlor::fx {

// The last Horner steps of the Taylor series of e^t, from the t^10 term
// down to the constant: `p` holds the sum of the higher terms' coefficients
// so far. Both exponentials below end with these same steps.
inline double exp_series_tail(double p, double t) {
    p = p * t + 1.0 / 3628800.0;
    p = p * t + 1.0 / 362880.0;
    p = p * t + 1.0 / 40320.0;
    p = p * t + 1.0 / 5040.0;
    p = p * t + 1.0 / 720.0;
    p = p * t + 1.0 / 120.0;
    p = p * t + 1.0 / 24.0;
    p = p * t + 1.0 / 6.0;
    p = p * t + 0.5;
    p = p * t + 1.0;
    p = p * t + 1.0;
    return p;
}

// 2^x, relative error below 1e-15 on -1022..1023; 0 below, +inf above.
inline double exp2_det(double x) {
    if (!(x > -1022.0)) return x != x ? x : 0.0;
    if (x >= 1024.0) return HUGE_VAL;
    // x rounded to the nearest whole number (ties to even) by the classic
    // add-and-subtract of 1.5 x 2^52, which needs no library call.
    const double n = (x + 6755399441055744.0) - 6755399441055744.0;
    const double t = (x - n) * std::numbers::ln2;  // |t| <= 0.3466
    // Taylor series of e^t to t^13 (the next term is below 2e-17).
    double p = 1.0 / 6227020800.0;
    p = p * t + 1.0 / 479001600.0;
    p = p * t + 1.0 / 39916800.0;
    p = exp_series_tail(p, t);
    // Times 2^n, through at most two exact powers of two.
    const auto k = static_cast<std::int64_t>(n);
    if (k > 1023) return p * 2.0 * std::bit_cast<double>(static_cast<std::uint64_t>(k - 1 + 1023) << 52);
    if (k < -1021) return p * 0x1p-1021 * std::bit_cast<double>(static_cast<std::uint64_t>(k + 1021 + 1023) << 52);
    return p * std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52);
}

// log2(x) for x > 0 (finite); -inf for 0, NaN for negatives and NaN.
inline double log2_det(double x) {
    if (!(x > 0.0)) return x == 0.0 ? -HUGE_VAL : std::nan("");
    if (x == HUGE_VAL) return x;
    int e = 0;
    if (x < 0x1p-1022) {  // subnormal: scale into the normal range first
        x *= 0x1p54;
        e = -54;
    }
    const auto bits = std::bit_cast<std::uint64_t>(x);
    e += static_cast<int>(bits >> 52) - 1023;
    // x = m * 2^e with m in [1, 2), then moved to [sqrt(1/2), sqrt(2)).
    double m = std::bit_cast<double>((bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL);
    if (m > std::numbers::sqrt2) {
        m *= 0.5;
        ++e;
    }
    // ln m = 2 atanh(s), s = (m - 1) / (m + 1), |s| <= 0.1716.
    const double s = (m - 1.0) / (m + 1.0);
    const double z = s * s;
    double p = 1.0 / 23.0;
    for (double k = 21.0; k >= 1.0; k -= 2.0) p = p * z + 1.0 / k;
    return static_cast<double>(e) + 2.0 * s * p / std::numbers::ln2;
}

// Branch-free log2 and exp2 for level detection, accurate to about 1e-12
// (far below what a gain needs) and straight-line, so that a loop over a
// block runs them side by side; every step is one IEEE operation, so the
// bits are the same on every machine and in every loop.
//
// quick_log2: x a positive finite double that is not subnormal (other
// values give some finite number).
inline double quick_log2(double x) {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    // The exponent field as a double without an integer conversion: placed
    // in the low bits of 2^52, whose value then is 2^52 + field.
    const double e = std::bit_cast<double>(0x4330000000000000ULL | (bits >> 52)) - (4503599627370496.0 + 1023.0);
    const double m = std::bit_cast<double>((bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL);  // 1 .. 2
    // log2 m = 1/2 + 2 atanh(s) / ln 2 with s = (m - sqrt 2) / (m + sqrt 2), |s| <= 0.1716.
    const double s = (m - std::numbers::sqrt2) / (m + std::numbers::sqrt2);
    const double z = s * s;
    const double p = 1.0 + z * (1.0 / 3.0 + z * (1.0 / 5.0 + z * (1.0 / 7.0 + z * (1.0 / 9.0 + z * (1.0 / 11.0)))));
    return (e + 0.5) + s * p * (2.0 * std::numbers::log2e);
}

// quick_exp2: x within -1000 .. 1000.
inline double quick_exp2(double x) {
    constexpr double shifter = 6755399441055744.0;  // 1.5 x 2^52
    const double shifted = x + shifter;
    const double n = shifted - shifter;
    const double t = (x - n) * std::numbers::ln2;  // |t| <= 0.3466
    double p = 1.0 / 39916800.0;
    p = exp_series_tail(p, t);
    // The low bits of `shifted` hold n + 2^51.
    const auto k = static_cast<std::int64_t>(std::bit_cast<std::uint64_t>(shifted) & 0x000fffffffffffffULL) -
                   (std::int64_t{1} << 51);
    return p * std::bit_cast<double>(static_cast<std::uint64_t>(k + 1023) << 52);
}

inline double db_to_gain(double db) { return exp2_det(db * (std::numbers::log2e * std::numbers::ln10 / 20.0)); }
inline double gain_to_db(double gain) { return log2_det(gain) * (20.0 / (std::numbers::log2e * std::numbers::ln10)); }

// e^(-1 / (seconds * rate)): the per-frame coefficient of a one-pole
// smoother whose time constant is `seconds`.
inline double time_coefficient(double seconds, double rate) {
    const double frames = seconds * rate;
    if (!(frames > 0.0)) return 0.0;
    return exp2_det(-std::numbers::log2e / frames);
}

// sin and cos of an angle in 0..pi, for filter coefficients.
inline double sin_det(double w) { return generators::sin_of_angle(w); }
inline double cos_det(double w) { return generators::sin_of_angle(w + std::numbers::pi / 2.0); }

// Values this small are flushed to zero in every feedback path, so state
// never turns subnormal (subnormal arithmetic is many times slower on many
// processors). 1e-20 is 400 dB below full scale.
inline double flush(double x) { return std::fabs(x) < 1e-20 ? 0.0 : x; }
inline float flush(float x) { return std::fabs(x) < 1e-20f ? 0.0f : x; }

// A parameter that moves linearly to a new target over a fixed number of
// frames, one step per frame, so that a change makes no click and the same
// frames give the same values whatever the block size.
struct Glide {
    double value = 0.0;
    double target = 0.0;
    double start = 0.0;
    std::uint32_t length = 0;  // frames of the current glide
    std::uint32_t done = 0;    // frames of it taken so far

    Glide() = default;
    explicit Glide(double v) : value(v), target(v), start(v) {}

    bool moving() const { return done < length; }
    // Whether where it is, where it set out from and where it goes all lie in
    // lo..hi (false for NaN): a restored state is checked this way.
    bool within(double lo, double hi) const {
        return value >= lo && value <= hi && start >= lo && start <= hi && target >= lo && target <= hi;
    }
    // Starts a glide from the current value to `t` over `frames` frames.
    void to(double t, std::uint32_t frames) {
        if (frames == 0 || t == value) {
            jump(t);
            return;
        }
        start = value;
        target = t;
        length = frames;
        done = 0;
    }
    void jump(double t) {
        value = target = start = t;
        length = done = 0;
    }
    // Advances one frame and returns the new value.
    double step() {
        if (done < length) {
            ++done;
            value = done == length ? target : start + (target - start) * (static_cast<double>(done) / length);
        }
        return value;
    }
    template <class A>
    void visit(A& a) {
        a(value);
        a(target);
        a(start);
        a(length);
        a(done);
        if (done > length) a.fail();
    }
};

// Frames in a glide: 5 ms at the sample rate, at least one.
inline std::uint32_t glide_frames(std::uint32_t rate) {
    const auto n = static_cast<std::uint32_t>(rate / 200);
    return n ? n : 1;
}

}  // namespace tamlor::fx
