// The 64-bit sine of an angle in 0..2pi, for the sine oscillator's per-sample
// path: the same result as the math library's sin to within one unit in the
// last place, at a fraction of its cost on this range, because the range
// allows a short argument reduction.
//
// The angle is reduced by the nearest multiple n of pi/2 (Cody-Waite, with
// pi/2 split into parts of 33 bits so that n x part is exact; a second and a
// third part are used only when the first leaves too few significant bits),
// giving a head y0 and a tail y1 in -pi/4..pi/4. Minimax polynomials for sin
// and cos on that interval then give the result by the quadrant n mod 4.
// Angles outside the range (and NaN) go to std::sin.
#pragma once

#include <bit>
#include <cmath>
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

inline double sin_of_angle(double x) {
    if (!(x >= 0.0 && x <= 7.0)) return std::sin(x);
    constexpr double two_over_pi = 6.36619772367581382433e-01;
    // pi/2 = pio2_1 + pio2_1t = pio2_1 + pio2_2 + pio2_2t = pio2_1 + pio2_2 + pio2_3 + pio2_3t.
    constexpr double pio2_1 = 1.57079632673412561417e+00;
    constexpr double pio2_1t = 6.07710050650619224932e-11;
    constexpr double pio2_2 = 6.07710050630396597660e-11;
    constexpr double pio2_2t = 2.02226624879595063154e-21;
    constexpr double pio2_3 = 2.02226624871116645580e-21;
    constexpr double pio2_3t = 8.47842766036889956997e-32;

    const int n = static_cast<int>(x * two_over_pi + 0.5);
    const double fn = n;
    double r = x - fn * pio2_1;
    double w = fn * pio2_1t;
    double y0 = r - w;
    const int e = detail::biased_exponent(x);
    if (e - detail::biased_exponent(y0) > 16) {  // heavy cancellation near a multiple of pi/2
        double t = r;
        w = fn * pio2_2;
        r = t - w;
        w = fn * pio2_2t - ((t - r) - w);
        y0 = r - w;
        if (e - detail::biased_exponent(y0) > 49) {
            t = r;
            w = fn * pio2_3;
            r = t - w;
            w = fn * pio2_3t - ((t - r) - w);
            y0 = r - w;
        }
    }
    const double y1 = (r - y0) - w;
    switch (n & 3) {
        case 0: return detail::sin_near_zero(y0, y1);
        case 1: return detail::cos_near_zero(y0, y1);
        case 2: return -detail::sin_near_zero(y0, y1);
        default: return -detail::cos_near_zero(y0, y1);
    }
}

}  // namespace tamlor::generators
