// The 64-bit sine of an angle in 0..2pi, for the sine oscillator: within one
// unit in the last place of the correctly rounded value, with the same bits
// on every machine (the platform's library promises neither), at a fraction
// of its cost on this range, because the range allows a short argument
// reduction.
//
// The angle is reduced by the nearest multiple n of pi/2 (Cody-Waite, with
// pi/2 split into parts of 33 bits so that n x part is exact), giving a head
// y0 and a tail y1 in -pi/4..pi/4. Minimax polynomials for sin and cos on
// that interval then give the result by the quadrant n mod 4. Angles outside
// the range (and NaN) go to std::sin.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>

namespace tamlor::generators {
namespace detail {

inline int biased_exponent(double x) { return static_cast<int>((std::bit_cast<std::uint64_t>(x) >> 52) & 0x7ff); }

// sin(x + y) for |x| <= pi/4, y a tail below x's last bit.
inline double sin_near_zero(double x, double y) {
    constexpr double S1 = -1.66666666666666324348e-01;
    constexpr double S2 = 8.33333333332248946124e-03;
    constexpr double S3 = -1.98412698298579493134e-04;
    constexpr double S4 = 2.75573137070700676789e-06;
    constexpr double S5 = -2.50507602534068634195e-08;
    constexpr double S6 = 1.58969099521155010221e-10;
    const double z = x * x;
    const double w = z * z;
    const double r = S2 + z * (S3 + z * S4) + z * w * (S5 + z * S6);
    const double v = z * x;
    return x - ((z * (0.5 * y - v * r) - y) - v * S1);
}

// cos(x + y) for |x| <= pi/4.
inline double cos_near_zero(double x, double y) {
    constexpr double C1 = 4.16666666666666019037e-02;
    constexpr double C2 = -1.38888888888741095749e-03;
    constexpr double C3 = 2.48015872894767294178e-05;
    constexpr double C4 = -2.75573143513906633035e-07;
    constexpr double C5 = 2.08757232129817482790e-09;
    constexpr double C6 = -1.13596475577881948265e-11;
    const double z = x * x;
    const double w = z * z;
    const double r = z * (C1 + z * (C2 + z * C3)) + w * w * (C4 + z * (C5 + z * C6));
    const double hz = 0.5 * z;
    const double one_minus_hz = 1.0 - hz;
    return one_minus_hz + (((1.0 - one_minus_hz) - hz) + (z * r - x * y));
}

}  // namespace detail

// a - b = hi + lo exactly, with hi the rounded difference (two-sum: valid
// whatever the magnitudes).
inline void exact_difference(double a, double b, double& hi, double& lo) {
    hi = a - b;
    const double bb = a - hi;
    lo = (a - (hi + bb)) + (bb - b);
}

// sin(x) for x in 0..7 with no branch (sin_kernel). The reduction subtracts the nearest
// multiple n of pi/2 in three parts of 33 bits (each product exact), keeping
// the rounding error of every subtraction, so the reduced angle is right to
// far below its last bit even next to a multiple of pi/2; then the quadrant
// picks sin or cos and the sign through bit masks. Straight-line code, so a
// loop over many angles runs them side by side (SIMD where the compiler
// can); every step is one IEEE operation, so the bits are the same on every
// machine and build.
struct Reduced {
    double y0, y1;    // the reduced angle, head and tail, in -pi/4..pi/4
    std::uint64_t n;  // the quadrant in its two low bits
};

inline Reduced reduce_angle(double x) {
    constexpr double two_over_pi = 6.36619772367581382433e-01;
    // pi/2 = pio2_1 + pio2_2 + pio2_3 + pio2_3t.
    constexpr double pio2_1 = 1.57079632673412561417e+00;
    constexpr double pio2_2 = 6.07710050630396597660e-11;
    constexpr double pio2_3 = 2.02226624871116645580e-21;
    constexpr double pio2_3t = 8.47842766036889956997e-32;
    constexpr double shifter = 6755399441055744.0;  // 1.5 x 2^52: adding it rounds to a whole number

    const double shifted = x * two_over_pi + shifter;
    const double fn = shifted - shifter;
    const double r1 = x - fn * pio2_1;  // exact
    double r2, e2, r3, e3;
    exact_difference(r1, fn * pio2_2, r2, e2);
    exact_difference(r2, fn * pio2_3, r3, e3);
    const double w = fn * pio2_3t - e3 - e2;
    const double y0 = r3 - w;
    return {y0, (r3 - y0) - w, std::bit_cast<std::uint64_t>(shifted)};
}

inline double sin_kernel(double x) {
    const Reduced r = reduce_angle(x);
    const double s = detail::sin_near_zero(r.y0, r.y1);
    const double c = detail::cos_near_zero(r.y0, r.y1);
    const std::uint64_t use_cos = 0 - (r.n & 1);  // all ones in quadrants 1 and 3
    const std::uint64_t bits =
        (std::bit_cast<std::uint64_t>(s) & ~use_cos) | (std::bit_cast<std::uint64_t>(c) & use_cos);
    return std::bit_cast<double>(bits ^ ((r.n & 2) << 62));  // negative in quadrants 2 and 3
}

// One angle at a time: the same bits as sin_kernel, computing only the
// polynomial its quadrant needs.
inline double sin_of_angle(double x) {
    if (!(x >= 0.0 && x <= 7.0)) return std::sin(x);
    const Reduced r = reduce_angle(x);
    switch (r.n & 3) {
        case 0: return detail::sin_near_zero(r.y0, r.y1);
        case 1: return detail::cos_near_zero(r.y0, r.y1);
        case 2: return -detail::sin_near_zero(r.y0, r.y1);
        default: return -detail::cos_near_zero(r.y0, r.y1);
    }
}

// out[i] = float(sin_of_angle(x[i]) * a) for i < n, the kernel running over
// the whole block at once when every angle is in its range. On processors
// with AVX2 the same operations run four at a time instead of two: the same
// IEEE operations in the same order (no fused multiply-add), so the same
// bits, which the engine tests check.
void scaled_sines(const double* x, double a, float* out, std::size_t n);
// The two roads, for tests: the portable one, and the wide one (which falls
// back to the portable one where the processor lacks AVX2).
void scaled_sines_portable(const double* x, double a, float* out, std::size_t n);
void scaled_sines_wide(const double* x, double a, float* out, std::size_t n);
bool wide_sines_available();

}  // namespace tamlor::generators
