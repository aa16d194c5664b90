#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "generators/oscillator.hpp"

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

}  // namespace
