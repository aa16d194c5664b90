// The effects engine alone: the arithmetic it is built on, exact sample
// values at tiny sample rates, and the saved state's checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "common/errors.hpp"
#include "fx/archive.hpp"
#include "fx/delay.hpp"
#include "fx/dynamics.hpp"
#include "fx/filter.hpp"
#include "fx/math.hpp"
#include "fx/reverb.hpp"

namespace tamlor::fx {
namespace {

TEST(FxMath, PowersAndLogarithmsAreCloseToTheLongDoubleOnes) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> exponent(-1000.0, 1000.0);
    for (int i = 0; i < 100000; ++i) {
        const double x = exponent(rng);
        const long double want = std::exp2l(static_cast<long double>(x));
        EXPECT_LE(std::fabs(static_cast<long double>(exp2_det(x)) / want - 1.0L), 4e-16L) << x;
        const double y = std::exp2(exponent(rng) / 4.0);
        EXPECT_LE(std::fabs(log2_det(y) - static_cast<double>(std::log2l(static_cast<long double>(y)))),
                  4e-16 * std::max(1.0, std::fabs(std::log2(y))))
            << y;
    }
    EXPECT_EQ(exp2_det(0.0), 1.0);
    EXPECT_EQ(exp2_det(10.0), 1024.0);
    EXPECT_EQ(exp2_det(-1100.0), 0.0);
    EXPECT_EQ(exp2_det(2000.0), HUGE_VAL);
    EXPECT_EQ(log2_det(1.0), 0.0);
    EXPECT_EQ(log2_det(0.25), -2.0);
    EXPECT_EQ(log2_det(std::numeric_limits<double>::denorm_min()), -1074.0);
    EXPECT_EQ(log2_det(0.0), -HUGE_VAL);
    EXPECT_TRUE(std::isnan(log2_det(-1.0)));
}

TEST(FxMath, QuickPowersAndLogarithmsAreCloseEnoughForGains) {
    std::mt19937_64 rng(9);
    std::uniform_real_distribution<double> exponent(-999.0, 999.0);
    for (int i = 0; i < 100000; ++i) {
        const double x = exponent(rng);
        EXPECT_LE(std::fabs(quick_exp2(x) / exp2_det(x) - 1.0), 1e-12) << x;
        const double y = exp2_det(x);
        EXPECT_LE(std::fabs(quick_log2(y) - log2_det(y)), 1e-10) << y;  // 6e-10 dB
    }
    EXPECT_NEAR(quick_log2(1.0), 0.0, 1e-10);
    EXPECT_NEAR(quick_exp2(0.0), 1.0, 1e-15);
}

TEST(FxMath, GlideMovesInEqualStepsAndLandsExactly) {
    Glide g(1.0);
    g.to(2.0, 4);
    EXPECT_EQ(g.step(), 1.25);
    EXPECT_EQ(g.step(), 1.5);
    EXPECT_EQ(g.step(), 1.75);
    EXPECT_EQ(g.step(), 2.0);
    EXPECT_FALSE(g.moving());
    EXPECT_EQ(g.step(), 2.0);
}

TEST(FxMath, GlideIsWithinBoundsOnlyWhenAllThreePointsAre) {
    Glide g(2.0);
    g.to(6.0, 4);
    g.step();
    EXPECT_TRUE(g.within(2.0, 6.0));
    EXPECT_FALSE(g.within(2.5, 6.0));  // where it set out from lies below
    EXPECT_FALSE(g.within(2.0, 5.5));  // where it goes lies above
    g.value = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(g.within(-1e300, 1e300));
}

TEST(FxDelay, WholeFrameTimeAtFourHertz) {
    // Two frames at 4 Hz: half a second.
    Delay d(0.5, 0.5, 1.0, 4, 1, 1.0, false);
    std::vector<float> x = {1, 0, 0, 0, 0, 0, 0};
    d.process(x.data(), x.size());
    EXPECT_EQ(x, (std::vector<float>{0, 0, 1, 0, 0.5f, 0, 0.25f}));
}

TEST(FxFilter, AllpassKeepsEnergyAndLowpassPassesDc) {
    Filter lp(FilterKind::lowpass, 100.0, 0.707, 0.0, 8000, 1);
    std::vector<float> ones(8000, 1.0f);
    lp.process(ones.data(), ones.size());
    EXPECT_NEAR(ones.back(), 1.0f, 1e-6f);
    Filter ap(FilterKind::allpass, 1000.0, 2.0, 0.0, 8000, 1);
    std::vector<float> h(8000, 0.0f);
    h[0] = 1.0f;
    ap.process(h.data(), h.size());
    double energy = 0.0;
    for (float v : h) energy += static_cast<double>(v) * v;
    EXPECT_NEAR(energy, 1.0, 1e-6);
}

TEST(FxLimiter, HoldsTheCeilingWithNoLookahead) {
    Limiter l(-6.0, 0.01, 0.0, 1000, 1);
    std::vector<float> x = {0.1f, 2.0f, -3.0f, 0.4f};
    l.process(x.data(), x.size());
    const float ceiling = static_cast<float>(db_to_gain(-6.0));
    EXPECT_EQ(x[0], 0.1f);
    EXPECT_LE(std::fabs(x[1]), ceiling);
    EXPECT_LE(std::fabs(x[2]), ceiling);
    EXPECT_GT(std::fabs(x[2]), ceiling * 0.999f);
}

TEST(FxCompressor, CurveIsContinuousAcrossTheKnee) {
    for (double x = -30.0; x <= -6.0; x += 0.01) {
        const double a = compressor_curve(x, -18.0, 4.0, 6.0);
        const double b = compressor_curve(x + 0.01, -18.0, 4.0, 6.0);
        EXPECT_LT(std::fabs(b - a), 0.0101);
    }
    EXPECT_EQ(compressor_curve(-30.0, -18.0, 4.0, 6.0), -30.0);
    EXPECT_EQ(compressor_curve(-2.0, -18.0, 4.0, 6.0), -14.0);
}

TEST(FxArchive, StateRoundTripsAndDamagedBytesAreRefusedWithNothingChanged) {
    Reverb r(1.0, 0.01, 0.5, 1.0, 0.5, 8000);
    std::vector<float> x(2000, 0.0f);
    x[0] = 1.0f;
    r.process(x.data(), 1000);
    const std::string saved = save_state(r);
    Reverb other(1.0, 0.01, 0.5, 1.0, 0.5, 8000);
    load_state(other, saved);
    std::vector<float> a(400, 0.0f), b(400, 0.0f);
    r.process(a.data(), 200);
    other.process(b.data(), 200);
    EXPECT_EQ(a, b);
    std::string bad = save_state(other);
    bad.back() ^= 0x7f;
    bad.resize(bad.size() - 1);
    EXPECT_THROW(load_state(other, bad), ValueError);
    Reverb longer(1.0, 0.01, 0.5, 1.0, 0.5, 9000);
    EXPECT_THROW(load_state(longer, saved), ValueError);
    std::vector<float> c(400, 0.0f);
    other.process(c.data(), 200);
    std::fill(a.begin(), a.end(), 0.0f);
    r.process(a.data(), 200);
    EXPECT_EQ(a, c);
}

}  // namespace
}  // namespace tamlor::fx
