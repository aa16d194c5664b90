#include <gtest/gtest.h>

#include <cmath>

#include "sequencer/event_sequence.hpp"

using namespace tamlor::sequencer;

namespace {

TEST(EventSequence, InsertionPlace) {
    EventSequence s;
    EXPECT_EQ(s.insertion_place(1.0), 0u);
    for (double p : {1.0, 2.0, 2.0, 3.0}) s.add_event(NoteEvent{p, 0.0, 60, 0});
    EXPECT_EQ(s.insertion_place(0.5), 0u);
    EXPECT_EQ(s.insertion_place(1.0), 1u);
    EXPECT_EQ(s.insertion_place(2.0), 3u);
    EXPECT_EQ(s.insertion_place(9.0), 4u);
    EXPECT_EQ(s.insertion_place(std::nan("")), 0u);
}

TEST(EventSequence, DurationIsNeverNegativeOrNaN) {
    EventSequence s;
    s.add_event(NoteEvent{-4.0, 1.0, 1, 0});
    s.add_event(NoteEvent{INFINITY, -INFINITY, 1, 0});
    s.add_event(NoteEvent{1.0, std::nan(""), 1, 0});
    EXPECT_EQ(s.duration(), 0.0);
    EXPECT_FALSE(std::signbit(s.duration()));
}

}  // namespace
