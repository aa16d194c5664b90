#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "generators/oscillator.hpp"
#include "generators/sine.hpp"

using namespace tamlor::generators;

namespace {

TEST(Generators, FloorMatchesTheLibrary) {
    std::mt19937_64 rng(7);
    const double specials[] = {0.0, -0.0, 0.5, -0.5, 1.0, -1.0, 0.9999999999999999, -1e-300, 4503599627370495.5,
                               -4503599627370495.5, 2251799813685247.5, -2251799813685248.5, 1e300, -1e300,
                               std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    auto same = [](double x) {
        const double a = std::floor(x), b = floor_of(x);
        return std::memcmp(&a, &b, sizeof a) == 0;
    };
    for (double x : specials) EXPECT_TRUE(same(x)) << x;
    EXPECT_TRUE(std::isnan(floor_of(std::nan(""))));
    for (int i = 0; i < 1000000; ++i) {
        // Random bit patterns, and values spread over every magnitude up to 2^60.
        std::uint64_t bits = rng();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (i % 2) x = std::ldexp(static_cast<double>(static_cast<std::int64_t>(bits)), -static_cast<int>(rng() % 64) - 3);
        if (!std::isnan(x)) {
            ASSERT_TRUE(same(x)) << x;
        }
    }
}

// The cursor's phase step against x - floor(x) done the long way, for
// increments that wrap every step, rarely, never, backwards and not at all.
TEST(Generators, PhaseStepsMatchTheFloorDefinition) {
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double increments[] = {0.0, -0.0, 1e-300, 440.0 / 44100.0, 0.5, 0.9999999999999999, 1.0, 1.5, 7.25,
                                 -0.01, -3.5, 1e17, std::numeric_limits<double>::infinity()};
    for (double inc : increments) {
        for (int start = 0; start < 50; ++start) {
            SawOscillator saw(inc, 1.0, 1);  // frequency / 1 Hz = inc
            auto c = saw.cursor();
            double p = 0.0;
            for (int k = 0; k < 2000; ++k) {
                c.next();
                const double x = p + inc;
                p = x - std::floor(x);
                if (std::isnan(p)) {
                    ASSERT_TRUE(std::isnan(c.phase()));
                    break;
                }
                ASSERT_EQ(std::bit_cast<std::uint64_t>(c.phase()), std::bit_cast<std::uint64_t>(p)) << inc << " " << k;
            }
        }
    }
    // Random increments in -2..2, and the largest phases below one.
    for (int i = 0; i < 200; ++i) {
        const double inc = (unit(rng) - 0.5) * 4.0;
        SawOscillator saw(inc, 1.0, 1);
        auto c = saw.cursor();
        double p = 0.0;
        for (int k = 0; k < 5000; ++k) {
            c.next();
            const double x = p + inc;
            p = x - std::floor(x);
            ASSERT_EQ(std::bit_cast<std::uint64_t>(c.phase()), std::bit_cast<std::uint64_t>(p)) << inc << " " << k;
        }
    }
}

TEST(Generators, CursorCommitsOnlyWhenAsked) {
    SawOscillator saw;
    auto c = saw.cursor();
    c.next();
    c.next();
    EXPECT_EQ(saw.phase(), 0.0);
    saw.commit(c);
    EXPECT_EQ(saw.phase(), c.phase());
    NoiseSource n(1.0, 0);
    auto nc = n.cursor();
    EXPECT_EQ(nc.next(), -1.0f);  // state 1, r 0
    EXPECT_EQ(n.state(), 0u);
    n.commit(nc);
    EXPECT_EQ(n.state(), 1u);
}

// Distance in units of the last place between two finite doubles.
std::uint64_t ulps(double a, double b) {
    auto key = [](double v) {
        const auto bits = std::bit_cast<std::int64_t>(v);
        return bits < 0 ? std::numeric_limits<std::int64_t>::min() - bits : bits;
    };
    const std::int64_t ka = key(a), kb = key(b);
    return ka > kb ? static_cast<std::uint64_t>(ka - kb) : static_cast<std::uint64_t>(kb - ka);
}

TEST(Generators, SineWithinOneUlpOfTheLibrary) {
#if !defined(__GLIBC__)
    GTEST_SKIP() << "the reference is the GNU C library's sin; this platform's sin strays further than one ulp "
                    "(the same bits as on Linux are checked by the scenario comparison instead)";
#endif
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto check = [](double p) {
        const double x = (p + p) * std::numbers::pi;
        const double ours = sin_of_angle(x), lib = std::sin(x);
        ASSERT_LE(ulps(ours, lib), 1u) << p;
        ASSERT_EQ(static_cast<float>(ours), static_cast<float>(lib)) << p;
    };
    for (int i = 0; i < 2000000; ++i) check(unit(rng));
    // Phases at and next to the quarter cycles, where the reduction cancels.
    for (int q = 0; q <= 4; ++q) {
        double p = 0.25 * q;
        for (int k = 0; k < 1000; ++k) {
            check(p);
            p = std::nextafter(p, 0.0);
        }
    }
    for (int k = 1; k < 1000; ++k) check(std::ldexp(unit(rng), -k % 1000));
    EXPECT_TRUE(std::isnan(sin_of_angle(std::nan(""))));
    EXPECT_EQ(sin_of_angle(-1.0), std::sin(-1.0));
}

// The sine against the long double one rounded to double (a reference with
// 11 more bits), over random and edge angles: at most one unit in the last
// place away. The wide (AVX2) road gives the same bits as the portable one.
TEST(Generators, SineWithinOneUlpOfTheCorrectlyRoundedValueOnBothRoads) {
    std::mt19937_64 rng(23);
    std::uniform_real_distribution<double> angle(0.0, 2.0 * std::numbers::pi);
    std::vector<double> xs;
    for (int i = 0; i < 1 << 20; ++i) xs.push_back(angle(rng));
    for (int q = 0; q <= 4; ++q) {  // the doubles around each multiple of pi/2
        double x = q * (std::numbers::pi / 2.0);
        for (int k = 0; k < 64; ++k) x = std::nextafter(x, 0.0);
        for (int k = 0; k < 128; ++k, x = std::nextafter(x, 10.0))
            if (x >= 0.0) xs.push_back(x);
    }
    for (int k = 1; k < 1070; ++k) xs.push_back(std::ldexp(1.0, -k));
    xs.push_back(0.0);
    xs.push_back(7.0);
    // The reference needs a long double sine accurate to its own last place,
    // which the GNU C library has; other C runtimes (MinGW's under Wine) stray
    // further, so there only the two roads' agreement is checked.
#if defined(__GLIBC__)
    constexpr bool accurate_reference = true;
#else
    constexpr bool accurate_reference = false;
#endif
    for (double x : xs) {
        if (accurate_reference) {
            const double ref = static_cast<double>(std::sin(static_cast<long double>(x)));
            ASSERT_LE(ulps(sin_kernel(x), ref), 1u) << x;
        }
        ASSERT_EQ(std::bit_cast<std::uint64_t>(sin_kernel(x)), std::bit_cast<std::uint64_t>(sin_of_angle(x))) << x;
    }
    std::vector<float> portable(xs.size()), wide(xs.size());
    scaled_sines_portable(xs.data(), 0.75, portable.data(), xs.size());
    scaled_sines_wide(xs.data(), 0.75, wide.data(), xs.size());
    EXPECT_EQ(0, std::memcmp(portable.data(), wide.data(), portable.size() * sizeof(float)));
}

}  // namespace
