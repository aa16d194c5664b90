#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "generators/oscillator.hpp"

using namespace tamlor::generators;

namespace {

template <class G>
std::vector<float> render(G& g, std::size_t n) {
    std::vector<float> out(n);
    g.render(out.data(), n);
    return out;
}

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

TEST(Generators, QuarterCycle) {
    SquareOscillator sq(11025.0);
    SawOscillator saw(11025.0);
    SineOscillator sine(11025.0);
    EXPECT_EQ(render(sq, 8), (std::vector<float>{1, 1, -1, -1, 1, 1, -1, -1}));
    EXPECT_EQ(render(saw, 4), (std::vector<float>{-1, -0.5, 0, 0.5}));
    const auto s = render(sine, 4);
    EXPECT_EQ(s[0], 0.0f);
    EXPECT_EQ(s[1], 1.0f);
    EXPECT_EQ(s[2], static_cast<float>(std::sin(3.141592653589793)));
    EXPECT_EQ(s[3], -1.0f);
    EXPECT_EQ(sq.phase(), 0.0);
}

TEST(Generators, NegativeFrequencyRunsBackwards) {
    SawOscillator saw(-11025.0);
    EXPECT_EQ(render(saw, 4), (std::vector<float>{-1, 0.5, 0, -0.5}));
}

TEST(Generators, ZeroSampleRate) {
    SineOscillator sine(440.0, 1.0, 0);
    SquareOscillator sq(440.0, 1.0, 0);
    const auto s = render(sine, 2);
    EXPECT_EQ(s[0], 0.0f);
    EXPECT_TRUE(std::isnan(s[1]));
    EXPECT_TRUE(std::isnan(sine.phase()));
    EXPECT_EQ(render(sq, 3), (std::vector<float>{1, -1, -1}));
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

TEST(Generators, NoiseSequence) {
    NoiseSource n;  // seed 42
    const std::uint32_t rs[] = {1052313527u, 1006665568u, 1203072297u, 53530574u};
    for (std::uint32_t r : rs) {
        auto c = n.cursor();
        EXPECT_EQ(c.next(), static_cast<float>(static_cast<double>(r) / 2147483647.0 - 1.0));
        n.commit(c);
    }
}

TEST(Generators, SplitRendersEqualOneRender) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 50; ++trial) {
        SineOscillator a(100.0 + trial * 37.3, 0.7, 48000), b = a;
        NoiseSource na(0.5, static_cast<std::uint64_t>(trial)), nb = na;
        std::vector<float> whole = render(a, 1000), nwhole = render(na, 1000), parts, nparts;
        std::size_t left = 1000;
        while (left > 0) {
            const std::size_t n = std::min<std::size_t>(left, rng() % 300);
            auto p = render(b, n);
            auto q = render(nb, n);
            parts.insert(parts.end(), p.begin(), p.end());
            nparts.insert(nparts.end(), q.begin(), q.end());
            left -= n;
        }
        EXPECT_EQ(parts, whole);
        EXPECT_EQ(nparts, nwhole);
    }
}

}  // namespace
