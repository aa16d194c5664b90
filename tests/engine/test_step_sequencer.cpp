#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "common/errors.hpp"
#include "sequencer/pattern.hpp"
#include "sequencer/step_sequencer.hpp"

using namespace tamlor::sequencer;

namespace {

Pattern all_active(std::uint64_t length) {
    Pattern p(length);
    for (std::uint64_t i = 0; i < length; ++i) p.set_step(i, Step{1, static_cast<std::uint8_t>(40 + i), 100, true});
    return p;
}

TEST(Pattern, IndexRules) {
    Pattern p(2);
    EXPECT_TRUE(p.toggle_step(1));
    EXPECT_FALSE(p.toggle_step(2));
    EXPECT_FALSE(p.set_step(2, Step{}));
    EXPECT_EQ(p.active_count(), 1u);
    try {
        p.get_step(2);
        FAIL();
    } catch (const tamlor::IndexError& e) {
        EXPECT_STREQ(e.what(), "Step index 2 out of range (2)");
    }
    p.clear();
    EXPECT_EQ(p.active_count(), 0u);
    EXPECT_THROW(Pattern(std::numeric_limits<std::uint64_t>::max()), std::length_error);
}

TEST(StepSequencer, Saturation) {
    EXPECT_EQ(saturate_u64(std::nan("")), 0u);
    EXPECT_EQ(saturate_u64(-1.0), 0u);
    EXPECT_EQ(saturate_u64(2.9), 2u);
    EXPECT_EQ(saturate_u64(18446744073709551616.0), UINT64_MAX);
    EXPECT_EQ(saturate_u64(INFINITY), UINT64_MAX);
}

TEST(StepSequencer, GridIndexSnapsRepeatedSums) {
    for (double sd : {1.0 / 3, 1.0 / 6, 1.0 / 12, 0.1, 0.3, 1.0 / 7}) {
        double t = 0.0;
        for (std::uint64_t k = 0; k < 100000; ++k) {
            ASSERT_EQ(grid_index(t, sd), k) << "sd " << sd << " t " << t;
            t += sd;
        }
    }
    // Clearly between grid times, the index floors.
    EXPECT_EQ(grid_index(0.26, 0.25), 1u);
    EXPECT_EQ(grid_index(0.49999, 0.25), 1u);
    EXPECT_EQ(grid_index(1.0, 5e-324), UINT64_MAX);
}

TEST(StepSequencer, WalkDoesNotCommit) {
    StepSequencer s(all_active(4), 3);
    const auto w = s.walk(0.0, 1.0);
    EXPECT_EQ(w.events.size(), 8u);
    EXPECT_EQ(w.events[0].channel, 3);
    EXPECT_EQ(w.current_step, 3u);
    EXPECT_EQ(w.last_step_beat, 0.75);
    EXPECT_EQ(s.current_step(), 0u);
    EXPECT_EQ(s.last_step_beat(), -1.0);
    s.commit(w);
    EXPECT_EQ(s.last_step_beat(), 0.75);
    EXPECT_TRUE(s.process_beat_range(0.0, 1.0).empty());
}

TEST(StepSequencer, RefusesDegenerateDurationsOnlyWhenWalking) {
    StepSequencer s(all_active(4), 0);
    for (double sd : {0.0, -1.0, std::nan(""), double{INFINITY}, -double{INFINITY}}) {
        s.set_step_duration(sd);
        EXPECT_THROW(s.walk(0.0, 1.0), tamlor::ValueError);
        EXPECT_TRUE(s.walk(1.0, 1.0).events.empty());
        EXPECT_TRUE(s.walk(std::nan(""), 1.0).events.empty());
    }
}

TEST(StepSequencer, BudgetsRefuseBeforeWork) {
    StepSequencer s(all_active(4), 0);
    s.set_step_duration(1.0);
    const double most = static_cast<double>(StepSequencer::max_grid_times);
    EXPECT_NO_THROW(s.walk(most - 2.0, most));
    EXPECT_THROW(s.walk(most + 2.0, most + 3.0), tamlor::ValueError);
    const double inside = static_cast<double>(StepSequencer::max_grid_times_in_range);
    EXPECT_EQ(s.walk(0.0, inside).events.size(), 2 * StepSequencer::max_grid_times_in_range);
    EXPECT_THROW(s.walk(0.0, inside + 2.0), tamlor::ValueError);
}

TEST(StepSequencer, StalledGridEnds) {
    StepSequencer s(all_active(1), 0);
    s.set_step_duration(std::ldexp(1.0, 45) - 3 * std::ldexp(1.0, -8));
    s.process_beat_range(0.0, std::ldexp(1.0, 45));
    s.set_step_duration(0.6 * std::ldexp(1.0, -8));
    const auto events = s.process_beat_range(0.0, std::ldexp(1.0, 45) + 1.0);
    EXPECT_EQ(events.size(), 6u);
    EXPECT_EQ(s.last_step_beat(), std::ldexp(1.0, 45));
    EXPECT_TRUE(s.process_beat_range(0.0, std::ldexp(1.0, 46)).empty());
}

TEST(StepSequencer, SetPatternKeepsProgress) {
    StepSequencer s(all_active(4), 0);
    s.process_beat_range(0.0, 0.5);
    s.set_pattern(Pattern(4));
    EXPECT_EQ(s.current_step(), 1u);
    EXPECT_TRUE(s.process_beat_range(0.5, 1.0).empty());
    EXPECT_EQ(s.current_step(), 3u);
}

}  // namespace
