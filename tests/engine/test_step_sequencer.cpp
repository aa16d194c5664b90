#include <gtest/gtest.h>

#include <cmath>

#include "common/errors.hpp"
#include "sequencer/pattern.hpp"
#include "sequencer/step_sequencer.hpp"

using namespace tamlor::sequencer;

namespace {

StepSequencer all_active(std::uint64_t length, double sd) {
    Pattern p(length);
    for (std::uint64_t i = 0; i < length; ++i) p.set_step(i, Step{1, 60, 100, true});
    StepSequencer s(std::move(p), 3);
    s.set_step_duration(sd);
    return s;
}

TEST(StepSequencer, GridIndexSnapsRepeatedSums) {
    for (double sd : {1.0 / 3, 1.0 / 6, 1.0 / 12, 0.1, 0.3, 1.0 / 7}) {
        double t = 0.0;
        for (std::uint64_t k = 0; k < 100000; ++k) {
            ASSERT_EQ(grid_index(t, sd), k) << "sd " << sd << " t " << t;
            t += sd;
        }
    }
    EXPECT_EQ(grid_index(0.49999, 0.25), 1u);  // clearly between grid times: floor
    // Two thirds of a step past index 733007751851: still floor, however large.
    EXPECT_EQ(grid_index(std::ldexp(1.0, 40) + 1.5, 1.5), 733007751851u);
    EXPECT_EQ(grid_index(1.0, 5e-324), UINT64_MAX);
}

TEST(StepSequencer, WalkLeavesStateToCommit) {
    StepSequencer s = all_active(4, 0.25);
    const auto w = s.walk(0.0, 1.0);
    ASSERT_EQ(w.events.size(), 8u);
    EXPECT_EQ(w.events[0].channel, 3);
    EXPECT_EQ(w.last_step_beat, 0.75);
    EXPECT_EQ(s.last_step_beat(), -1.0);
    s.commit(w);
    EXPECT_EQ(s.current_step(), 3u);
    EXPECT_TRUE(s.process_beat_range(0.0, 1.0).empty());
}

TEST(StepSequencer, BudgetsRefuseBeforeWork) {
    StepSequencer s = all_active(4, 1.0);
    const double most = static_cast<double>(StepSequencer::max_grid_times);
    EXPECT_EQ(s.walk(most - 2.0, most).events.size(), 4u);
    EXPECT_THROW(s.walk(most + 2.0, most + 3.0), tamlor::ValueError);
    const double inside = static_cast<double>(StepSequencer::max_grid_times_in_range);
    EXPECT_EQ(s.walk(0.0, inside).events.size(), 2 * StepSequencer::max_grid_times_in_range);
    EXPECT_THROW(s.walk(0.0, inside + 2.0), tamlor::ValueError);
}

TEST(StepSequencer, StalledGridEnds) {
    StepSequencer s = all_active(1, std::ldexp(1.0, 45) - 3 * std::ldexp(1.0, -8));
    s.process_beat_range(0.0, std::ldexp(1.0, 45));
    s.set_step_duration(0.6 * std::ldexp(1.0, -8));
    EXPECT_EQ(s.process_beat_range(0.0, std::ldexp(1.0, 45) + 1.0).size(), 6u);
    EXPECT_EQ(s.last_step_beat(), std::ldexp(1.0, 45));
    EXPECT_TRUE(s.process_beat_range(0.0, std::ldexp(1.0, 46)).empty());
}

}  // namespace
